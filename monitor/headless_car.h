// The chase car in a headless run: follows gpsd on the event loop, makes the car home for the
// record and estimate lines, and prints a car= line after each record's lines.
#pragma once

#include <QCoreApplication>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "monitor/chase/car.h"
#include "monitor/chase/flight_analytics.h"
#include "monitor/core/stream_reader.h"
#include "monitor/io/gps_source.h"

namespace monitor {

class HeadlessCar {
  public:
    using Hook = std::function<void(const RecordResult&)>;
    using Clock = std::function<std::int64_t()>;  // milliseconds, monotonic

    // `shared` is the analytics of the estimate lines when they are printed (the car's landing
    // figures are theirs), else null and the car keeps analytics of its own with `settings`.
    HeadlessCar(QCoreApplication& app, std::ostream& out, std::ostream& err,
                FlightAnalytics* shared, const AnalyticsSettings& settings);
    ~HeadlessCar();

    // Starts following gpsd; reports of `ignoredDevice` are not the car's.
    void Start(const GpsServer& server, const std::string& ignoredDevice,
               int retryMs = kGpsRetryMs);
    // The car's position while it has a fix no older than kCarFixMaxAgeMs.
    HomeSource Home();
    // A record hook that runs `inner` (when set) and then prints the car line.
    Hook After(Hook inner);

    const CarTracker& Tracker() const { return tracker_; }
    const FlightAnalytics& Analytics() const { return *analytics_; }
    void SetClock(Clock clock) { clock_ = std::move(clock); }

  private:
    void Record(const RecordResult& record);

    std::ostream& out_;
    std::ostream& err_;
    std::unique_ptr<FlightAnalytics> own_;
    FlightAnalytics* analytics_;
    CarTracker tracker_;
    Clock clock_;
    GpsSource source_;
    std::size_t count_ = 0;
};

}  // namespace monitor
