// Locator and track maths of the monitor: the user's home position, probe positions in
// radians, and per fix the distance travelled, the distance from home and the course.
// Plain C++, all angles in radians unless a name says degrees.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace monitor {

inline constexpr long double kPi = 3.1415926535897932385L;
inline constexpr long double kRadPerDeg = 0.017453292519943295769L;
inline constexpr double kEarthRadiusKm = 6370.0;
inline constexpr std::string_view kDefaultLocator = "JN49EA";

// Time values count 1/10000 hour since midnight UTC.
inline constexpr std::int64_t kTimeUnitsPerHour = 10000;
inline constexpr std::int64_t kTimeUnitsPerDay = 24 * kTimeUnitsPerHour;

// Extended precision: a 10 m step is a central angle of 1.6e-6 rad, and the arccos
// of a value that close to 1 keeps only a few digits in a double.
struct LatLonRad {
    long double lat = 0;
    long double lon = 0;
};

struct LatLonDeg {
    double lat = 0;  // north positive
    double lon = 0;  // east positive
};

// Where home is when something better than the locator knows it (the car's GPS); empty: the
// locator's home.
using HomeSource = std::function<std::optional<LatLonDeg>()>;

// Home position: the south-west corner of the locator's square. A locator that
// common::IsValidLocator rejects (empty, incomplete, lower case) falls back to JN49EA.
LatLonRad HomeFromLocator(std::string_view locator);

// NMEA ddmm.mmmm / dddmm.mmmm to radians; north and east positive.
long double NmeaToRadians(long double x);

// arccos of x clamped into [-1, 1], so rounding just past 1 gives 0, not NaN.
long double ArcCosClamped(long double x);

// hhmmss.sss to 1/10000 hour since midnight (truncated). Empty when the value is
// negative or too large to be a time of day.
std::optional<std::int64_t> TimeValue(double hhmmss);

// Position state carried from fix to fix.
struct TrackState {
    bool firstRecord = true;  // the next fix with a position only primes `previous`
    LatLonRad previous;
    LatLonRad home;
};

struct TrackStepResult {
    std::int64_t timeValue = 0;  // 1/10000 h since midnight
    bool hasPosition = false;    // latitude and longitude were both present
    double stepKm = 0;           // distance since the previous fix
    double homeKm = 0;           // distance from home to this fix
    double courseDeg = 0;        // 0 north, 90 east, 180 south, 270 west
    std::string error;           // non-empty when time, latitude or longitude do not convert
};

// One fix of `record` (a relayed record; ","-fields 2, 3 and 5 are time, latitude and
// longitude). On error nothing in `state` changes.
TrackStepResult TrackStep(std::string_view record, TrackState& state);

}  // namespace monitor
