// A balloon's way from a point on: up at a steady rate to its burst altitude, down under its
// parachute by a descent law to the landing altitude, drifting with the wind at each altitude,
// place and time on the way. Where the winds come from is the caller's: measured ones, a model's,
// or both. Plain C++.
#pragma once

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "common/geo.h"
#include "monitor/predict/descent_model.h"
#include "monitor/predict/wind_field.h"

namespace monitor {

using common::LatLonDeg;

enum class WindOrigin { Measured, Model };

struct WindAt {
    double eastMps = 0, northMps = 0;
    WindOrigin origin = WindOrigin::Measured;
};

// The wind at a place, a geometric altitude and a time (on the trajectory's clock); empty where
// nothing is known.
using WindLookup =
    std::function<std::optional<WindAt>(const LatLonDeg& p, double altitudeM, double timeS)>;

struct TrajectoryPoint {
    double timeS = 0;
    LatLonDeg position;
    double altitudeM = 0;
};

struct FlightPlan {
    bool ascending = true;  // false: already falling, the burst lies behind
    double ascentMps = 5;   // > 0
    double burstAltM = 30000;
    DescentLaw descent;
    double landingAltM = 0;
};

enum class WindsUsed { Measured, Model, Mixed };

// "measured", "model", "mixed".
std::string_view WindsUsedName(WindsUsed w);

struct Trajectory {
    std::vector<TrajectoryPoint> path;  // the start, then after every step, the landing last
    std::optional<TrajectoryPoint> burst;
    TrajectoryPoint landing;
    WindsUsed winds = WindsUsed::Measured;
};

// Steps of `stepM` in altitude, each drifting with the wind at its middle altitude and time,
// looked up where the step begins. Empty when the lookup knows no wind somewhere on the way;
// then `stoppedAt` (when given) is where.
std::optional<Trajectory> FlyTrajectory(const TrajectoryPoint& start, const FlightPlan& plan,
                                        const WindLookup& winds, double stepM = 100,
                                        TrajectoryPoint* stoppedAt = nullptr);

// A model's winds alone, on its clock (seconds since 1970).
WindLookup ModelWindLookup(const WindField& field);

// The point on `path` at a time, linearly between its points; the ends outside it.
TrajectoryPoint PointAtTime(const std::vector<TrajectoryPoint>& path, double timeS);

}  // namespace monitor
