#include "monitor/core/flight_analytics.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/locator.h"
#include "common/numbers.h"
#include "common/text.h"
#include "monitor/core/car.h"

namespace monitor {

namespace {

constexpr double kEarthRadiusM = kEarthRadiusKm * 1000.0;
constexpr double kDegToRad = std::numbers::pi / 180.0;
constexpr double kSecondsPerDay = 86400;

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

// Winds are kept per altitude band of the ascent; bands above the top are not kept.
constexpr double kBandM = 250;
constexpr int kBands = 240;  // 60 km
constexpr double kMinBandSeconds = 1;
constexpr double kMaxWindSegmentS = 900;  // longer gaps say nothing about one layer's wind
constexpr double kSliceM = 50;            // steps of the fall integration

// Standard atmosphere layers: base altitude (m), base temperature (K), lapse rate (K/m).
struct Layer {
    double baseM, baseK, lapse;
};
// Geopotential altitudes.
constexpr Layer kLayers[] = {{0, 288.15, -0.0065},
                             {11000, 216.65, 0},
                             {20000, 216.65, 0.001},
                             {32000, 228.65, 0.0028},
                             {47000, 270.65, 0}};
constexpr double kEarthRadiusForGeopotentialM = 6356766;
constexpr double kGasConstant = 287.053;  // J/(kg K), dry air
constexpr double kGravity = 9.80665;

double RatioInLayer(const Layer& l, double baseRatio, double h) {
    const double dh = h - l.baseM;
    if (l.lapse == 0) return baseRatio * std::exp(-kGravity * dh / (kGasConstant * l.baseK));
    const double t = (l.baseK + l.lapse * dh) / l.baseK;
    return baseRatio * std::pow(t, -kGravity / (kGasConstant * l.lapse) - 1);
}

struct Displacement {
    double eastM = 0;
    double northM = 0;
};

Displacement Between(const LatLonDeg& a, const LatLonDeg& b) {
    double dLon = b.lon - a.lon;
    if (dLon > 180) dLon -= 360;
    if (dLon < -180) dLon += 360;
    const double meanLat = (a.lat + b.lat) / 2 * kDegToRad;
    return {dLon * kDegToRad * kEarthRadiusM * std::cos(meanLat),
            (b.lat - a.lat) * kDegToRad * kEarthRadiusM};
}

LatLonDeg Moved(const LatLonDeg& p, const Displacement& d) {
    LatLonDeg q;
    q.lat = std::clamp(p.lat + d.northM / kEarthRadiusM / kDegToRad, -89.999, 89.999);
    q.lon = p.lon + d.eastM / (kEarthRadiusM * std::cos(q.lat * kDegToRad)) / kDegToRad;
    q.lon = std::remainder(q.lon, 360.0);
    return q;
}

void DistanceAndBearing(const LatLonDeg& from, const LatLonDeg& to, double& km, double& deg) {
    const double p1 = from.lat * kDegToRad, p2 = to.lat * kDegToRad;
    const double dl = (to.lon - from.lon) * kDegToRad;
    const double h = std::pow(std::sin((p2 - p1) / 2), 2) +
                     std::cos(p1) * std::cos(p2) * std::pow(std::sin(dl / 2), 2);
    km = 2 * std::asin(std::min(1.0, std::sqrt(h))) * kEarthRadiusKm;
    const double y = std::sin(dl) * std::cos(p2);
    const double x = std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl);
    deg = std::atan2(y, x) / kDegToRad;
    if (deg < 0) deg += 360;
    if (deg >= 360) deg = 0;
}

// ddmm.mmmm with its hemisphere letter; empty when absent or not a coordinate.
std::optional<double> Coordinate(std::string_view record, int field, char negative, double limit) {
    const std::string text = common::ExtractField(record, field, ',');
    if (text.empty()) return std::nullopt;
    const auto v = common::ParseDouble(text);
    if (!v || *v < 0) return std::nullopt;
    double deg = static_cast<double>(NmeaToRadians(*v) / kRadPerDeg);
    if (deg > limit) return std::nullopt;
    if (common::Trim(common::ExtractField(record, field + 1, ',')) == std::string(1, negative))
        deg = -deg;
    return deg;
}

}  // namespace

double StandardDensityRatio(double altitudeM) {
    // GPS gives geometric altitude; the layers are stated in geopotential metres.
    altitudeM =
        kEarthRadiusForGeopotentialM * altitudeM / (kEarthRadiusForGeopotentialM + altitudeM);
    double ratio = 1;
    const Layer* layer = &kLayers[0];
    for (std::size_t i = 1; i < std::size(kLayers) && altitudeM >= kLayers[i].baseM; ++i) {
        ratio = RatioInLayer(*layer, ratio, kLayers[i].baseM);
        layer = &kLayers[i];
    }
    return RatioInLayer(*layer, ratio, altitudeM);
}

std::string_view PhaseName(FlightPhase phase) {
    switch (phase) {
        case FlightPhase::Ground:
            return "ground";
        case FlightPhase::Ascent:
            return "ascent";
        case FlightPhase::Descent:
            return "descent";
        case FlightPhase::Unknown:
            break;
    }
    return "";
}

std::optional<double> SecondsOfDay(std::string_view hhmmss) {
    const auto t = common::ParseDouble(hhmmss);
    if (!t || *t < 0 || *t >= 240000) return std::nullopt;
    const double hh = std::floor(*t / 10000), mm = std::floor(*t / 100) - hh * 100;
    const double ss = *t - hh * 10000 - mm * 100;
    if (mm >= 60 || ss >= 61) return std::nullopt;  // 60.x: a leap second
    return hh * 3600 + mm * 60 + ss;
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
    const LatLonRad home = HomeFromLocator(locator);
    home_ = {static_cast<double>(home.lat / kRadPerDeg),
             static_cast<double>(home.lon / kRadPerDeg)};
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
    recent_.clear();
    recentPositions_.clear();
    bands_.assign(kBands, Band{});
    firstAltM_.reset();
    launchSeen_ = false;
    ascentSeen_ = false;
    landed_ = false;
    vrateSeaLevelMps_.reset();
    beforeMax_.reset();
    maxPoint_.reset();
    afterMax_.clear();
}

bool FlightAnalytics::AddRecord(std::string_view record) {
    const auto sod = SecondsOfDay(common::ExtractField(record, 2, ','));
    const std::string altText = common::ExtractField(record, 10, ',');
    const auto alt = altText.empty() ? std::nullopt : common::ParseDouble(altText);
    if (!sod || !alt) return false;

    FlightPoint p;
    p.altitudeM = *alt;
    const auto lat = Coordinate(record, 3, 'S', 90);
    const auto lon = Coordinate(record, 5, 'W', 180);
    if (lat && lon) p.position = LatLonDeg{*lat, *lon};

    double offset = dayOffsetS_;
    if (lastSecondOfDay_) {
        // More than half a day back is the pass through midnight; anything else that goes
        // back or stands still is a late or repeated record (several stations hear one frame).
        if (*sod - *lastSecondOfDay_ < -kSecondsPerDay / 2) offset += kSecondsPerDay;
        p.timeS = *sod + offset;
        if (p.timeS <= state_.last->timeS || p.timeS - state_.last->timeS > kSecondsPerDay / 2)
            return false;
        if (!Plausible(p)) {
            if (++rejectedInRow_ < kRejectsBeforeRestart) return false;
            StartFlight();
            offset = 0;
        }
    }
    p.timeS = *sod + offset;
    rejectedInRow_ = 0;
    dayOffsetS_ = offset;
    lastSecondOfDay_ = *sod;
    Take(p);
    return true;
}

bool FlightAnalytics::Plausible(const FlightPoint& p) const {
    const FlightPoint& last = *state_.last;
    if (std::abs(p.altitudeM - last.altitudeM) > kMaxVerticalMps * (p.timeS - last.timeS))
        return false;
    if (p.position && !recentPositions_.empty()) {
        const FlightPoint& lp = recentPositions_.back();
        const Displacement d = Between(*lp.position, *p.position);
        if (std::hypot(d.eastM, d.northM) > kMaxHorizontalMps * (p.timeS - lp.timeS)) return false;
    }
    return true;
}

void FlightAnalytics::Take(const FlightPoint& p) {
    if (!firstAltM_) firstAltM_ = p.altitudeM;
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
    EstimateLanding();
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
                ascentSeen_ = true;
                launchSeen_ = launchSeen_ || *firstAltM_ < kLaunchSiteCeilingM;
            } else if (*rate < -kMovingMps) {
                state_.phase = FlightPhase::Descent;
            } else {
                state_.phase = FlightPhase::Ground;
                launchSeen_ = true;
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
                *rate < kBurstRateMps) {
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
            }
            break;
    }
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
    const Displacement d = Between(*from.position, *to.position);
    // The segment's drift is shared among the bands it crossed, by the height it spent in each.
    const int lo = std::clamp(static_cast<int>(std::floor(h1 / kBandM)), 0, kBands - 1);
    const int hi = std::clamp(static_cast<int>(std::floor(h2 / kBandM)), 0, kBands - 1);
    for (int b = lo; b <= hi; ++b) {
        const double bottom = b == 0 ? h1 : std::max(h1, b * kBandM);
        const double top = b == kBands - 1 ? h2 : std::min(h2, (b + 1) * kBandM);
        const double share = (top - bottom) / (h2 - h1);
        if (share <= 0) continue;
        bands_[b].eastM += d.eastM * share;
        bands_[b].northM += d.northM * share;
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
    const Displacement d = Between(*from.position, *last.position);
    return Velocity{d.eastM / dt, d.northM / dt};
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
        Displacement total;
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
                total.eastM += v->eastMps * dt;
                total.northM += v->northMps * dt;
            }
            if (wind) windSeconds += dt;
            driftSeconds += dt;
        }
        e.secondsToLanding = seconds;
        e.landingTimeS = now.timeS + seconds;
        e.point = Moved(e.point, total);
        e.ascentWindShare = driftSeconds > 0 ? windSeconds / driftSeconds : 0;
    } else {
        return;
    }
    e.locator = common::LatLonToLocator(e.point.lon, e.point.lat).value_or("");
    if (const auto car = homeSource_ ? homeSource_() : std::nullopt) {
        const Geodesic g = GeodesicBetween(*car, e.point);
        e.homeKm = g.km;
        e.bearingDeg = g.bearingDeg;
    } else {
        DistanceAndBearing(home_, e.point, e.homeKm, e.bearingDeg);
    }
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
    // 359.6 degrees is due north, not "360".
    const auto bearing = l ? std::optional(std::round(l->bearingDeg)) : std::nullopt;
    add("land_bearing", bearing && *bearing >= 360 ? std::optional(0.0) : bearing, 0);
    line += '\n';
    return line;
}

}  // namespace monitor
