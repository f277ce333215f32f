#include "monitor/flights/flight_tracker.h"

#include <algorithm>
#include <cmath>

namespace monitor {

namespace {

// What a balloon or a falling probe can do between two fixes, and how far GPS may stray.
constexpr double kMaxHorizontalMps = 150;
constexpr double kMaxVerticalMps = 200;
constexpr double kSlackM = 1000;
// Two fixes this close in time are one fix (times are hundredths of a second at most).
constexpr std::int64_t kSameTimeMs = 5;
// A velocity from fixes further apart than this predicts nothing.
constexpr double kMaxVelocityGapS = 120;
constexpr std::size_t kMaxTakenFixes = 86400;
constexpr std::size_t kMaxFlights = 100;

std::int64_t Ms(double s) {
    return std::llround(s * 1000);
}

double HorizontalM(const LatLonDeg& a, const LatLonDeg& b) {
    const common::EastNorthM d = common::PlaneOffset(a, b);
    return std::hypot(d.east, d.north);
}

bool Reachable(const FlightPoint& from, const LatLonDeg& to, double altitudeM, double dt) {
    dt = std::abs(dt);
    return HorizontalM(*from.position, to) <= kMaxHorizontalMps * dt + kSlackM &&
           std::abs(altitudeM - from.altitudeM) <= kMaxVerticalMps * dt + kSlackM;
}

// Metres between `p` and where the line through a and b puts the probe at `t`.
double OffLine(const FlightPoint& a, const FlightPoint& b, double t, const LatLonDeg& p,
               double altitudeM) {
    const double share = b.timeS > a.timeS ? (t - a.timeS) / (b.timeS - a.timeS) : 0;
    const common::EastNorthM ab = common::PlaneOffset(*a.position, *b.position);
    const LatLonDeg at = common::PlaneMoved(*a.position, {ab.east * share, ab.north * share});
    const double alt = a.altitudeM + (b.altitudeM - a.altitudeM) * share;
    return std::hypot(HorizontalM(at, p), altitudeM - alt);
}

}  // namespace

std::string_view FixKindName(FixKind kind) {
    switch (kind) {
        case FixKind::New:
            return "new";
        case FixKind::Copy:
            return "copy";
        case FixKind::Late:
            return "late";
        case FixKind::Refused:
            return "refused";
        case FixKind::None:
            break;
    }
    return "none";
}

std::string FlightId(std::size_t index) {
    std::string id;
    for (std::size_t n = index + 1; n > 0; n = (n - 1) / 26)
        id.insert(id.begin(), static_cast<char>('A' + (n - 1) % 26));
    return id;
}

FlightTracker::FlightTracker(const TrackerSettings& settings, const AnalyticsSettings& analytics,
                             std::string_view homeLocator)
    : settings_(settings), analyticsSettings_(analytics), homeLocator_(homeLocator) {}

std::optional<FlightTracker::Match> FlightTracker::MatchFlight(Flight& f,
                                                               const ProbeFix& fix) const {
    if (f.ended) return std::nullopt;
    const double newestSod = std::fmod(f.newest.timeS, common::kSecondsPerDay);
    double d = fix.secondsOfDay - newestSod;
    if (d > common::kSecondsPerDay / 2) d -= common::kSecondsPerDay;
    if (d <= -common::kSecondsPerDay / 2) d += common::kSecondsPerDay;
    Match m{&f, FixKind::New, f.newest.timeS + d, 0};

    const auto at = f.taken_.lower_bound(Ms(m.timeS) - kSameTimeMs);
    if (at != f.taken_.end() && at->first <= Ms(m.timeS) + kSameTimeMs) {
        // That moment is taken: the same fix again, or another probe's.
        m.kind = FixKind::Copy;
        m.timeS = at->first / 1000.0;
        m.score = std::hypot(HorizontalM(at->second.position, fix.position),
                             fix.altitudeM - at->second.altitudeM);
        if (m.score > kSlackM) return std::nullopt;
        return m;
    }
    if (m.timeS > f.newest.timeS) {
        const double dt = m.timeS - f.newest.timeS;
        if (dt >= settings_.flightEndS || !Reachable(f.newest, fix.position, fix.altitudeM, dt))
            return std::nullopt;
        const FlightPoint& b = f.newest;
        const bool moving = f.beforeNewest && b.timeS - f.beforeNewest->timeS <= kMaxVelocityGapS;
        m.score = moving ? OffLine(*f.beforeNewest, b, m.timeS, fix.position, fix.altitudeM)
                         : std::hypot(HorizontalM(*b.position, fix.position),
                                      fix.altitudeM - b.altitudeM);
        return m;
    }
    // Older than the newest and not taken: a late fix, if it fits between its neighbours.
    m.kind = FixKind::Late;
    const auto after = f.taken_.upper_bound(Ms(m.timeS));
    auto point = [](const auto& entry) {
        return FlightPoint{entry.first / 1000.0, entry.second.altitudeM, entry.second.position};
    };
    std::optional<FlightPoint> before, next;
    if (after != f.taken_.end()) next = point(*after);
    if (after != f.taken_.begin()) before = point(*std::prev(after));
    for (const auto& n : {before, next})
        if (n && !Reachable(*n, fix.position, fix.altitudeM, m.timeS - n->timeS))
            return std::nullopt;
    if (!next || next->timeS - m.timeS >= settings_.flightEndS) return std::nullopt;
    m.score = before ? OffLine(*before, *next, m.timeS, fix.position, fix.altitudeM)
                     : OffLine(*next, *next, m.timeS, fix.position, fix.altitudeM);
    return m;
}

Placement FlightTracker::Place(const ProbeFix& fix, const std::string& station, double receivedS) {
    std::optional<Match> best;
    for (const auto& f : flights_) {
        const auto m = MatchFlight(*f, fix);
        // A copy is the surest match; otherwise the flight the fix lies closest to.
        const auto rank = [](const Match& x) { return x.kind == FixKind::Copy ? 0 : 1; };
        if (m && (!best || rank(*m) < rank(*best) ||
                  (rank(*m) == rank(*best) && m->score < best->score)))
            best = m;
    }
    Placement out;
    if (!best) {
        Flight& f = Open({fix.secondsOfDay, fix.altitudeM, fix.position}, receivedS);
        Note(f, f.newest, station);
        f.analytics.AddFix(f.newest);
        out = {FixKind::New, &f, false, true, 1};
        return out;
    }
    Flight& f = *best->flight;
    const FlightPoint p{best->timeS, fix.altitudeM, fix.position};
    out.flight = &f;
    out.kind = best->kind;
    if (best->kind == FixKind::Copy) {
        auto& stations = f.taken_[Ms(best->timeS)].stations;
        out.sameStation = std::find(stations.begin(), stations.end(), station) != stations.end();
        if (!out.sameStation) {
            stations.push_back(station);
            if (std::find(f.stations.begin(), f.stations.end(), station) == f.stations.end())
                f.stations.push_back(station);
        }
        // A second station hearing the same fix: no stray position.
        if (stations.size() > 1) f.confirmed = true;
        out.stations = static_cast<int>(stations.size());
        return out;
    }
    Note(f, p, station);
    out.stations = 1;
    if (best->kind == FixKind::Late) {
        f.analytics.AddLateFix(p);
        return out;
    }
    f.beforeNewest = f.newest;
    f.newest = p;
    f.lastReceivedS = receivedS;
    f.confirmed = true;
    f.analytics.AddFix(p);
    return out;
}

Flight::Taken& FlightTracker::Note(Flight& f, const FlightPoint& p, const std::string& station) {
    if (f.taken_.size() >= kMaxTakenFixes) f.taken_.erase(f.taken_.begin());
    Flight::Taken& t = f.taken_[Ms(p.timeS)];
    t.position = *p.position;
    t.altitudeM = p.altitudeM;
    t.stations = {station};
    if (std::find(f.stations.begin(), f.stations.end(), station) == f.stations.end())
        f.stations.push_back(station);
    return t;
}

Flight& FlightTracker::Open(const FlightPoint& p, double receivedS) {
    if (flights_.size() >= kMaxFlights) {
        const auto old =
            std::find_if(flights_.begin(), flights_.end(), [](const auto& f) { return f->ended; });
        flights_.erase(old != flights_.end() ? old : flights_.begin());
    }
    auto f = std::make_unique<Flight>();
    f->id = FlightId(opened_++);
    f->createdS = receivedS;
    f->lastReceivedS = receivedS;
    f->newest = p;
    f->analytics = FlightAnalytics(analyticsSettings_, homeLocator_);
    f->analytics.SetReceiveClockHint(receivedS);
    f->analytics.SetModelWinds(winds_);
    if (homeSource_) f->analytics.SetHomeSource(homeSource_);
    flights_.push_back(std::move(f));
    return *flights_.back();
}

std::vector<std::string> FlightTracker::Tick(double nowS) {
    std::vector<std::string> dropped;
    for (auto it = flights_.begin(); it != flights_.end();) {
        Flight& f = **it;
        if (!f.confirmed && !f.ended && nowS - f.createdS > settings_.candidateS) {
            dropped.push_back(f.id);
            ++dropped_;
            it = flights_.erase(it);
            continue;
        }
        if (!f.ended && nowS - f.lastReceivedS > settings_.flightEndS) f.ended = true;
        ++it;
    }
    return dropped;
}

Flight* FlightTracker::Find(std::string_view id) {
    for (const auto& f : flights_)
        if (f->id == id) return f.get();
    return nullptr;
}

const Flight* FlightTracker::Find(std::string_view id) const {
    return const_cast<FlightTracker*>(this)->Find(id);
}

std::size_t FlightTracker::OpenFlights() const {
    return static_cast<std::size_t>(
        std::count_if(flights_.begin(), flights_.end(), [](const auto& f) { return !f->ended; }));
}

void FlightTracker::SetAnalyticsSettings(const AnalyticsSettings& settings) {
    analyticsSettings_ = settings;
    for (const auto& f : flights_) f->analytics.SetSettings(settings);
}

void FlightTracker::SetModelWinds(const std::shared_ptr<const WindField>& winds) {
    winds_ = winds;
    for (const auto& f : flights_) f->analytics.SetModelWinds(winds);
}

void FlightTracker::SetHomeLocator(std::string_view locator) {
    homeLocator_ = std::string(locator);
    for (const auto& f : flights_) f->analytics.SetHomeLocator(locator);
}

void FlightTracker::SetHomeSource(const HomeSource& source) {
    homeSource_ = source;
    for (const auto& f : flights_) f->analytics.SetHomeSource(source);
}

void FlightTracker::HomeMoved() {
    for (const auto& f : flights_) f->analytics.HomeMoved();
}

}  // namespace monitor
