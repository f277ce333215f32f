// Locator and track maths of the record displays: the user's home position, and per fix the
// distance travelled, the distance from home and the course, on the displays' 6370 km sphere
// (common/geo.h). Plain C++, angles in radians unless a name says degrees.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/geo.h"
#include "common/record.h"

namespace monitor {

using common::LatLonDeg;
using LatLonRad = common::sphere::LatLonRad;

inline constexpr std::string_view kDefaultLocator = "JN49EA";

// Where home is when something better than the locator knows it (the car's GPS); empty: the
// locator's home.
using HomeSource = std::function<std::optional<LatLonDeg>()>;

// Home position: the south-west corner of the locator's square. A locator that
// common::IsValidLocator rejects (empty, incomplete, lower case) falls back to JN49EA.
LatLonRad HomeFromLocator(std::string_view locator);
LatLonDeg HomeFromLocatorDeg(std::string_view locator);

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

// One fix from the time, latitude and longitude as the displays count them. On error nothing in
// `state` changes.
TrackStepResult TrackStep(const common::CountedFields& fix, TrackState& state);

}  // namespace monitor
