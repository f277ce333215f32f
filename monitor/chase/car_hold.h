// The car's fix lost (a tunnel, a dead antenna) is bridged: the last position stays home for a
// while, so the distances do not jump to the typed locator's square and back, and each change
// is said. Plain C++; the clock is passed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "monitor/chase/car.h"

namespace monitor {

// How long the last position stays home after the last fix came, by default.
inline constexpr double kDefaultCarHoldS = 300;

enum class CarHomeKind {
    None,     // never a fix (or GPS off): home is the locator
    Fix,      // the car's current fix
    Holding,  // no fix: the last position, for up to the hold
    Expired,  // no fix for longer than the hold: the locator again
};

struct CarHomeState {
    CarHomeKind kind = CarHomeKind::None;
    std::optional<CarFix> fix;  // Fix: the fix; Holding: the last position, without motion
    double noFixS = 0;          // Holding and Expired: seconds since the last fix came
};

// What `car` makes home at `nowMs` with a hold of `holdS` seconds.
CarHomeState CarHomeAt(const CarTracker& car, std::int64_t nowMs, double holdS);

// Tells each change of CarHomeKind once: the fix lost ("car GPS: no fix, holding the last
// position"), the hold over ("car GPS: no fix for 300 s, home is the locator again"), a fix
// again.
class CarHoldNotice {
  public:
    // The message for a change since the last look; empty when there is none.
    std::string Check(const CarHomeState& home, double holdS);

  private:
    CarHomeKind said_ = CarHomeKind::None;
};

// carhold=N, then age_s (whole seconds since the last fix), hold_lat and hold_lon (6 decimals)
// and probe_km and land_km from the held position (3 decimals, empty when unknown); one line with
// "\n", empty unless `home` is Holding.
std::string FormatCarHoldLine(std::size_t recordNumber, const CarHomeState& home,
                              const FlightState& probe);

}  // namespace monitor
