// The chase alarms and the age of the data. Each alarm fires once per event: the burst once
// per burst, the landing estimate once each time it comes within the limit (again only after
// it has left the limit plus a margin), the silence once each time records stop. The data age
// runs on the wall clock, passed in as milliseconds so that tests need not wait.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "monitor/chase/flight_analytics.h"

namespace monitor {

// Displays turn to a warning colour once the data is older than this.
inline constexpr double kStaleDataS = 30;

struct AlarmSettings {
    bool burstOn = true;
    bool landingOn = true;
    double landingKm = 10;
    bool noDataOn = true;
    double noDataS = 60;

    bool operator==(const AlarmSettings&) const = default;
};

enum class AlarmKind { Burst, Landing, NoData };

struct Alarm {
    AlarmKind kind;
    std::string text;  // the banner's text
    // What the text says, for a window that words it in another language: the burst's altitude
    // (m), the landing estimate's distance from home (km), the seconds without data; and the
    // landing's locator.
    double figure = 0;
    std::string locator;
};

// Seconds since the last record on the wall clock; empty before the first one.
class DataAge {
  public:
    void OnRecord(std::int64_t nowMs) { lastMs_ = nowMs; }
    std::optional<double> Seconds(std::int64_t nowMs) const;
    // "12 s", "4 min 05 s", "1 h 02 min"; "-" before the first record.
    static std::string Text(std::optional<double> seconds);

  private:
    std::optional<std::int64_t> lastMs_;
};

class ChaseAlarms {
  public:
    // The landing alarm re-arms once the estimate is this much beyond its limit, so an
    // estimate wandering about the limit does not sound again and again.
    static constexpr double kLandingRearmKm = 1;

    explicit ChaseAlarms(const AlarmSettings& settings = {}) : settings_(settings) {}
    void SetSettings(const AlarmSettings& settings) { settings_ = settings; }
    const AlarmSettings& Settings() const { return settings_; }

    // After each record the analytics took or not. An alarm that is off consumes its event
    // silently: switching it on later does not sound an old burst.
    std::vector<Alarm> OnRecord(const FlightState& state);
    // A record came: the no-data alarm may sound again once records stop.
    void OnData() { noDataArmed_ = true; }
    // Every second or so, with the current data age (empty before any record).
    std::vector<Alarm> OnTick(std::optional<double> dataAgeS);
    // The user disconnected: silence is what they asked for, so the no-data alarm waits for
    // the next record before it can sound again.
    void UserDisconnected() { noDataArmed_ = false; }

  private:
    AlarmSettings settings_;
    int burstsSeen_ = 0;
    bool landingArmed_ = true;
    bool noDataArmed_ = true;
};

}  // namespace monitor
