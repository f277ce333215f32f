#include "monitor/chase/flight_analytics.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/atmosphere.h"
#include "common/locator.h"
#include "common/numbers.h"

namespace monitor {

namespace {

// A balloon climbs at 3..8 m/s and sinks at 4..10 m/s near the ground; GPS altitude noise
// averaged over the window stays well under 1 m/s on the ground.
constexpr double kMovingMps = 1.5;
constexpr double kStillMps = 1.0;
constexpr double kBurstRateMps = -3.0;

// No balloon or falling probe goes faster than this; a fix that would needs it is a glitch
// (a no-fix 0/0 position, an altitude spike). Several such fixes in a row are a new truth.
constexpr double kMaxVerticalMps = 200;
constexpr double kMaxHorizontalMps = 150;
constexpr int kRejectsBeforeRestart = 3;

// A first fix this low, with the probe not falling, is taken as its launch site. Higher up
// the monitor joined in flight and the ground is not known.
constexpr double kLaunchSiteCeilingM = 1000;

// Fixes further apart than this leave a gap: a rate across it says nothing, and a highest point
// beside it may not be the top of the climb.
constexpr double kMaxGapS = 120;
// A probe lying still this little above the landing altitude after a gap is down.
constexpr double kNearGroundM = 3000;
// Fixes kept for working late ones in: a day at one a second.
constexpr std::size_t kMaxFixes = 86400;

// Winds are kept per altitude band of the ascent; bands above the top are not kept.
constexpr double kBandM = 250;
constexpr int kBands = 240;  // 60 km
constexpr double kMinBandSeconds = 1;
constexpr double kMaxWindSegmentS = 900;  // longer gaps say nothing about one layer's wind
constexpr double kSliceM = 50;            // steps of the fall integration

using common::kSecondsPerDay;
using common::StandardDensityRatio;

struct PhaseText {
    std::string_view name, caption;
};
constexpr PhaseText kPhaseNames[] = {
    {"", "-"}, {"ground", "am Boden"}, {"ascent", "Aufstieg"}, {"descent", "Abstieg"}};

}  // namespace

std::string_view PhaseName(FlightPhase phase) {
    return kPhaseNames[static_cast<int>(phase)].name;
}

std::string_view PhaseCaption(FlightPhase phase) {
    return kPhaseNames[static_cast<int>(phase)].caption;
}

FlightAnalytics::FlightAnalytics(const AnalyticsSettings& settings, std::string_view homeLocator)
    : settings_(settings) {
    SetHomeLocator(homeLocator);
    StartFlight();
}

void FlightAnalytics::SetSettings(const AnalyticsSettings& settings) {
    settings_ = settings;
    EstimateLanding();
}

void FlightAnalytics::SetHomeLocator(std::string_view locator) {
    home_ = HomeFromLocatorDeg(locator);
    if (state_.landing) EstimateLanding();
}

void FlightAnalytics::SetHomeSource(HomeSource source) {
    homeSource_ = std::move(source);
    HomeMoved();
}

LatLonDeg FlightAnalytics::EffectiveHome() const {
    const auto fromSource = homeSource_ ? homeSource_() : std::nullopt;
    return fromSource.value_or(home_);
}

void FlightAnalytics::HomeMoved() {
    if (state_.landing) EstimateLanding();
}

double FlightAnalytics::LandingAltitudeM() const {
    if (settings_.landingAltM) return *settings_.landingAltM;
    return launchSeen_ && firstAltM_ ? *firstAltM_ : 0.0;
}

void FlightAnalytics::StartFlight() {
    const int bursts = state_.bursts;
    state_ = FlightState{};
    state_.bursts = bursts;
    track_.clear();
    fixes_.clear();
    recent_.clear();
    recentPositions_.clear();
    bands_.assign(kBands, Band{});
    firstAltM_.reset();
    launchSeen_ = false;
    ascentSeen_ = false;
    landed_ = false;
    gapSinceAscent_ = false;
    vrateSeaLevelMps_.reset();
    beforeMax_.reset();
    maxPoint_.reset();
    afterMax_.clear();
}

bool FlightAnalytics::AddRecord(std::string_view record) {
    return AddRecord(common::ReadRelayedRecord(record));
}

bool FlightAnalytics::AddRecord(const common::RelayedRecord& record) {
    const common::GgaSentence& fix = record.gga;
    if (!fix.secondsOfDay.Valid() || !fix.altitudeM.Valid()) return false;
    const double sod = *fix.secondsOfDay.value;

    FlightPoint p;
    p.altitudeM = *fix.altitudeM.value;
    p.position = fix.Position();

    double offset = dayOffsetS_;
    if (lastSecondOfDay_) {
        // More than half a day back is the pass through midnight; anything else that goes
        // back or stands still is a late or repeated record (several stations hear one frame).
        if (sod - *lastSecondOfDay_ < -kSecondsPerDay / 2) offset += kSecondsPerDay;
        p.timeS = sod + offset;
        if (p.timeS <= state_.last->timeS || p.timeS - state_.last->timeS > kSecondsPerDay / 2)
            return false;
        if (!Plausible(p)) {
            if (++rejectedInRow_ < kRejectsBeforeRestart) return false;
            StartFlight();
            offset = 0;
        }
    }
    p.timeS = sod + offset;
    rejectedInRow_ = 0;
    dayOffsetS_ = offset;
    lastSecondOfDay_ = sod;
    Keep(p);
    Take(p);
    return true;
}

void FlightAnalytics::AddFix(const FlightPoint& p) {
    Keep(p);
    Take(p);
}

void FlightAnalytics::AddLateFix(const FlightPoint& p) {
    auto at = std::upper_bound(fixes_.begin(), fixes_.end(), p.timeS,
                               [](double t, const FlightPoint& f) { return t < f.timeS; });
    fixes_.insert(at, p);
    std::vector<FlightPoint> fixes = std::move(fixes_);
    StartFlight();
    state_.bursts = 0;
    for (const FlightPoint& f : fixes) {
        Keep(f);
        Take(f, false);
    }
    EstimateLanding();
}

void FlightAnalytics::Keep(const FlightPoint& p) {
    if (fixes_.size() >= kMaxFixes) fixes_.erase(fixes_.begin());
    fixes_.push_back(p);
}

bool FlightAnalytics::Plausible(const FlightPoint& p) const {
    const FlightPoint& last = *state_.last;
    if (std::abs(p.altitudeM - last.altitudeM) > kMaxVerticalMps * (p.timeS - last.timeS))
        return false;
    if (p.position && !recentPositions_.empty()) {
        const FlightPoint& lp = recentPositions_.back();
        const common::EastNorthM d = common::PlaneOffset(*lp.position, *p.position);
        if (std::hypot(d.east, d.north) > kMaxHorizontalMps * (p.timeS - lp.timeS)) return false;
    }
    return true;
}

void FlightAnalytics::Take(const FlightPoint& p, bool estimate) {
    if (!firstAltM_) firstAltM_ = p.altitudeM;
    if (state_.last && p.timeS - state_.last->timeS > kMaxGapS) {
        // What comes after a gap is judged on its own: no rate across it, the phase anew.
        recent_.clear();
        recentPositions_.clear();
        if (ascentSeen_ && !state_.burstAltM) gapSinceAscent_ = true;
        if (state_.phase != FlightPhase::Ground || !landed_) state_.phase = FlightPhase::Unknown;
    }
    if (p.position && !recentPositions_.empty() && state_.phase == FlightPhase::Ascent)
        RecordAscentWind(recentPositions_.back(), p);

    if (!state_.maxAltM || p.altitudeM > *state_.maxAltM) {
        state_.maxAltM = p.altitudeM;
        beforeMax_ = state_.last;
        maxPoint_ = p;
        afterMax_.clear();
    } else if (afterMax_.size() < 2) {
        afterMax_.push_back(p);
    }

    const double keepS = std::max(settings_.vrateWindowS, settings_.driftWindowS);
    auto trim = [&](std::deque<FlightPoint>& q) {
        q.push_back(p);
        while (q.size() > 2 && q[1].timeS < p.timeS - keepS) q.pop_front();
    };
    trim(recent_);
    if (p.position) {
        trim(recentPositions_);
        state_.lastPosition = p.position;
    }
    state_.last = p;
    AddToTrack(p);
    UpdatePhase();
    if (state_.burstAltM) RefineBurst();
    if (estimate) EstimateLanding();
}

void FlightAnalytics::AddToTrack(const FlightPoint& p) {
    if (track_.size() >= kMaxTrackPoints) {
        // Thin the older half; the recent part, which the crew looks at, stays whole.
        const std::size_t half = track_.size() / 2;
        std::size_t out = 0;
        for (std::size_t i = 0; i < half; i += 2) track_[out++] = track_[i];
        for (std::size_t i = half; i < track_.size(); ++i) track_[out++] = track_[i];
        track_.resize(out);
    }
    track_.push_back(p);
}

// Least-squares slope over the window's fixes (at least the last two): the rate at the
// window's mean time, so at about its mean altitude.
std::optional<double> FlightAnalytics::AverageRate(double& meanAltM) const {
    if (recent_.size() < 2) return std::nullopt;
    const double tEnd = recent_.back().timeS;
    // Once it has burst, the climb before is no part of the fall's rate.
    const double from = std::max(tEnd - settings_.vrateWindowS,
                                 state_.burstAltM ? maxPoint_->timeS + 1e-3 : -1e300);
    std::size_t first = recent_.size() - 2;
    while (first > 0 && recent_[first - 1].timeS >= from) --first;
    const double n = static_cast<double>(recent_.size() - first);
    double st = 0, sh = 0;
    for (std::size_t i = first; i < recent_.size(); ++i) {
        st += recent_[i].timeS - tEnd;
        sh += recent_[i].altitudeM;
    }
    const double mt = st / n, mh = sh / n;
    double num = 0, den = 0;
    for (std::size_t i = first; i < recent_.size(); ++i) {
        const double dt = recent_[i].timeS - tEnd - mt;
        num += dt * (recent_[i].altitudeM - mh);
        den += dt * dt;
    }
    if (den <= 0) return std::nullopt;
    meanAltM = mh;
    return num / den;
}

void FlightAnalytics::UpdatePhase() {
    double meanAlt = 0;
    const auto rate = AverageRate(meanAlt);
    state_.vrateAvgMps = rate;
    if (!rate) return;
    vrateSeaLevelMps_ = *rate * std::sqrt(StandardDensityRatio(meanAlt));
    const FlightPoint& p = *state_.last;
    switch (state_.phase) {
        case FlightPhase::Unknown:
            if (*rate > kMovingMps) {
                state_.phase = FlightPhase::Ascent;
                launchSeen_ = launchSeen_ || (!ascentSeen_ && *firstAltM_ < kLaunchSiteCeilingM);
                ascentSeen_ = true;
            } else if (*rate < -kMovingMps) {
                state_.phase = FlightPhase::Descent;
            } else if (gapSinceAscent_) {
                // Still after a gap that hid the top: down, if it lies near the ground.
                state_.phase = FlightPhase::Ground;
                if (p.altitudeM < LandingAltitudeM() + kNearGroundM) {
                    landed_ = true;
                    state_.burstNotSeen = true;
                }
            } else {
                state_.phase = FlightPhase::Ground;
                launchSeen_ = launchSeen_ || !ascentSeen_;
            }
            break;
        case FlightPhase::Ground:
            if (*rate > kMovingMps) {
                if (landed_) {
                    // Launched again from where it lay: a new flight from a seen launch site.
                    const double ground = p.altitudeM;
                    StartFlight();
                    firstAltM_ = ground;
                    launchSeen_ = true;
                    Take(p);
                    return;
                }
                state_.phase = FlightPhase::Ascent;
                ascentSeen_ = true;
            }
            break;
        case FlightPhase::Ascent:
            if (ascentSeen_ && *state_.maxAltM - p.altitudeM > settings_.burstDropM &&
                *rate < kBurstRateMps && TopSeenWhole()) {
                state_.phase = FlightPhase::Descent;
                state_.burstAltM = maxPoint_->altitudeM;
                state_.burstTimeS = maxPoint_->timeS;
                ++state_.bursts;
            }
            break;
        case FlightPhase::Descent:
            if (std::abs(*rate) < kStillMps) {
                state_.phase = FlightPhase::Ground;
                landed_ = true;
                state_.burstNotSeen = gapSinceAscent_ && !state_.burstAltM;
            }
            break;
    }
}

// A highest point with a fix less than a gap before and after it is the top of the climb; beside
// a gap it may be any point below the real top.
bool FlightAnalytics::TopSeenWhole() const {
    return beforeMax_ && !afterMax_.empty() && maxPoint_->timeS - beforeMax_->timeS <= kMaxGapS &&
           afterMax_.front().timeS - maxPoint_->timeS <= kMaxGapS;
}

// With sparse fixes the highest one seen can lie well below the burst: where the climb before
// it and the fall after it meet is closer.
void FlightAnalytics::RefineBurst() {
    if (!beforeMax_ || afterMax_.size() < 2) return;
    const FlightPoint &a = *beforeMax_, &m = *maxPoint_, &d1 = afterMax_[0], &d2 = afterMax_[1];
    if (m.timeS <= a.timeS || d2.timeS <= d1.timeS) return;
    const double up = (m.altitudeM - a.altitudeM) / (m.timeS - a.timeS);
    const double down = (d2.altitudeM - d1.altitudeM) / (d2.timeS - d1.timeS);
    if (up <= 0 || down >= 0) return;
    // m + up (t - tm) = d1 + down (t - td1)
    const double t = (d1.altitudeM - m.altitudeM + up * m.timeS - down * d1.timeS) / (up - down);
    if (t <= m.timeS || t >= d1.timeS) return;
    state_.burstAltM = m.altitudeM + up * (t - m.timeS);
    state_.burstTimeS = t;
}

void FlightAnalytics::RecordAscentWind(const FlightPoint& from, const FlightPoint& to) {
    const double dt = to.timeS - from.timeS;
    const double h1 = from.altitudeM, h2 = to.altitudeM;
    if (dt <= 0 || dt > kMaxWindSegmentS || h2 <= h1) return;
    const common::EastNorthM d = common::PlaneOffset(*from.position, *to.position);
    // The segment's drift is shared among the bands it crossed, by the height it spent in each.
    const int lo = std::clamp(static_cast<int>(std::floor(h1 / kBandM)), 0, kBands - 1);
    const int hi = std::clamp(static_cast<int>(std::floor(h2 / kBandM)), 0, kBands - 1);
    for (int b = lo; b <= hi; ++b) {
        const double bottom = b == 0 ? h1 : std::max(h1, b * kBandM);
        const double top = b == kBands - 1 ? h2 : std::min(h2, (b + 1) * kBandM);
        const double share = (top - bottom) / (h2 - h1);
        if (share <= 0) continue;
        bands_[b].eastM += d.east * share;
        bands_[b].northM += d.north * share;
        bands_[b].seconds += dt * share;
    }
}

std::optional<FlightAnalytics::Velocity> FlightAnalytics::BandWind(double altitudeM) const {
    const int b = static_cast<int>(std::floor(altitudeM / kBandM));
    if (b < 0 || b >= kBands || bands_[b].seconds < kMinBandSeconds) return std::nullopt;
    return Velocity{bands_[b].eastM / bands_[b].seconds, bands_[b].northM / bands_[b].seconds};
}

std::optional<FlightAnalytics::Velocity> FlightAnalytics::RecentDrift() const {
    if (recentPositions_.size() < 2) return std::nullopt;
    const FlightPoint& last = recentPositions_.back();
    std::size_t first = recentPositions_.size() - 2;
    while (first > 0 && recentPositions_[first - 1].timeS >= last.timeS - settings_.driftWindowS)
        --first;
    const FlightPoint& from = recentPositions_[first];
    const double dt = last.timeS - from.timeS;
    if (dt <= 0 || dt > kMaxWindSegmentS) return std::nullopt;
    const common::EastNorthM d = common::PlaneOffset(*from.position, *last.position);
    return Velocity{d.east / dt, d.north / dt};
}

void FlightAnalytics::EstimateLanding() {
    state_.landing.reset();
    if (!state_.last || recentPositions_.empty()) return;
    const FlightPoint& now = *state_.last;
    // The last position may be older than the last fix; the drift runs from where it was.
    const FlightPoint& placed = recentPositions_.back();
    const double landAlt = LandingAltitudeM();
    LandingEstimate e;
    e.altitudeM = landAlt;
    e.landingTimeS = now.timeS;
    e.point = *placed.position;
    if (state_.phase == FlightPhase::Ground && landed_) {
        // It is down: the estimate is where it lies.
    } else if (state_.phase == FlightPhase::Descent && vrateSeaLevelMps_ &&
               *state_.vrateAvgMps < -kStillMps) {
        const double sinkSeaLevel = -*vrateSeaLevelMps_;  // m/s at sea-level density
        const auto drift = RecentDrift();
        double seconds = 0, driftSeconds = 0, windSeconds = 0;
        common::EastNorthM total;
        for (double h = std::max(now.altitudeM, placed.altitudeM); h > landAlt;) {
            double next = std::max(landAlt, (std::ceil(h / kSliceM) - 1) * kSliceM);
            for (double edge : {now.altitudeM, placed.altitudeM})
                if (edge < h) next = std::max(next, edge);
            const double mid = (h + next) / 2;
            // v(h) = v_now sqrt(rho(h_now) / rho(h)), written with the sea-level rate
            const double dt = (h - next) * std::sqrt(StandardDensityRatio(mid)) / sinkSeaLevel;
            h = next;
            if (mid < now.altitudeM) seconds += dt;
            if (mid > placed.altitudeM) continue;
            const auto wind = BandWind(mid);
            const auto v = wind ? wind : drift;
            if (v) {
                total.east += v->eastMps * dt;
                total.north += v->northMps * dt;
            }
            if (wind) windSeconds += dt;
            driftSeconds += dt;
        }
        e.secondsToLanding = seconds;
        e.landingTimeS = now.timeS + seconds;
        e.point = common::PlaneMoved(e.point, total);
        e.ascentWindShare = driftSeconds > 0 ? windSeconds / driftSeconds : 0;
    } else {
        return;
    }
    e.locator = common::LatLonToLocator(e.point.lon, e.point.lat).value_or("");
    const common::Geodesic g = common::GeodesicBetween(EffectiveHome(), e.point);
    e.homeKm = g.km;
    e.bearingDeg = g.bearingDeg;
    state_.landing = e;
}

std::string FormatEstimateLine(std::size_t n, const FlightState& s) {
    std::string line = "estimate=" + std::to_string(n);
    auto add = [&line](std::string_view name, const std::optional<double>& v, int decimals) {
        line += '\t';
        line += name;
        line += '=';
        if (v) line += common::FormatFixed(*v, 15, decimals);
    };
    line += "\tphase=";
    line += PhaseName(s.phase);
    add("vrate_avg", s.vrateAvgMps, 1);
    add("max_alt", s.maxAltM, 0);
    add("burst_alt", s.burstAltM, 0);
    const auto& l = s.landing;
    add("t_land_s", l ? std::optional(l->secondsToLanding) : std::nullopt, 0);
    add("land_lat", l ? std::optional(l->point.lat) : std::nullopt, 5);
    add("land_lon", l ? std::optional(l->point.lon) : std::nullopt, 5);
    line += "\tland_locator=";
    if (l) line += l->locator;
    add("land_km", l ? std::optional(l->homeKm) : std::nullopt, 1);
    add("land_bearing", l ? std::optional(common::ShownBearing(l->bearingDeg, 0)) : std::nullopt,
        0);
    line += '\n';
    return line;
}

}  // namespace monitor
