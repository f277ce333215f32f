// The "Flüge" list of the chase panel: every flight the monitor tells apart, with its last
// altitude, phase, data age, distance and the stations that heard it; a click on a flight makes
// the displays, the chase figures and the navigation device follow it, "Automatisch" hands the
// choice back to the monitor.
#pragma once

#include <QWidget>

#include <functional>
#include <optional>

#include "common/geo.h"
#include "monitor/flights/monitor_core.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace monitor {

// A flight phase as the window shows it.
QString PhaseText(FlightPhase phase);

class FlightsList : public QWidget {
    Q_OBJECT
  public:
    using Now = std::function<double()>;  // seconds on the records' receive clock
    FlightsList(MonitorCore& core, Now now, QWidget* parent = nullptr);
    QSize sizeHint() const override;

    // The flights as they are now; `home` is where the distances are measured from.
    void Refresh(const LatLonDeg& home);

  signals:
    // The user chose a flight, or "auto".
    void followChosen();

  private:
    MonitorCore& core_;
    Now now_;
    QTableWidget* table_ = nullptr;
    QLabel* followlb_ = nullptr;
    QPushButton* autobt_ = nullptr;
};

}  // namespace monitor
