#include "monitor/headless_predict.h"

#include <ostream>

#include "common/numbers.h"
#include "monitor/io/grib_winds.h"

namespace monitor {

namespace {

constexpr double kTrajectoryStepS = 60;

std::string Coordinates(const LatLonDeg& p) {
    return common::FormatFixed(p.lat, 15, 5) + ", " + common::FormatFixed(p.lon, 15, 5);
}

}  // namespace

std::string FormatTrajectoryLine(int k, const TrajectoryPoint& p) {
    return "trajectory=" + std::to_string(k) + "\tutc=" + UtcText(p.timeS).substr(11, 8) +
           "\tlat=" + common::FormatFixed(p.position.lat, 15, 5) +
           "\tlon=" + common::FormatFixed(p.position.lon, 15, 5) +
           "\talt=" + common::FormatFixed(p.altitudeM, 15, 0) + "\n";
}

int RunPredict(const LaunchAt& launch, const ChaseSettings& chase, std::ostream& out,
               std::ostream& err) {
    std::string error;
    const auto winds = ReadGribWinds(chase.windsPath, error);
    if (!winds) {
        err << "pelmora: " << error << '\n';
        return 1;
    }
    err << "pelmora: model winds from \"" << chase.windsPath << "\": " << winds->Describe() << '\n';
    TrajectoryPoint stopped;
    const auto t = PredictLaunch(*winds, launch.point, launch.unixS, chase.analytics, &stopped);
    if (!t) {
        err << "pelmora: the model has no wind at " << Coordinates(stopped.position) << ", "
            << common::FormatFixed(stopped.altitudeM, 15, 0) << " m, "
            << UtcText(stopped.timeS).substr(0, 16)
            << " UTC: the flight leaves its region or its times\n";
        return 1;
    }
    int k = 1;
    for (double s = t->path.front().timeS; s <= t->landing.timeS; s += kTrajectoryStepS)
        out << FormatTrajectoryLine(k++, PointAtTime(t->path, s));
    out << FormatPredictionLine(0, MakePrediction(*t, LaunchPlan(chase.analytics), launch.unixS));
    out.flush();
    return 0;
}

}  // namespace monitor
