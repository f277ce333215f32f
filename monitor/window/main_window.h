// The monitor's window: shows what the StreamReader computed from the relayed records, draws the
// course, and forwards the user's clicks to the server link and the serial output.
#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPixmap>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>

#include <functional>
#include <memory>
#include <optional>

#include "common/serial/ser_comm.h"
#include "monitor/chase/car.h"
#include "monitor/chase/car_hold.h"
#include "monitor/core/course_image.h"
#include "monitor/core/stream_reader.h"
#include "monitor/flights/monitor_core.h"
#include "monitor/io/gps_source.h"
#include "monitor/io/live_link.h"
#include "monitor/io/navigation_device.h"
#include "monitor/io/nmea_output.h"
#include "monitor/window/fit_label.h"

namespace common {
class LogMemo;
}
namespace monitor {
class RecordLog;
}
class QAction;
class QCheckBox;
class QMenu;
class QScrollArea;
class QSplitter;
class QTimer;

namespace monitor {

// Operator mode: this file in the working directory shows the raw-record log and the serial
// port controls.
inline constexpr const char* kOperatorMarkerFile = "master_zz9zzz";

// Room a value label asks for, in digits: "-12345.6 km/h"; the station's is wider.
inline constexpr int kValueChars = 13;
inline constexpr int kStationChars = 30;
// The values' point sizes: read at arm's length on a 10-inch tablet; the speed larger still.
inline constexpr int kValuePt = 16;
inline constexpr int kSpeedPt = 28;
inline constexpr int kSpeedChars = 10;
// The column as low as the window gets; it scrolls below that.
inline constexpr int kColumnMinHeight = 200;

class TForm1 : public QMainWindow, private LiveLinkView {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Handlers, named after the control and its event.
    void FormCreate();
    void conbtnClick();
    void tcpclientConnecting() override;
    void tcpclientConnect(const QString& host) override;
    void tcpclientError(const QString& detail, bool retrying) override;
    void tcpclientRead(const QByteArray& bytes) override;
    void mylocedChange(const QString& text);
    void Panel9Click();
    void FormDestroy();
    void Button1Click();
    // --serial: the port in comped, opened now or as soon as it can be.
    void FollowSerial(const QString& port);
    void gpscbClick(bool on);
    void gpsFix(const CarFix& fix);

    StreamReader& Reader() { return core_.Reader(); }
    MonitorCore& Core() { return core_; }
    LiveLink& Link() { return link_; }
    common::TSerComm& SerComm() { return SerComm1; }
    const NavigationDevice& Navigation() const { return navi_; }
    const QPixmap& CourseImage() const { return course_; }

    // Room for further panels (values, lists, settings) under the displays, in the column beside
    // the main area; empty as built.
    QVBoxLayout* PanelArea() { return panelArea_; }
    // The main area, left of the column: empty and hidden as built, shown once it holds a widget.
    QVBoxLayout* MapArea() { return mapArea_; }
    // Between main area and column; the column keeps its width when the window grows.
    QSplitter* Splitter() { return mainsplit_; }
    // "Karte im Vollbild" (F11): the main area alone, full screen, and back.
    QAction* MapOnlyAction() { return mapOnlyAction_; }
    void SetMapOnly(bool on);
    QMenu* ViewMenu() { return viewMenu_; }
    // Called after each record is shown, with what the core made of it.
    std::function<void(const RecordOutcome&)> OnRecordShown;
    // The current landing estimate, for the waypoint sentence after each GPS sentence.
    std::function<std::optional<LatLonDeg>()> LandingPoint;
    // Called when the car's fix changed: a new one, none any more, GPS switched.
    std::function<void()> OnCarChanged;

    // The car's fix while GPS is on and the fix is fresh.
    std::optional<CarFix> CurrentCarFix() const;
    // Home for everything measured: the fresh fix, or the last position while a lost fix is
    // held (kept for SetCarHoldS seconds after the last fix).
    std::optional<CarFix> HomeCarFix() const;
    HomeSource CarHome() const;
    // Seconds since the car's last fix while GPS is on and has none (after having had one).
    std::optional<double> CarNoFixS() const;
    void SetCarHoldS(double s) { carHoldS_ = s; }
    const CarTracker& Car() const { return car_; }
    // The locator the user typed, which LOCATOR shows again when GPS is off or has no fix.
    const QString& TypedLocator() const { return typedLocator_; }
    // Called when the user disconnects from the server.
    std::function<void()> OnUserDisconnect;
    // Keeps every record received in `log`, after reading back what it holds of the last hours:
    // the flights, tracks and estimates come back, the displays start afresh.
    void UseRecordLog(std::unique_ptr<RecordLog> log);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A palette change (the night theme) redraws the course image in its colours.
    void changeEvent(QEvent* event) override;

  private:
    void BuildControls();
    QWidget* BuildConnectionBar(QWidget* parent);
    QWidget* BuildDisplays(QWidget* parent);
    FitLabel* ValueLabel(const char* name, const QString& caption, QWidget* parent,
                         QGridLayout* grid, int row, int col, int chars = kValueChars,
                         int span = 1);
    void ShowRecord(const RecordOutcome& record);
    void ShowMessage(const QString& text);
    void DrawCourseLetters();
    void DrawCourse(double courseDeg);
    void ShowCarLocator();
    void ShowNavigationState();

    MonitorCore core_;
    std::unique_ptr<RecordLog> recordLog_;
    LiveLink link_;
    common::TSerComm SerComm1;
    NmeaOutput output_;
    NavigationDevice navi_;
    CarTracker car_;
    double carHoldS_ = kDefaultCarHoldS;
    CarHoldNotice carHoldNotice_;
    GpsSource gps_;
    QString typedLocator_;
    QTimer* carTimer_ = nullptr;  // a fix grows old without a new report
    QPixmap course_;
    std::optional<double> lastCourseDeg_;
    int courseW_ = kCourseImageSize;
    int courseH_ = kCourseImageSize;

    QLabel* Label1 = nullptr;
    QComboBox* servercombo = nullptr;
    QPushButton* conbtn = nullptr;
    QLabel* msglb = nullptr;
    QLabel* Label13 = nullptr;
    QLineEdit* myloced = nullptr;
    QCheckBox* gpscb = nullptr;
    QLineEdit* gpsed = nullptr;
    QCheckBox* waypointcb = nullptr;
    QLabel* navilb = nullptr;
    QPushButton* Button1 = nullptr;
    QLineEdit* comped = nullptr;
    QLabel* Label2 = nullptr;
    FitLabel* rxstatlb = nullptr;
    FitLabel* utclb = nullptr;
    FitLabel* satlb = nullptr;
    FitLabel* ubatlb = nullptr;
    FitLabel* tbatlb = nullptr;
    FitLabel* tauslb = nullptr;
    FitLabel* plb = nullptr;
    FitLabel* hgpslb = nullptr;
    FitLabel* gvlb = nullptr;
    QFrame* Panel9 = nullptr;
    QLabel* Label6 = nullptr;
    FitLabel* ghlb = nullptr;
    FitLabel* tacholb = nullptr;
    FitLabel* dvllb = nullptr;
    QLabel* kursimg = nullptr;
    common::LogMemo* LogMemo1 = nullptr;
    QVBoxLayout* panelArea_ = nullptr;
    QWidget* connectionBar_ = nullptr;
    QSplitter* mainsplit_ = nullptr;
    QVBoxLayout* mapArea_ = nullptr;
    QScrollArea* column_ = nullptr;
    QAction* mapOnlyAction_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    bool maximizedBeforeMapOnly_ = false;
};

}  // namespace monitor
