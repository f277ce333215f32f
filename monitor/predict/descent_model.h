// How a probe falls under its parachute: the sink rate as a power of the air density,
// v = v0 (rho / rho0)^k, with v0 the rate at sea-level density. A parachute whose drag grows with
// the square of its speed sinks with k = -0.5, the standard law; a probe whose parachute is
// small, tangled or late does not, and its law is learnt from the fall seen so far. Plain C++.
#pragma once

#include <optional>
#include <span>

namespace monitor {

inline constexpr double kStandardDescentExponent = -0.5;
// A fit may not leave this range: outside it lies no parachute, only noise or a short fall.
inline constexpr double kMinDescentExponent = -1.0;
inline constexpr double kMaxDescentExponent = 0.5;

struct DescentLaw {
    double seaLevelMps = 5;  // sink rate at sea-level density, > 0
    double exponent = kStandardDescentExponent;

    bool operator==(const DescentLaw&) const = default;

    // Sink rate at a geometric altitude (standard atmosphere), m/s, > 0.
    double SinkMps(double altitudeM) const;
    // Seconds to fall from `fromM` down to `toM` (0 when toM >= fromM).
    double FallSeconds(double fromM, double toM) const;
};

struct DescentSample {
    double timeS = 0;  // any clock, increasing
    double altitudeM = 0;
};

struct DescentFitSettings {
    int minFixes = 8;
    double minRangeM = 1500;  // altitude fallen over the fixes used
    double halfLifeS = 600;   // a fix this much older than the newest weighs half as much
    double minSpacingS = 4;   // closer fixes add noise, not knowledge, and cost time

    bool operator==(const DescentFitSettings&) const = default;
};

// The law that fits the fixes of a fall (oldest first, all after the highest point) best in the
// weighted least-squares sense: each fix's time against the time the law needs to fall to its
// altitude, the recent fixes weighing more. Empty while there are too few fixes or too little
// altitude range to tell the exponent, or when the fixes do not fall.
std::optional<DescentLaw> FitDescentLaw(std::span<const DescentSample> fall,
                                        const DescentFitSettings& settings = {});

}  // namespace monitor
