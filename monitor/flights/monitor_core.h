// The monitor's core, between the record stream and what shows it (the window, the headless
// lines, the navigation device): each record is read once, refused when it holds what no fix
// can, placed in its flight, and moves the record displays, the chase figures and the device
// only as far as it is news for the flight they follow. Plain C++; the clocks are passed in.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/chase/chase_alarms.h"
#include "monitor/chase/flight_analytics.h"
#include "monitor/core/stream_reader.h"
#include "monitor/flights/flight_tracker.h"

namespace monitor {

inline constexpr std::string_view kFollowAuto = "auto";

struct FlightAlarm {
    AlarmKind kind = AlarmKind::Burst;
    std::string flightId;  // empty for the no-data alarm: it concerns the link
    std::string text;      // the banner's text, naming the flight
    double figure = 0;     // as Alarm has them
    std::string locator;
};

struct RecordOutcome {
    std::size_t number = 0;  // as the record lines count; read-back records are not numbered
    RecordResult shown;      // the record, and the displays after it (as they were when it
                             // moved none)
    FixKind kind = FixKind::None;
    std::string flightId;
    int stations = 0;
    bool toDevice = false;             // its sentence goes to the navigation device
    std::string refused;               // what made it refused: "time", "latitude", ...
    std::string firstRefusal;          // the message, for the first record refused for that
    std::string candidateOpened;       // a flight id, when this fix opened a candidate flight
    std::vector<std::string> dropped;  // candidates dropped on the replay clock at this record
    std::vector<FlightAlarm> alarms;
};

// flight=N, then id, fix, stations, phase, alt, land_lat and land_lon of the record's flight,
// tab-separated, each present and empty when unknown; one line with "\n".
std::string FormatFlightLine(const RecordOutcome& r, const FlightTracker& flights);
// alarm=N, kind (burst, landing, nodata), id and text; one line with "\n".
std::string FormatAlarmLine(std::size_t recordNumber, const FlightAlarm& alarm);

class MonitorCore {
  public:
    MonitorCore(std::string_view homeLocator, const AnalyticsSettings& analytics = {},
                const AlarmSettings& alarms = {}, const TrackerSettings& tracker = {});

    // A replay has no receive clock: flights end and candidates drop by the newest GPS time seen,
    // after each record, and the times passed in are not used.
    void UseGpsClock() { useGpsClock_ = true; }

    // One record (without "#", as Reader().Split cuts them from the stream), received at
    // `receivedS` (seconds on the receive clock). `live` false: read back after a restart, it
    // fills the flights, tracks, estimates and the alarms' state but moves no display, device or
    // count.
    RecordOutcome Take(std::string_view record, double receivedS, bool live = true);
    // Once a second or so: ends flights, drops candidates (their ids in `dropped`), and the
    // no-data alarm from the age of the data.
    std::vector<FlightAlarm> Tick(double nowS, std::optional<double> dataAgeS,
                                  std::vector<std::string>* dropped = nullptr);

    // "auto" or a flight id.
    void Follow(std::string_view choice);
    const std::string& FollowChoice() const { return followChoice_; }
    const Flight* Followed() const;
    // The followed flight's analytics; empty ones while none is followed.
    const FlightAnalytics& FollowedAnalytics() const;

    StreamReader& Reader() { return reader_; }
    const StreamReader& Reader() const { return reader_; }
    const FlightTracker& Tracker() const { return tracker_; }
    // Records taken live so far, and refused ones by what refused them.
    std::size_t Records() const { return records_; }
    const std::map<std::string, int>& Refusals() const { return refusals_; }
    // The end-of-run line for refused records and dropped candidates; empty when there were none.
    std::string SummaryText() const;

    void SetHomeLocator(std::string_view locator);
    void SetHomeSource(const HomeSource& source);
    void HomeMoved();
    void SetAnalyticsSettings(const AnalyticsSettings& settings);
    const AnalyticsSettings& AnalyticsSettingsInUse() const { return analyticsSettings_; }
    // A weather model's winds for every flight's predictions, or none.
    void SetModelWinds(const std::shared_ptr<const WindField>& winds);
    void SetAlarmSettings(const AlarmSettings& settings);
    void SetTrackerSettings(const TrackerSettings& settings);
    // The user disconnected: no no-data alarm until records come again.
    void UserDisconnected() { linkAlarms_.UserDisconnected(); }

  private:
    void Route(const common::RelayedRecord& record, double receivedS, bool live,
               RecordOutcome& out);
    void UpdateFollow();
    void AlarmsFor(const Flight& f, RecordOutcome& out, bool live);
    bool Later(double secondsOfDay) const;
    std::string Refusal(const common::GgaSentence& g) const;

    StreamReader reader_;
    FlightTracker tracker_;
    AnalyticsSettings analyticsSettings_;
    AlarmSettings alarmSettings_;
    FlightAnalytics none_;
    std::map<std::string, ChaseAlarms> flightAlarms_;
    ChaseAlarms linkAlarms_;
    std::string followChoice_ = std::string(kFollowAuto);
    std::string followedId_;
    HomeSource homeSource_;
    LatLonDeg locatorHome_;
    std::optional<double> lastSentSod_;  // time of day of the last sentence to the device
    bool useGpsClock_ = false;
    std::optional<double> gpsClockS_;  // the newest GPS time seen, running on across midnight
    std::size_t records_ = 0;
    std::map<std::string, int> refusals_;
    int candidatesDropped_ = 0;
};

}  // namespace monitor
