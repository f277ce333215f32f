#include "monitor/flights/monitor_core.h"

#include <cmath>
#include <limits>

#include "common/numbers.h"
#include "common/text.h"

namespace monitor {

namespace {

// A time of day minus another, the short way round midnight.
double DayStep(double sod, double before) {
    double d = sod - before;
    if (d > common::kSecondsPerDay / 2) d -= common::kSecondsPerDay;
    if (d <= -common::kSecondsPerDay / 2) d += common::kSecondsPerDay;
    return d;
}

std::string Quoted(const std::string& text) {
    return "\"" + common::EscapeReceived(text, common::kQuotedReceivedBytes) + "\"";
}

}  // namespace

std::string FormatFlightLine(const RecordOutcome& r, const FlightTracker& flights) {
    const Flight* f = r.flightId.empty() ? nullptr : flights.Find(r.flightId);
    std::string line = "flight=" + std::to_string(r.number);
    auto add = [&line](std::string_view name, std::string_view value) {
        line += '\t';
        line += name;
        line += '=';
        line += value;
    };
    add("id", f ? f->id : "");
    add("fix", FixKindName(r.kind));
    add("stations", std::to_string(f ? r.stations : 0));
    const FlightState* s = f ? &f->analytics.State() : nullptr;
    add("phase", s ? PhaseName(s->phase) : "");
    add("alt", f ? common::FormatFixed(f->newest.altitudeM, 15, 0) : "");
    const auto& landing = s ? s->landing : std::nullopt;
    add("land_lat", landing ? common::FormatFixed(landing->point.lat, 15, 5) : "");
    add("land_lon", landing ? common::FormatFixed(landing->point.lon, 15, 5) : "");
    line += '\n';
    return line;
}

std::string FormatAlarmLine(std::size_t n, const FlightAlarm& a) {
    static constexpr std::string_view kKinds[] = {"burst", "landing", "nodata"};
    return "alarm=" + std::to_string(n) +
           "\tkind=" + std::string(kKinds[static_cast<int>(a.kind)]) + "\tid=" + a.flightId +
           "\ttext=" + a.text + "\n";
}

MonitorCore::MonitorCore(std::string_view homeLocator, const AnalyticsSettings& analytics,
                         const AlarmSettings& alarms, const TrackerSettings& tracker)
    : reader_(homeLocator),
      tracker_(tracker, analytics, homeLocator),
      analyticsSettings_(analytics),
      alarmSettings_(alarms),
      none_(analytics, homeLocator),
      linkAlarms_(alarms),
      locatorHome_(HomeFromLocatorDeg(homeLocator)) {}

std::string MonitorCore::Refusal(const common::GgaSentence& g) const {
    using common::FieldState;
    if (g.secondsOfDay.state == FieldState::OutOfRange) return "time";
    if (g.latitudeDeg.state == FieldState::OutOfRange) return "latitude";
    if (g.longitudeDeg.state == FieldState::OutOfRange) return "longitude";
    if (g.altitudeM.state == FieldState::OutOfRange || g.altitudeM.state == FieldState::NotANumber)
        return "altitude";
    return {};
}

RecordOutcome MonitorCore::Take(std::string_view text, double receivedS, bool live) {
    RecordOutcome out;
    if (live) {
        out.number = ++records_;
        linkAlarms_.OnData();
    }
    const common::RelayedRecord record = common::ReadRelayedRecord(text);
    const common::GgaSentence& g = record.gga;
    if (useGpsClock_) {
        if (g.secondsOfDay.Valid()) {
            const double sod = *g.secondsOfDay.value;
            if (!gpsClockS_)
                gpsClockS_ = sod;
            else if (const double d = DayStep(sod, std::fmod(*gpsClockS_, common::kSecondsPerDay));
                     d > 0)
                *gpsClockS_ += d;
        }
        receivedS = gpsClockS_.value_or(0);
    }
    Route(record, receivedS, live, out);
    // On the replay clock, what the record's time ends is ended after it has had its chance.
    if (useGpsClock_) Tick(receivedS, std::nullopt, &out.dropped);
    return out;
}

void MonitorCore::Route(const common::RelayedRecord& record, double receivedS, bool live,
                        RecordOutcome& out) {
    const common::GgaSentence& g = record.gga;

    out.refused = Refusal(g);
    if (!out.refused.empty()) {
        out.kind = FixKind::Refused;
        out.shown = reader_.PassBy(record);
        if (live && refusals_[out.refused]++ == 0) {
            const std::map<std::string, std::string> why = {
                {"time", Quoted(g.Time()) + " is no time of day"},
                {"latitude", Quoted(g.Latitude() + "," + g.LatHemisphere()) +
                                 " lies beyond 90 degrees or 60 minutes"},
                {"longitude", Quoted(g.Longitude() + "," + g.LonHemisphere()) +
                                  " lies beyond 180 degrees or 60 minutes"},
                {"altitude", Quoted(g.Altitude()) + " is not between -500 and 60000 m"}};
            out.firstRefusal = "record " + std::to_string(out.number) + " refused: " + out.refused +
                               " " + why.at(out.refused) +
                               " (such records are refused and counted from here on)";
        }
        return;
    }

    const auto position = g.Position();
    if (!g.secondsOfDay.Valid() || !position || !g.altitudeM.Valid()) {
        // No fix: the displays take it while it cannot be another probe's.
        out.kind = FixKind::None;
        if (live && tracker_.OpenFlights() <= 1) {
            out.shown = reader_.Show(record);
            if (g.secondsOfDay.Valid() && Later(*g.secondsOfDay.value)) {
                out.toDevice = true;
                lastSentSod_ = g.secondsOfDay.value;
            }
        } else {
            out.shown = reader_.PassBy(record);
        }
        return;
    }

    const ProbeFix fix{*g.secondsOfDay.value, *position, *g.altitudeM.value};
    const Placement placed = tracker_.Place(fix, record.station, receivedS);
    const Flight& flight = *placed.flight;
    out.kind = placed.kind;
    out.flightId = flight.id;
    out.stations = placed.stations;
    if (placed.opened) out.candidateOpened = flight.id;
    UpdateFollow();

    const bool followed = live && flight.id == followedId_;
    const bool repeat =
        placed.kind == FixKind::Copy && placed.sameStation &&
        DayStep(fix.secondsOfDay, std::fmod(flight.newest.timeS, common::kSecondsPerDay)) == 0;
    if (followed && (placed.kind == FixKind::New || repeat)) {
        out.shown = reader_.Show(record);
        if (placed.kind == FixKind::New && Later(fix.secondsOfDay)) {
            out.toDevice = true;
            lastSentSod_ = fix.secondsOfDay;
        }
    } else {
        out.shown = reader_.PassBy(record);
    }
    if (placed.kind == FixKind::New || placed.kind == FixKind::Late) AlarmsFor(flight, out, live);
}

void MonitorCore::AlarmsFor(const Flight& f, RecordOutcome& out, bool live) {
    auto [it, added] = flightAlarms_.try_emplace(f.id, alarmSettings_);
    for (const Alarm& a : it->second.OnRecord(f.analytics.State()))
        if (live)
            out.alarms.push_back(
                {a.kind, f.id, "Flug " + f.id + ": " + a.text, a.figure, a.locator});
}

std::vector<FlightAlarm> MonitorCore::Tick(double nowS, std::optional<double> dataAgeS,
                                           std::vector<std::string>* dropped) {
    const std::vector<std::string> gone = tracker_.Tick(nowS);
    candidatesDropped_ += static_cast<int>(gone.size());
    for (const std::string& id : gone) flightAlarms_.erase(id);
    if (dropped) dropped->insert(dropped->end(), gone.begin(), gone.end());
    UpdateFollow();
    std::vector<FlightAlarm> fired;
    for (const Alarm& a : linkAlarms_.OnTick(dataAgeS))
        fired.push_back({a.kind, {}, a.text, a.figure, a.locator});
    return fired;
}

bool MonitorCore::Later(double sod) const {
    return !lastSentSod_ || DayStep(sod, *lastSentSod_) > 0;
}

void MonitorCore::Follow(std::string_view choice) {
    followChoice_ = std::string(choice);
    UpdateFollow();
}

// "auto" keeps what it follows while it lives, a confirmed flight before a candidate; when
// there is nothing (more) to keep it takes the flight nearest to home or the car.
void MonitorCore::UpdateFollow() {
    std::string next;
    if (followChoice_ != kFollowAuto) {
        const Flight* f = tracker_.Find(followChoice_);
        if (f && f->confirmed) next = f->id;
    } else {
        const Flight* now = tracker_.Find(followedId_);
        const bool anyConfirmed = [&] {
            for (const auto& f : tracker_.Flights())
                if (f->confirmed && !f->ended) return true;
            return false;
        }();
        if (now && !now->ended && (now->confirmed || !anyConfirmed)) {
            next = now->id;
        } else {
            const auto car = homeSource_ ? homeSource_() : std::nullopt;
            const LatLonDeg home = car.value_or(locatorHome_);
            double nearest = std::numeric_limits<double>::infinity();
            for (const auto& f : tracker_.Flights()) {
                if (f->ended || (anyConfirmed && !f->confirmed)) continue;
                const double km = common::GeodesicBetween(home, *f->newest.position).km;
                if (km < nearest) {
                    nearest = km;
                    next = f->id;
                }
            }
        }
    }
    if (next == followedId_) return;
    followedId_ = next;
    reader_.Reprime();
    lastSentSod_.reset();
}

const Flight* MonitorCore::Followed() const {
    return followedId_.empty() ? nullptr : tracker_.Find(followedId_);
}

const FlightAnalytics& MonitorCore::FollowedAnalytics() const {
    const Flight* f = Followed();
    return f ? f->analytics : none_;
}

std::string MonitorCore::SummaryText() const {
    std::string text;
    int refused = 0;
    std::string kinds;
    for (const auto& [kind, count] : refusals_) {
        refused += count;
        kinds += (kinds.empty() ? "" : ", ") + kind + " " + std::to_string(count);
    }
    if (refused > 0)
        text = "refused " + std::to_string(refused) + (refused == 1 ? " record (" : " records (") +
               kinds + ")";
    if (candidatesDropped_ > 0)
        text += (text.empty() ? "" : "; ") + std::string("dropped ") +
                std::to_string(candidatesDropped_) +
                (candidatesDropped_ == 1 ? " candidate flight" : " candidate flights");
    return text;
}

void MonitorCore::SetHomeLocator(std::string_view locator) {
    reader_.SetHomeLocator(locator);
    tracker_.SetHomeLocator(locator);
    none_.SetHomeLocator(locator);
    locatorHome_ = HomeFromLocatorDeg(locator);
}

void MonitorCore::SetHomeSource(const HomeSource& source) {
    homeSource_ = source;
    reader_.SetHomeSource(source);
    tracker_.SetHomeSource(source);
    none_.SetHomeSource(source);
}

void MonitorCore::HomeMoved() {
    tracker_.HomeMoved();
}

void MonitorCore::SetTrackerSettings(const TrackerSettings& settings) {
    tracker_.SetSettings(settings);
}

void MonitorCore::SetModelWinds(const std::shared_ptr<const WindField>& winds) {
    tracker_.SetModelWinds(winds);
    none_.SetModelWinds(winds);
}

void MonitorCore::SetAnalyticsSettings(const AnalyticsSettings& settings) {
    analyticsSettings_ = settings;
    tracker_.SetAnalyticsSettings(settings);
    none_.SetSettings(settings);
}

void MonitorCore::SetAlarmSettings(const AlarmSettings& settings) {
    alarmSettings_ = settings;
    linkAlarms_.SetSettings(settings);
    for (auto& [id, alarms] : flightAlarms_) alarms.SetSettings(settings);
}

}  // namespace monitor
