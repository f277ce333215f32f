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

// The ascent rate of a prediction: the climb of the last ten minutes, once a minute is seen.
constexpr double kAscentRateWindowS = 600;
constexpr double kMinAscentRateSpanS = 60;
// A prediction's path keeps a point every this many metres of height.
constexpr double kPathStepM = 500;
// Receive clocks before this (2001) are no dates: a replay runs on the GPS clock.
constexpr double kFirstPlausibleUnixS = 1e9;

using common::kSecondsPerDay;
using common::StandardDensityRatio;

struct PhaseText {
    std::string_view name, caption;
};
constexpr PhaseText kPhaseNames[] = {
    {"", "-"}, {"ground", "am Boden"}, {"ascent", "Aufstieg"}, {"descent", "Abstieg"}};

// A trajectory's points, one every kPathStepM of height and those where it turns or ends.
std::vector<TrajectoryPoint> Thinned(const std::vector<TrajectoryPoint>& path) {
    std::vector<TrajectoryPoint> out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const bool turn = i > 0 && i + 1 < path.size() &&
                          (path[i].altitudeM - path[i - 1].altitudeM) *
                                  (path[i + 1].altitudeM - path[i].altitudeM) <=
                              0;
        if (i == 0 || i + 1 == path.size() || turn ||
            std::floor(path[i].altitudeM / kPathStepM) !=
                std::floor(out.back().altitudeM / kPathStepM))
            out.push_back(path[i]);
    }
    return out;
}

}  // namespace

std::string_view PredictionKindName(PredictionKind kind) {
    return kind == PredictionKind::Ascent ? "ascent" : "descent";
}

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

void FlightAnalytics::SetModelWinds(std::shared_ptr<const WindField> winds) {
    winds_ = std::move(winds);
    EstimateLanding();
}

void FlightAnalytics::SetReceiveClockHint(double unixS) {
    if (unixS >= kFirstPlausibleUnixS) receiveClockHintS_ = unixS;
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
    ascentSinceS_.reset();
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
                ascentSinceS_ = p.timeS;
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
                ascentSinceS_ = p.timeS;
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

std::optional<FlightAnalytics::Velocity> FlightAnalytics::NearestBandWind(double altitudeM) const {
    const int b = std::clamp(static_cast<int>(std::floor(altitudeM / kBandM)), 0, kBands - 1);
    for (int i = b; i >= 0; --i)
        if (bands_[i].seconds >= kMinBandSeconds) return BandWind(i * kBandM);
    for (int i = b + 1; i < kBands; ++i)
        if (bands_[i].seconds >= kMinBandSeconds) return BandWind(i * kBandM);
    return std::nullopt;
}

std::optional<ModelWind> FlightAnalytics::ModelWindAt(const LatLonDeg& p, double altitudeM,
                                                      double flightS) const {
    if (!winds_ || !state_.last) return std::nullopt;
    const double midnight = winds_->MidnightFor(state_.last->timeS, receiveClockHintS_);
    return winds_->At(p, altitudeM, midnight + flightS);
}

// Least-squares slope over the climb's fixes of the last minutes; the averaged rate until a
// minute of climb is seen.
std::optional<double> FlightAnalytics::AscentRate() const {
    if (!state_.last || !ascentSinceS_) return state_.vrateAvgMps;
    const double now = state_.last->timeS;
    const double from = std::max(*ascentSinceS_, now - kAscentRateWindowS);
    auto first = std::lower_bound(fixes_.begin(), fixes_.end(), from,
                                  [](const FlightPoint& f, double t) { return f.timeS < t; });
    const auto n = static_cast<double>(fixes_.end() - first);
    if (n < 2 || now - first->timeS < kMinAscentRateSpanS) return state_.vrateAvgMps;
    double st = 0, sh = 0;
    for (auto f = first; f != fixes_.end(); ++f) {
        st += f->timeS - now;
        sh += f->altitudeM;
    }
    const double mt = st / n, mh = sh / n;
    double num = 0, den = 0;
    for (auto f = first; f != fixes_.end(); ++f) {
        const double dt = f->timeS - now - mt;
        num += dt * (f->altitudeM - mh);
        den += dt * dt;
    }
    if (den <= 0) return state_.vrateAvgMps;
    return num / den;
}

// The fall seen since the highest fix: its own law once enough of it is seen, else the standard
// law through the rate now.
void FlightAnalytics::FitDescent() {
    std::vector<DescentSample> fall;
    const double after = maxPoint_ ? maxPoint_->timeS : -1e300;
    auto first = std::upper_bound(fixes_.begin(), fixes_.end(), after,
                                  [](double t, const FlightPoint& f) { return t < f.timeS; });
    fall.reserve(static_cast<std::size_t>(fixes_.end() - first));
    for (auto f = first; f != fixes_.end(); ++f) fall.push_back({f->timeS, f->altitudeM});
    const auto law = FitDescentLaw(fall, settings_.descentFit);
    state_.descentLearnt = law.has_value();
    state_.descentLaw = law.value_or(DescentLaw{-*vrateSeaLevelMps_, kStandardDescentExponent});
}

void FlightAnalytics::EstimateLanding() {
    state_.landing.reset();
    state_.prediction.reset();
    state_.descentLaw.reset();
    state_.descentLearnt = false;
    if (!state_.last || recentPositions_.empty()) return;
    const FlightPoint& now = *state_.last;
    // The last position may be older than the last fix; the drift runs from where it was.
    const FlightPoint& placed = recentPositions_.back();
    const double landAlt = LandingAltitudeM();
    LandingEstimate e;
    e.altitudeM = landAlt;
    e.landingTimeS = now.timeS;
    e.point = *placed.position;
    Prediction pr;
    pr.kind = PredictionKind::Descent;
    pr.burstAltM = state_.burstAltM;
    if (state_.phase == FlightPhase::Ground && landed_) {
        // It is down: the estimate is where it lies.
    } else if (state_.phase == FlightPhase::Descent && vrateSeaLevelMps_ &&
               *state_.vrateAvgMps < -kStillMps) {
        FitDescent();
        const DescentLaw& law = *state_.descentLaw;
        pr.descent = law;
        pr.path.push_back({placed.timeS, *placed.position, placed.altitudeM});
        const auto drift = RecentDrift();
        double seconds = 0, driftSeconds = 0, windSeconds = 0;
        bool measured = false, model = false;
        common::EastNorthM total;
        for (double h = std::max(now.altitudeM, placed.altitudeM); h > landAlt;) {
            double next = std::max(landAlt, (std::ceil(h / kSliceM) - 1) * kSliceM);
            for (double edge : {now.altitudeM, placed.altitudeM})
                if (edge < h) next = std::max(next, edge);
            const double mid = (h + next) / 2;
            const double dt = (h - next) / law.SinkMps(mid);
            h = next;
            if (mid < now.altitudeM) seconds += dt;
            if (mid > placed.altitudeM) continue;
            // Measured on the ascent, else the model's, else the drift of the last minute.
            std::optional<Velocity> v = BandWind(mid);
            const bool band = v.has_value();
            if (!v) {
                const auto m =
                    ModelWindAt(common::PlaneMoved(e.point, total), mid, now.timeS + seconds);
                if (m) v = Velocity{m->eastMps, m->northMps};
                model = model || m.has_value();
                if (!m) v = drift;
                measured = measured || (!m && drift);
            }
            measured = measured || band;
            if (v) {
                total.east += v->eastMps * dt;
                total.north += v->northMps * dt;
            }
            if (band) windSeconds += dt;
            driftSeconds += dt;
            if (std::floor(h / kPathStepM) != std::floor(pr.path.back().altitudeM / kPathStepM) ||
                h <= landAlt)
                pr.path.push_back({now.timeS + seconds, common::PlaneMoved(e.point, total), h});
        }
        e.secondsToLanding = seconds;
        e.landingTimeS = now.timeS + seconds;
        e.point = common::PlaneMoved(e.point, total);
        e.ascentWindShare = driftSeconds > 0 ? windSeconds / driftSeconds : 0;
        pr.winds = measured && model ? WindsUsed::Mixed
                   : model           ? WindsUsed::Model
                                     : WindsUsed::Measured;
        pr.secondsToLanding = e.secondsToLanding;
        pr.landingTimeS = e.landingTimeS;
        pr.point = e.point;
        state_.prediction = std::move(pr);
    } else {
        PredictAscent();
        return;
    }
    e.locator = common::LatLonToLocator(e.point.lon, e.point.lat).value_or("");
    const common::Geodesic g = common::GeodesicBetween(EffectiveHome(), e.point);
    e.homeKm = g.km;
    e.bearingDeg = g.bearingDeg;
    state_.landing = e;
}

// The whole flight from the last position: up at the rate measured to the burst altitude of the
// settings, down by the standard law at their descent rate. Below the probe the winds measured
// on the way up; above it the model's, or without a model the nearest measured band's.
void FlightAnalytics::PredictAscent() {
    if (state_.phase != FlightPhase::Ascent) return;
    const auto rate = AscentRate();
    if (!rate || *rate < kMovingMps) return;
    const FlightPoint& placed = recentPositions_.back();
    const double probeAltM = std::max(state_.last->altitudeM, placed.altitudeM);
    FlightPlan plan;
    plan.ascentMps = *rate;
    plan.burstAltM = std::max(settings_.burstAltM, probeAltM);
    plan.descent = DescentLaw{settings_.descentRateMps, kStandardDescentExponent};
    plan.landingAltM = LandingAltitudeM();
    const auto drift = RecentDrift();
    const WindLookup winds = [&](const LatLonDeg& p, double alt,
                                 double t) -> std::optional<WindAt> {
        auto measured = [](const Velocity& v) {
            return WindAt{v.eastMps, v.northMps, WindOrigin::Measured};
        };
        if (alt <= probeAltM)
            if (const auto b = BandWind(alt)) return measured(*b);
        if (const auto m = ModelWindAt(p, alt, t))
            return WindAt{m->eastMps, m->northMps, WindOrigin::Model};
        if (const auto b = NearestBandWind(alt)) return measured(*b);
        if (drift) return measured(*drift);
        return std::nullopt;
    };
    const auto t = FlyTrajectory({placed.timeS, *placed.position, placed.altitudeM}, plan, winds);
    if (t) state_.prediction = MakePrediction(*t, plan, state_.last->timeS);
}

Prediction MakePrediction(const Trajectory& t, const FlightPlan& plan, double nowS) {
    Prediction pr;
    pr.kind = plan.ascending ? PredictionKind::Ascent : PredictionKind::Descent;
    pr.burstAltM = plan.burstAltM;
    pr.burst = t.burst;
    pr.secondsToLanding = std::max(0.0, t.landing.timeS - nowS);
    pr.landingTimeS = t.landing.timeS;
    pr.point = t.landing.position;
    pr.winds = t.winds;
    pr.path = Thinned(t.path);
    pr.ascentMps = plan.ascentMps;
    pr.descent = plan.descent;
    return pr;
}

FlightPlan LaunchPlan(const AnalyticsSettings& settings) {
    FlightPlan plan;
    plan.ascentMps = settings.ascentRateMps;
    plan.burstAltM = settings.burstAltM;
    plan.descent = DescentLaw{settings.descentRateMps, kStandardDescentExponent};
    plan.landingAltM = settings.landingAltM.value_or(0);
    return plan;
}

std::optional<Trajectory> PredictLaunch(const WindField& winds, const LatLonDeg& launch,
                                        double unixS, const AnalyticsSettings& settings,
                                        TrajectoryPoint* stoppedAt) {
    const FlightPlan plan = LaunchPlan(settings);
    return FlyTrajectory({unixS, launch, plan.landingAltM}, plan, ModelWindLookup(winds), 100,
                         stoppedAt);
}

std::string FormatPredictionLine(std::size_t n, const Prediction& p) {
    std::string line = "prediction=" + std::to_string(n);
    line += "\tkind=";
    line += PredictionKindName(p.kind);
    line += "\tburst_alt=";
    if (p.burstAltM) line += common::FormatFixed(*p.burstAltM, 15, 0);
    line += "\tt_land_s=" + common::FormatFixed(p.secondsToLanding, 15, 0);
    line += "\tland_lat=" + common::FormatFixed(p.point.lat, 15, 5);
    line += "\tland_lon=" + common::FormatFixed(p.point.lon, 15, 5);
    line += "\twinds=";
    line += WindsUsedName(p.winds);
    line += '\n';
    return line;
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
