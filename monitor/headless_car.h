// The chase car in a headless run: follows gpsd on the event loop, is home for the record and
// estimate lines while it has a fix (and its last position while a lost fix is held), and gives
// the car= line's figures and, while it holds, the carhold= line.
#pragma once

#include <QCoreApplication>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "monitor/chase/car.h"
#include "monitor/chase/car_hold.h"
#include "monitor/chase/flight_analytics.h"
#include "monitor/io/gps_source.h"

namespace monitor {

class HeadlessCar {
  public:
    using Clock = std::function<std::int64_t()>;  // milliseconds, monotonic

    // Connection messages go to `err`.
    HeadlessCar(QCoreApplication& app, std::ostream& err);
    ~HeadlessCar();

    // Starts following gpsd; reports of `ignoredDevice` are not the car's.
    void Start(const GpsServer& server, const std::string& ignoredDevice,
               int retryMs = kGpsRetryMs);
    // How long the last position stays home once the fix is lost (seconds after the last fix).
    void SetHoldS(double s) { holdS_ = s; }
    // The car's fix while it is no older than kCarFixMaxAgeMs.
    std::optional<CarFix> Current() const;
    // Home: the fix's position, or the held one.
    HomeSource Home() const;
    // car=N with the car's figures towards `probe`, and while the hold lasts carhold=N.
    std::string Line(std::size_t recordNumber, const FlightState& probe);

    const CarTracker& Tracker() const { return tracker_; }
    void SetClock(Clock clock) { clock_ = std::move(clock); }

  private:
    CarHomeState HomeNow() const { return CarHomeAt(tracker_, clock_(), holdS_); }
    // Says a lost fix, the hold's end and a fix again, once each.
    void CheckHold();

    std::ostream& err_;
    CarTracker tracker_;
    Clock clock_;
    double holdS_ = kDefaultCarHoldS;
    CarHoldNotice notice_;
    QTimer holdTimer_;
    GpsSource source_;
};

}  // namespace monitor
