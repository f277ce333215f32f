#include "common/geo.h"

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/LocalCartesian.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/numbers.h"

namespace common {

namespace {

constexpr double kDegToRad = std::numbers::pi / 180.0;
constexpr double kSphereRadiusM = sphere::kRadiusKm * 1000.0;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool HoursMinutesSecondsInRange(double h, double m, double s, double secondsBelow) {
    return h >= 0 && h <= 23 && m >= 0 && m <= 59 && s >= 0 && s < secondsBelow;
}

}  // namespace

std::optional<double> SecondsOfDay(std::string_view hhmmss) {
    const auto t = ParseDouble(hhmmss);
    if (!t || *t < 0 || *t >= 1e6) return std::nullopt;
    const double h = std::floor(*t / 10000), m = std::floor(*t / 100) - h * 100;
    const double s = *t - h * 10000 - m * 100;
    if (!HoursMinutesSecondsInRange(h, m, s, 61)) return std::nullopt;
    return h * 3600 + m * 60 + s;
}

std::optional<int> StrictWholeSecondsOfDay(std::string_view t) {
    if (t.size() < 6 || !std::all_of(t.begin(), t.begin() + 6, IsDigit)) return std::nullopt;
    const std::string_view rest = t.substr(6);
    const auto dot = rest.find('.');
    const auto notDigit = [](char c) { return !IsDigit(c); };
    if (std::count(rest.begin(), rest.end(), '.') > 1 ||
        std::count_if(rest.begin(), rest.end(), notDigit) != (dot == rest.npos ? 0 : 1))
        return std::nullopt;
    auto two = [&t](std::size_t i) { return (t[i] - '0') * 10 + (t[i + 1] - '0'); };
    const int h = two(0), m = two(2), s = two(4);
    if (!HoursMinutesSecondsInRange(h, m, s, 61)) return std::nullopt;
    return h * 3600 + m * 60 + s;
}

double DegreesFromDdmm(double ddmm) {
    const double x = ddmm / 100.0;
    const double d = std::trunc(x);
    return d + (x - d) / 0.6;
}

Geodesic GeodesicBetween(const LatLonDeg& from, const LatLonDeg& to) {
    double metres = 0, azi1 = 0, azi2 = 0;
    GeographicLib::Geodesic::WGS84().Inverse(from.lat, from.lon, to.lat, to.lon, metres, azi1,
                                             azi2);
    return {metres / 1000.0, NormalisedBearing(azi1)};
}

double ElevationDeg(const LatLonDeg& from, double fromHeightM, const LatLonDeg& to,
                    double toHeightM) {
    const GeographicLib::LocalCartesian here(from.lat, from.lon, fromHeightM);
    double east = 0, north = 0, up = 0;
    here.Forward(to.lat, to.lon, toHeightM, east, north, up);
    return std::atan2(up, std::hypot(east, north)) * 180 / std::numbers::pi;
}

double NormalisedBearing(double deg) {
    double d = std::fmod(deg, 360.0);
    if (d < 0) d += 360;
    return d >= 360 ? 0 : d;
}

double ShownBearing(double deg, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double b = std::round(NormalisedBearing(deg) * scale) / scale;
    return b >= 360 ? 0.0 : b;
}

EastNorthM PlaneOffset(const LatLonDeg& a, const LatLonDeg& b) {
    double dLon = b.lon - a.lon;
    if (dLon > 180) dLon -= 360;
    if (dLon < -180) dLon += 360;
    const double meanLat = (a.lat + b.lat) / 2 * kDegToRad;
    return {dLon * kDegToRad * kSphereRadiusM * std::cos(meanLat),
            (b.lat - a.lat) * kDegToRad * kSphereRadiusM};
}

LatLonDeg PlaneMoved(const LatLonDeg& p, const EastNorthM& d) {
    LatLonDeg q;
    q.lat = std::clamp(p.lat + d.north / kSphereRadiusM / kDegToRad, -89.999, 89.999);
    q.lon = p.lon + d.east / (kSphereRadiusM * std::cos(q.lat * kDegToRad)) / kDegToRad;
    q.lon = std::remainder(q.lon, 360.0);
    return q;
}

namespace sphere {

long double DdmmToRadians(long double x) {
    const long double g = std::trunc(x / 100.0L);
    const long double r = x / 100.0L - g;
    return (g + r / 0.6L) * kRadPerDeg;
}

long double ArcCosClamped(long double x) {
    return std::acos(std::clamp(x, -1.0L, 1.0L));
}

long double CentralAngle(const LatLonRad& a, const LatLonRad& b) {
    return ArcCosClamped(std::cos(b.lon - a.lon) * std::cos(a.lat) * std::cos(b.lat) +
                         std::sin(a.lat) * std::sin(b.lat));
}

std::optional<std::int64_t> TimeValue(double t) {
    // Beyond this a "time" field is garbage, and truncating it to an integer would overflow.
    constexpr double kMaxTimeText = 1e10;
    if (!(t >= 0 && t < kMaxTimeText)) return std::nullopt;
    const double a = t / 100.0;
    const double s = (a - std::trunc(a)) / 0.6;  // seconds as a fraction of a minute
    const double hm = std::trunc(a) / 100.0;
    const double m = (hm - std::trunc(hm)) * 100.0;
    const double f = (m + s) * 60.0 / 3600.0;  // minutes and seconds as a fraction of an hour
    return static_cast<std::int64_t>(
        std::trunc(std::trunc(hm) * kTimeUnitsPerHour + f * kTimeUnitsPerHour));
}

}  // namespace sphere

}  // namespace common
