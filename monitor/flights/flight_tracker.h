// Several probes in the air and several stations hearing each: the records carry no probe's
// identity, so probes are told apart by their flights. A fix belongs to the flight it can
// continue within what a balloon or a falling probe can do; a fix no flight can take opens a
// candidate flight, which a later fix or a second station's copy confirms. Each fix is taken
// once: the same fix from another station is a copy, an older one not yet taken is late.
// Plain C++; all times on clocks passed in, so tests and replays need no wall clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/geo.h"
#include "monitor/chase/flight_analytics.h"

namespace monitor {

enum class FixKind { New, Copy, Late, Refused, None };

// "new", "copy", "late", "refused", "none".
std::string_view FixKindName(FixKind kind);

struct TrackerSettings {
    double flightEndS = 30 * 60;  // a flight ends this long after its newest fix came
    double candidateS = 2 * 60;   // a candidate unconfirmed this long is dropped

    bool operator==(const TrackerSettings&) const = default;
};

// Flight ids: "A" to "Z", then "AA", "AB", ... in order of first arrival.
std::string FlightId(std::size_t index);

// A fix as the tracker matches it: the probe's time of day, where and how high.
struct ProbeFix {
    double secondsOfDay = 0;
    LatLonDeg position;
    double altitudeM = 0;
};

struct Flight {
    std::string id;
    bool confirmed = false;  // a later fix continued it, or a second station sent a fix of it
    bool ended = false;
    double createdS = 0;       // receive clock
    double lastReceivedS = 0;  // receive clock of its newest fix
    FlightPoint newest;        // on the flight's own clock, which runs on across midnight
    std::optional<FlightPoint> beforeNewest;
    std::vector<std::string> stations;  // every call sign that sent a fix of it
    FlightAnalytics analytics;

  private:
    friend class FlightTracker;
    struct Taken {
        LatLonDeg position;
        double altitudeM = 0;
        std::vector<std::string> stations;
    };
    // The fixes taken, by time in milliseconds on the flight clock; the oldest go first.
    std::map<std::int64_t, Taken> taken_;
};

struct Placement {
    FixKind kind = FixKind::None;
    Flight* flight = nullptr;
    // For a copy: the same station sent this fix before (handled as a repeat, not a new
    // station); for a new fix: it opened a candidate flight.
    bool sameStation = false;
    bool opened = false;
    int stations = 0;  // different call signs among the records of this fix, this one included
};

class FlightTracker {
  public:
    explicit FlightTracker(const TrackerSettings& settings = {},
                           const AnalyticsSettings& analytics = {},
                           std::string_view homeLocator = kDefaultLocator);

    // Places a fix sent by `station`, received at `receivedS`; the flight's analytics take it.
    Placement Place(const ProbeFix& fix, const std::string& station, double receivedS);
    // Ends flights whose newest fix is older than the end time, drops candidates past theirs.
    // Returns the ids of the candidates dropped.
    std::vector<std::string> Tick(double nowS);

    // Every flight in order of first arrival, ended ones too (the oldest go once there are many).
    const std::deque<std::unique_ptr<Flight>>& Flights() const { return flights_; }
    Flight* Find(std::string_view id);
    const Flight* Find(std::string_view id) const;
    std::size_t OpenFlights() const;
    int CandidatesDropped() const { return dropped_; }

    const TrackerSettings& Settings() const { return settings_; }
    void SetSettings(const TrackerSettings& settings) { settings_ = settings; }
    // For every flight's analytics, now and later.
    void SetAnalyticsSettings(const AnalyticsSettings& settings);
    void SetModelWinds(const std::shared_ptr<const WindField>& winds);
    void SetHomeLocator(std::string_view locator);
    void SetHomeSource(const HomeSource& source);
    void HomeMoved();

  private:
    struct Match {
        Flight* flight = nullptr;
        FixKind kind = FixKind::New;
        double timeS = 0;
        double score = 0;  // metres off where the flight would be; lower is better
    };
    std::optional<Match> MatchFlight(Flight& f, const ProbeFix& fix) const;
    Flight& Open(const FlightPoint& p, double receivedS);
    static Flight::Taken& Note(Flight& f, const FlightPoint& p, const std::string& station);

    TrackerSettings settings_;
    AnalyticsSettings analyticsSettings_;
    std::shared_ptr<const WindField> winds_;
    std::string homeLocator_;
    HomeSource homeSource_;
    std::deque<std::unique_ptr<Flight>> flights_;
    std::size_t opened_ = 0;
    int dropped_ = 0;
};

}  // namespace monitor
