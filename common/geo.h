// Where and when on the earth, in one place: times of day from NMEA hhmmss, positions from NMEA
// ddmm.mmmm, and distances and bearings. Chase figures are measured on the WGS84 ellipsoid
// (GeographicLib); the monitor's record displays keep their own arithmetic on a 6370 km sphere,
// kept here as named variants so that nobody mistakes one for the other.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace common {

struct LatLonDeg {
    double lat = 0;  // north positive
    double lon = 0;  // east positive

    bool operator==(const LatLonDeg&) const = default;
};

inline constexpr double kSecondsPerDay = 86400;
inline constexpr long double kRadPerDeg = 0.017453292519943295769L;

// Seconds since midnight of an NMEA time hhmmss[.sss]: hours 0..23, minutes 0..59, seconds
// below 61 (a leap second reads 60.x). Empty when it is no number or out of range.
std::optional<double> SecondsOfDay(std::string_view hhmmss);
// The same for a time written as the probe writes it: at least six digits before any ".", only
// digits and one "."; whole seconds, the fraction dropped, seconds up to 60.
std::optional<int> StrictWholeSecondsOfDay(std::string_view hhmmss);

// ddmm.mmmm (dddmm.mmmm) of a non-negative value to degrees: 5133.0000 -> 51.55.
double DegreesFromDdmm(double ddmm);

// Distance and initial true bearing on WGS84.
struct Geodesic {
    double km = 0;
    double bearingDeg = 0;  // [0, 360)
};
Geodesic GeodesicBetween(const LatLonDeg& from, const LatLonDeg& to);

// Angle above the horizon of `to` seen from `from`, heights in metres, on the ellipsoid: the
// earth's curve lowers a far probe.
double ElevationDeg(const LatLonDeg& from, double fromHeightM, const LatLonDeg& to,
                    double toHeightM);

// Any angle into [0, 360).
double NormalisedBearing(double deg);
// A bearing rounded to `decimals` as it is shown: 359.96 to one decimal is 0.0, never 360.0.
double ShownBearing(double deg, int decimals);

// East and north metres between two points on the plane tangent at their mean latitude, and a
// point moved by such an offset: good to a fraction of a per cent over a balloon's drift, and
// cheap enough for every point of a plot. On the displays' sphere.
struct EastNorthM {
    double east = 0;
    double north = 0;
};
EastNorthM PlaneOffset(const LatLonDeg& from, const LatLonDeg& to);
LatLonDeg PlaneMoved(const LatLonDeg& from, const EastNorthM& by);

// The monitor's record displays: great circles on a sphere of 6370 km, positions in radians as
// extended-precision values (a 10 m step is a central angle of 1.6e-6 rad, and the arccos of a
// value that close to 1 keeps only a few digits in a double).
namespace sphere {

inline constexpr double kRadiusKm = 6370.0;

struct LatLonRad {
    long double lat = 0;
    long double lon = 0;
};

// ddmm.mmmm to radians, north and east positive.
long double DdmmToRadians(long double ddmm);
// arccos of x clamped into [-1, 1], so rounding just past 1 gives 0, not NaN.
long double ArcCosClamped(long double x);
long double CentralAngle(const LatLonRad& a, const LatLonRad& b);

// Time values count 1/10000 hour since midnight UTC.
inline constexpr std::int64_t kTimeUnitsPerHour = 10000;
inline constexpr std::int64_t kTimeUnitsPerDay = 24 * kTimeUnitsPerHour;
// hhmmss.sss to 1/10000 hour since midnight, truncated, by the displays' own arithmetic (which
// reads 996060 as a time of day too). Empty when the value is negative or too large for one.
std::optional<std::int64_t> TimeValue(double hhmmss);

}  // namespace sphere

}  // namespace common
