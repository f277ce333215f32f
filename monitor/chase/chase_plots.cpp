#include "monitor/chase/chase_plots.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/geo.h"
#include "common/numbers.h"

namespace monitor {

namespace {

constexpr double kMarginPx = 16;  // room for ring labels and the points on the outer ring
constexpr int kMaxRings = 4;
// The plot area inside the altitude plot's axis labels.
constexpr double kAxisLeftPx = 44, kAxisBottomPx = 18, kAxisTopPx = 8, kAxisRightPx = 10;
constexpr double kMarkHalfPx = 8;  // the landing cross's half-width with its pen, and a pixel
constexpr double kSecondsPerDay = 86400;

std::string HourMinute(double flightS) {
    const long s = static_cast<long>(std::fmod(std::floor(flightS), kSecondsPerDay));
    const long h = s / 3600, m = s / 60 % 60;
    return (h < 10 ? "0" : "") + std::to_string(h) + ":" + (m < 10 ? "0" : "") + std::to_string(m);
}

}  // namespace

double NiceStep(double value, int parts) {
    const double raw = std::max(value, 1e-9) / parts;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw * (1 - 1e-12)) return m * power;
    return 10 * power;
}

std::string PlainNumber(double v) {
    std::string s = common::FormatFixed(v, 15, 3);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

GroundTrackView MakeGroundTrackView(const LatLonDeg& home, const std::vector<FlightPoint>& track,
                                    const std::optional<LatLonDeg>& landing, double widthPx,
                                    double heightPx, const std::optional<CarOnPlot>& car) {
    auto km = [&](const LatLonDeg& p) {
        const common::EastNorthM d = common::PlaneOffset(home, p);
        return PlotPoint{d.east / 1000, d.north / 1000};
    };
    double extentKm = 1;
    std::optional<LatLonDeg> last;
    for (const FlightPoint& f : track) {
        if (!f.position) continue;
        const PlotPoint k = km(*f.position);
        extentKm = std::max(extentKm, std::hypot(k.x, k.y));
        last = f.position;
    }
    for (const auto& p : {landing, car ? std::optional(car->position) : std::nullopt}) {
        if (!p) continue;
        const PlotPoint k = km(*p);
        extentKm = std::max(extentKm, std::hypot(k.x, k.y));
    }

    GroundTrackView v;
    v.home = {widthPx / 2, heightPx / 2};
    v.ringStepKm = NiceStep(extentKm, kMaxRings);
    const int rings =
        std::clamp(static_cast<int>(std::ceil(extentKm / v.ringStepKm - 1e-9)), 1, kMaxRings);
    const double radiusPx = std::max(1.0, std::min(widthPx, heightPx) / 2 - kMarginPx);
    v.pxPerKm = radiusPx / (rings * v.ringStepKm);
    for (int r = 1; r <= rings; ++r) {
        v.ringRadiiPx.push_back(r * v.ringStepKm * v.pxPerKm);
        v.ringLabels.push_back(PlainNumber(r * v.ringStepKm) + " km");
    }
    auto px = [&](const LatLonDeg& p) { return GroundTrackPixel(v, home, p); };
    for (const FlightPoint& f : track)
        if (f.position) v.track.push_back(px(*f.position));
    if (last) v.last = px(*last);
    if (landing) v.landing = px(*landing);
    if (car) {
        v.carTrack.reserve(car->track.size());
        for (const LatLonDeg& p : car->track) v.carTrack.push_back(px(p));
        v.car = px(car->position);
        v.carHeadingDeg = car->headingDeg;
    }
    return v;
}

PlotPoint GroundTrackPixel(const GroundTrackView& v, const LatLonDeg& home, const LatLonDeg& p) {
    const common::EastNorthM d = common::PlaneOffset(home, p);
    return {v.home.x + d.east / 1000 * v.pxPerKm, v.home.y - d.north / 1000 * v.pxPerKm};
}

AltitudeView MakeAltitudeView(const std::vector<FlightPoint>& track, const FlightState& state,
                              double widthPx, double heightPx) {
    AltitudeView v;
    v.left = kAxisLeftPx;
    v.top = kAxisTopPx;
    v.right = std::max(v.left + 1, widthPx - kAxisRightPx);
    v.bottom = std::max(v.top + 1, heightPx - kAxisBottomPx);
    if (track.empty()) return v;

    const double t0 = track.front().timeS;
    double t1 = track.back().timeS;
    double top = 1000;
    for (const FlightPoint& f : track) top = std::max(top, f.altitudeM);
    if (state.landing) t1 = std::max(t1, state.landing->landingTimeS);
    if (state.burstAltM) top = std::max(top, *state.burstAltM);
    t1 = std::max(t1, t0 + 60);
    // The latest point sits a mark's half-width inside the area, so the landing cross drawn
    // there is not cut in half by the plot's right edge.
    const double widthArea = v.right - v.left;
    if (widthArea > 2 * kMarkHalfPx) t1 = t0 + (t1 - t0) * widthArea / (widthArea - kMarkHalfPx);
    const double altStep = NiceStep(top, 5);
    top = std::ceil(top / altStep - 1e-9) * altStep;

    auto x = [&](double t) { return v.left + (t - t0) / (t1 - t0) * (v.right - v.left); };
    auto y = [&](double h) {
        return v.bottom - std::clamp(h, 0.0, top) / top * (v.bottom - v.top);
    };
    v.profile.reserve(track.size());
    for (const FlightPoint& f : track) v.profile.push_back({x(f.timeS), y(f.altitudeM)});
    if (state.burstAltM && state.burstTimeS)
        v.burst = PlotPoint{x(std::max(t0, *state.burstTimeS)), y(*state.burstAltM)};
    if (state.landing)
        v.landing = PlotPoint{x(state.landing->landingTimeS), y(state.landing->altitudeM)};

    for (double h = 0; h <= top + 1e-6; h += altStep)
        v.altitudeTicks.push_back({y(h), PlainNumber(h / 1000) + " km"});
    constexpr double kMinuteSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 240, 480};
    double stepS = kMinuteSteps[std::size(kMinuteSteps) - 1] * 60;
    // A time label needs about 50 px.
    const double maxTicks = std::clamp(std::floor((v.right - v.left) / 50), 2.0, 6.0);
    for (double m : kMinuteSteps) {
        if ((t1 - t0) / (m * 60) <= maxTicks) {
            stepS = m * 60;
            break;
        }
    }
    for (double t = std::ceil(t0 / stepS) * stepS; t <= t1 + 1e-6; t += stepS)
        v.timeTicks.push_back({x(t), HourMinute(t)});
    return v;
}

}  // namespace monitor
