#include "monitor/core/track.h"

#include <cmath>

#include "common/locator.h"
#include "common/numbers.h"

namespace monitor {

namespace {

using common::sphere::ArcCosClamped;
using common::sphere::CentralAngle;

// Steps shorter than this (about 0.6 m) have no meaningful direction: it is GPS
// jitter, and the arccos-derived angle has lost most of its digits there.
constexpr long double kMinCourseStepRad = 1e-7L;
constexpr long double kPi = 3.1415926535897932385L;

}  // namespace

LatLonRad HomeFromLocator(std::string_view locator) {
    const auto deg =
        common::LocatorToLatLon(common::IsValidLocator(locator) ? locator : kDefaultLocator);
    return LatLonRad{deg.lat * kPi / 180.0L, deg.lon * kPi / 180.0L};
}

LatLonDeg HomeFromLocatorDeg(std::string_view locator) {
    const LatLonRad home = HomeFromLocator(locator);
    return {static_cast<double>(home.lat / common::kRadPerDeg),
            static_cast<double>(home.lon / common::kRadPerDeg)};
}

TrackStepResult TrackStep(const common::CountedFields& fix, TrackState& state) {
    TrackStepResult out;
    const auto t = common::ParseDouble(fix.time);
    const auto tv = t ? common::sphere::TimeValue(*t) : std::nullopt;
    if (!tv) {
        out.error = common::NotANumberText("time", fix.time);
        return out;
    }
    out.timeValue = *tv;

    if (fix.latitude.empty() || fix.longitude.empty()) return out;
    const auto lat = common::ParseDouble(fix.latitude);
    if (!lat) {
        out.error = common::NotANumberText("latitude", fix.latitude);
        return out;
    }
    const auto lon = common::ParseDouble(fix.longitude);
    if (!lon) {
        out.error = common::NotANumberText("longitude", fix.longitude);
        return out;
    }
    out.hasPosition = true;
    const LatLonRad here{common::sphere::DdmmToRadians(*lat), common::sphere::DdmmToRadians(*lon)};

    if (state.firstRecord) {
        state.firstRecord = false;
        state.previous = here;
        return out;
    }
    const LatLonRad& prev = state.previous;
    const long double sigma = CentralAngle(prev, here);
    const long double q = std::cos(prev.lat) * std::sin(sigma);
    if (sigma > kMinCourseStepRad && q != 0) {
        long double course =
            ArcCosClamped((std::sin(here.lat) - std::cos(sigma) * std::sin(prev.lat)) / q) /
            (2 * kPi) * 360.0L;
        // The arccos only spans 0..180 degrees; a westward step lies in the other half.
        if (here.lon < prev.lon) course = 360.0L - course;
        out.courseDeg = common::NormalisedBearing(static_cast<double>(course));
    }
    out.stepKm = static_cast<double>(sigma * common::sphere::kRadiusKm);
    out.homeKm = static_cast<double>(CentralAngle(state.home, here) * common::sphere::kRadiusKm);
    state.previous = here;
    return out;
}

}  // namespace monitor
