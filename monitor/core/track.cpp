#include "monitor/core/track.h"

#include <algorithm>
#include <cmath>

#include "common/locator.h"
#include "common/numbers.h"
#include "common/text.h"

namespace monitor {

namespace {

// Steps shorter than this (about 0.6 m) have no meaningful direction: it is GPS
// jitter, and the arccos-derived angle has lost most of its digits there.
constexpr long double kMinCourseStepRad = 1e-7L;

// Beyond this a "time" field is garbage, and truncating it to an integer would overflow.
constexpr double kMaxTimeText = 1e10;

long double CentralAngle(const LatLonRad& a, const LatLonRad& b) {
    return ArcCosClamped(std::cos(b.lon - a.lon) * std::cos(a.lat) * std::cos(b.lat) +
                         std::sin(a.lat) * std::sin(b.lat));
}

}  // namespace

LatLonRad HomeFromLocator(std::string_view locator) {
    const auto deg =
        common::LocatorToLatLon(common::IsValidLocator(locator) ? locator : kDefaultLocator);
    return LatLonRad{deg.lat * kPi / 180.0L, deg.lon * kPi / 180.0L};
}

long double NmeaToRadians(long double x) {
    const long double g = std::trunc(x / 100.0L);
    const long double r = x / 100.0L - g;
    return (g + r / 0.6L) * kRadPerDeg;
}

long double ArcCosClamped(long double x) {
    return std::acos(std::clamp(x, -1.0L, 1.0L));
}

std::optional<std::int64_t> TimeValue(double t) {
    if (!(t >= 0 && t < kMaxTimeText)) return std::nullopt;
    const double a = t / 100.0;
    const double s = (a - std::trunc(a)) / 0.6;  // seconds as a fraction of a minute
    const double hm = std::trunc(a) / 100.0;
    const double m = (hm - std::trunc(hm)) * 100.0;
    const double f = (m + s) * 60.0 / 3600.0;  // minutes and seconds as a fraction of an hour
    return static_cast<std::int64_t>(
        std::trunc(std::trunc(hm) * kTimeUnitsPerHour + f * kTimeUnitsPerHour));
}

TrackStepResult TrackStep(std::string_view record, TrackState& state) {
    TrackStepResult out;
    const std::string timeText = common::ExtractField(record, 2, ',');
    const auto t = common::ParseDouble(timeText);
    const auto tv = t ? TimeValue(*t) : std::nullopt;
    if (!tv) {
        out.error = common::NotANumberText("time", timeText);
        return out;
    }
    out.timeValue = *tv;

    const std::string latText = common::ExtractField(record, 3, ',');
    const std::string lonText = common::ExtractField(record, 5, ',');
    if (latText.empty() || lonText.empty()) return out;
    const auto lat = common::ParseDouble(latText);
    if (!lat) {
        out.error = common::NotANumberText("latitude", latText);
        return out;
    }
    const auto lon = common::ParseDouble(lonText);
    if (!lon) {
        out.error = common::NotANumberText("longitude", lonText);
        return out;
    }
    out.hasPosition = true;
    const LatLonRad here{NmeaToRadians(*lat), NmeaToRadians(*lon)};

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
        if (course >= 360.0L) course = 0;
        out.courseDeg = static_cast<double>(course);
    }
    out.stepKm = static_cast<double>(sigma * kEarthRadiusKm);
    out.homeKm = static_cast<double>(CentralAngle(state.home, here) * kEarthRadiusKm);
    state.previous = here;
    return out;
}

}  // namespace monitor
