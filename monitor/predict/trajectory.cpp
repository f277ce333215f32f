#include "monitor/predict/trajectory.h"

#include <algorithm>
#include <cmath>

namespace monitor {

std::string_view WindsUsedName(WindsUsed w) {
    switch (w) {
        case WindsUsed::Model:
            return "model";
        case WindsUsed::Mixed:
            return "mixed";
        case WindsUsed::Measured:
            break;
    }
    return "measured";
}

std::optional<Trajectory> FlyTrajectory(const TrajectoryPoint& start, const FlightPlan& plan,
                                        const WindLookup& winds, double stepM,
                                        TrajectoryPoint* stoppedAt) {
    Trajectory t;
    TrajectoryPoint at = start;
    t.path.push_back(at);
    bool measured = false, model = false;
    // One step from `at` to altitude `to` taking `seconds`.
    auto step = [&](double to, double seconds) {
        const auto w = winds(at.position, (at.altitudeM + to) / 2, at.timeS + seconds / 2);
        if (!w) {
            if (stoppedAt) *stoppedAt = at;
            return false;
        }
        (w->origin == WindOrigin::Model ? model : measured) = true;
        at.position =
            common::PlaneMoved(at.position, {w->eastMps * seconds, w->northMps * seconds});
        at.altitudeM = to;
        at.timeS += seconds;
        t.path.push_back(at);
        return true;
    };
    if (plan.ascending) {
        while (at.altitudeM < plan.burstAltM) {
            const double to = std::min(plan.burstAltM, at.altitudeM + stepM);
            if (!step(to, (to - at.altitudeM) / plan.ascentMps)) return std::nullopt;
        }
        t.burst = at;
    }
    while (at.altitudeM > plan.landingAltM) {
        const double to = std::max(plan.landingAltM, at.altitudeM - stepM);
        if (!step(to, plan.descent.FallSeconds(at.altitudeM, to))) return std::nullopt;
    }
    t.landing = at;
    t.winds = measured && model ? WindsUsed::Mixed : model ? WindsUsed::Model : WindsUsed::Measured;
    return t;
}

WindLookup ModelWindLookup(const WindField& field) {
    return [&field](const LatLonDeg& p, double altitudeM, double unixS) -> std::optional<WindAt> {
        const auto w = field.At(p, altitudeM, unixS);
        if (!w) return std::nullopt;
        return WindAt{w->eastMps, w->northMps, WindOrigin::Model};
    };
}

TrajectoryPoint PointAtTime(const std::vector<TrajectoryPoint>& path, double timeS) {
    if (path.empty()) return {};
    if (timeS <= path.front().timeS) return path.front();
    if (timeS >= path.back().timeS) return path.back();
    auto next = std::upper_bound(path.begin(), path.end(), timeS,
                                 [](double t, const TrajectoryPoint& p) { return t < p.timeS; });
    const TrajectoryPoint& a = *(next - 1);
    const TrajectoryPoint& b = *next;
    const double f = (timeS - a.timeS) / (b.timeS - a.timeS);
    TrajectoryPoint p;
    p.timeS = timeS;
    p.altitudeM = a.altitudeM + (b.altitudeM - a.altitudeM) * f;
    const common::EastNorthM d = common::PlaneOffset(a.position, b.position);
    p.position = common::PlaneMoved(a.position, {d.east * f, d.north * f});
    return p;
}

}  // namespace monitor
