// The station's window: shows what StationCore computed and forwards the operator's clicks.
#pragma once

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>

#include <memory>

#include "common/serial/ser_comm.h"
#include "station/options.h"
#include "station/signal/decode_stats.h"
#include "station/startup.h"
#include "station/station_core.h"
#include "station/uplink/uplink.h"

namespace capture {
class TAudioCapture;
}
namespace common {
class LogMemo;
}

namespace station {

class SignalView;

class StationWindow : public QMainWindow, private UplinkView {
    Q_OBJECT
  public:
    explicit StationWindow(const StationOptions& options, QWidget* parent = nullptr);
    ~StationWindow() override;

    // Handlers, named after the control and its event.
    void FormCreate();
    void ausgabe(const FrameReport& report);
    void FormClose();
    // A locator the operator typed must be one the monitors can use; one from tavrin.ini was
    // warned about at start and is still used.
    void conbtClick();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void COMMError();
    void Timer1Timer();

    Uplink& GetUplink() { return uplink_; }
    common::TSerComm& Comm() { return COMM; }

    StationCore& Core() { return core_; }
    const DecodeStats& Stats() const { return stats_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QString CallText() const override { return called->text(); }
    QString LocatorText() const override { return loced->text(); }
    QString ServerText() const override { return servercombo->currentText(); }
    void ShowMissingCallOrLocator(bool visible) override { errlb->setVisible(visible); }
    void SetStatus(const QString& text) override;
    void SetButtonCaption(const QString& caption) override { conbt->setText(caption); }
    void SetFieldsLocked(bool locked) override;
    void LogLine(const QString& text) override;

    void BuildControls();
    void BuildLanguageMenu();
    // "Nachtmodus": the dark palette over the whole window, its pictures with it.
    void ApplyNight(bool on);
    QWidget* BuildUplinkBar(QWidget* parent);
    QWidget* BuildServiceBar(QWidget* parent);
    QWidget* BuildServiceArea(QWidget* parent);
    void ClearPicture(QLabel* picture, QSize size);
    void DrawLevel();
    void Report(const QString& text);
    void ShowStats();
    QLabel* ValueLabel(const char* name, const QString& caption, QWidget* parent, QGridLayout* grid,
                       int row, int col);

    StationStartup startup_;
    StationCore core_;
    Uplink uplink_;
    bool callTyped_ = false, locatorTyped_ = false;
    bool fieldsLocked_ = false;
    QAction* nightAction_ = nullptr;
    common::TSerComm COMM;
    QTimer Timer1;
    std::unique_ptr<capture::TAudioCapture> AudioIn1;

    QLineEdit* called = nullptr;
    QLineEdit* loced = nullptr;
    QComboBox* servercombo = nullptr;
    QPushButton* conbt = nullptr;
    QLabel* errlb = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button5 = nullptr;
    QLineEdit* dataed = nullptr;
    QLabel* Image1 = nullptr;  // the scope snapshot, in the log's place
    QFrame* Panel2 = nullptr;
    QLabel* dgraph = nullptr;  // the stored-value plot
    QLineEdit* Edit1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* ausimg = nullptr;
    QLabel* auslb = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* decoderlb = nullptr;  // the path of the last frame, good frames per path
    QLabel* vbatlb = nullptr;
    QLabel* vitemplb = nullptr;
    QLabel* vatemplb = nullptr;
    QLabel* vhumlb = nullptr;
    QLabel* vpresslb = nullptr;
    QLabel* timelb = nullptr;
    QLabel* breitelb = nullptr;
    QLabel* laengelb = nullptr;
    QLabel* maidenlb = nullptr;
    QLabel* hoehelb = nullptr;
    QLabel* satlb = nullptr;
    common::LogMemo* LogMemo1 = nullptr;

    // Signal view, per-frame signal figures and decode statistics.
    SignalView* signalView = nullptr;  // none with --no-waterfall
    QLabel* signallb = nullptr;
    QLabel* statslb = nullptr;
    DecodeStats stats_;
    QTimer statsTimer_;
};

}  // namespace station
