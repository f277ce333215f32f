// The station's window: shows what StationCore computed and forwards the operator's clicks.
#pragma once

#include <QGridLayout>
#include <QLabel>
#include <QMainWindow>

#include <memory>

#include "station/options.h"
#include "station/station_core.h"

namespace capture {
class TAudioCapture;
}
namespace common {
class LogMemo;
}

namespace station {

class StationWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit StationWindow(const StationOptions& options, QWidget* parent = nullptr);
    ~StationWindow() override;

    // Handlers, named after the control and its event.
    void FormCreate();
    bool AudioIn1BufferFilled(const char* buffer, int& size);
    void ausgabe(const FrameReport& report);

    StationCore& Core() { return core_; }

private:
    void BuildControls();
    void DrawLevel();
    QLabel* ValueLabel(const char* name, const QString& caption, QWidget* parent,
                       QGridLayout* grid, int row, int col);

    StationOptions options_;
    StationCore core_;
    std::unique_ptr<capture::TAudioCapture> AudioIn1;

    QLabel* ausimg = nullptr;
    QLabel* auslb = nullptr;
    QLabel* Label3 = nullptr;
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
};

}  // namespace station
