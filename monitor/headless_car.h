// The chase car in a headless run: follows gpsd on the event loop, is home for the record and
// estimate lines while it has a fix, and gives the car= line's figures.
#pragma once

#include <QCoreApplication>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "monitor/chase/car.h"
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
    // The car's fix while it is no older than kCarFixMaxAgeMs, and its position as home.
    std::optional<CarFix> Current() const;
    HomeSource Home() const;
    // car=N with the car's figures towards `probe`.
    std::string Line(std::size_t recordNumber, const FlightState& probe) const;

    const CarTracker& Tracker() const { return tracker_; }
    void SetClock(Clock clock) { clock_ = std::move(clock); }

  private:
    std::ostream& err_;
    CarTracker tracker_;
    Clock clock_;
    GpsSource source_;
};

}  // namespace monitor
