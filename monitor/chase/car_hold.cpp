#include "monitor/chase/car_hold.h"

#include <cmath>
#include <utility>

#include "common/numbers.h"

namespace monitor {

namespace {

std::string Number(const std::optional<double>& v, int decimals) {
    return v ? common::FormatFixed(*v, 15, decimals) : std::string();
}

std::string Seconds(double s) {
    return std::to_string(static_cast<long long>(std::floor(s)));
}

}  // namespace

CarHomeState CarHomeAt(const CarTracker& car, std::int64_t nowMs, double holdS) {
    CarHomeState home;
    if (auto fix = car.Current(nowMs)) {
        home.kind = CarHomeKind::Fix;
        home.fix = std::move(fix);
        return home;
    }
    const auto& last = car.LastPosition();
    if (!last) return home;
    home.noFixS = static_cast<double>(nowMs - last->arrivalMs) / 1000.0;
    if (home.noFixS > holdS) {
        home.kind = CarHomeKind::Expired;
        return home;
    }
    home.kind = CarHomeKind::Holding;
    // Where the car was, not where it was going: no speed, no heading to steer by.
    CarFix held = *last;
    held.speedKmh.reset();
    held.trackDeg.reset();
    home.fix = held;
    return home;
}

std::string CarHoldNotice::Check(const CarHomeState& home, double holdS) {
    const CarHomeKind was = std::exchange(said_, home.kind);
    if (home.kind == was) return {};
    switch (home.kind) {
        case CarHomeKind::Holding:
            return "car GPS: no fix, holding the last position";
        case CarHomeKind::Expired:
            return holdS > 0
                       ? "car GPS: no fix for " + Seconds(holdS) + " s, home is the locator again"
                       : "car GPS: no fix, home is the locator again";
        case CarHomeKind::Fix:
            return was == CarHomeKind::None ? std::string() : "car GPS: fix again";
        case CarHomeKind::None:
            break;
    }
    return {};
}

std::string FormatCarHoldLine(std::size_t n, const CarHomeState& home, const FlightState& probe) {
    if (home.kind != CarHomeKind::Holding || !home.fix) return {};
    const CarFigures f = MakeCarFigures(home.fix, probe);
    return "carhold=" + std::to_string(n) + "\tage_s=" + Seconds(home.noFixS) +
           "\thold_lat=" + Number(home.fix->position.lat, 6) +
           "\thold_lon=" + Number(home.fix->position.lon, 6) +
           "\tprobe_km=" + Number(f.toProbe ? std::optional(f.toProbe->km) : std::nullopt, 3) +
           "\tland_km=" + Number(f.toLanding ? std::optional(f.toLanding->km) : std::nullopt, 3) +
           "\n";
}

}  // namespace monitor
