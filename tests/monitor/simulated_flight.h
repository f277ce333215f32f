// probegen's simulated flight as the monitor receives it: one relayed record per frame, and the
// truth to measure estimates against (the flight simulated second by second).
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/probegen/flight.h"

namespace monitor::testing {

inline std::string RelayedRecord(const probegen::FrameContent& f) {
    std::string data;
    char buf[16];
    for (auto w : f.words) {
        std::snprintf(buf, sizeof buf, "%5u, ", static_cast<unsigned>(w));
        data += buf;
    }
    return "DEMO;JN49EA;" + f.sentence + ";" + data + "08.12.2026 10:00:00#";
}

struct FlightTruth {
    double burstTimeS = 0;  // seconds after the first frame
    double burstAltM = 0;
    double landingTimeS = 0;
    double landingLat = 0, landingLon = 0;
};

// The flight as probegen flies it, second by second: it lands when it is back at the launch
// altitude.
inline FlightTruth Truth(probegen::FlightOptions o) {
    o.stepS = 1;
    o.frames = 20000;
    const auto frames = probegen::SimulateFlight(o);
    FlightTruth t;
    bool burst = false;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const auto& fix = frames[i].telemetry.fix;
        if (!burst && fix.altitudeM < frames[i - 1].telemetry.fix.altitudeM) {
            burst = true;
            t.burstTimeS = static_cast<double>(i - 1);
            t.burstAltM = frames[i - 1].telemetry.fix.altitudeM;
        }
        if (burst && fix.altitudeM <= o.launchAltM) {
            t.landingTimeS = static_cast<double>(i);
            t.landingLat = fix.latitudeDeg;
            t.landingLon = fix.longitudeDeg;
            break;
        }
    }
    return t;
}

// Seconds of flight (after the first frame) of a frame of a flight with `o`.
inline double FlightSeconds(const probegen::FlightOptions& o, std::size_t frame) {
    return static_cast<double>(frame) * o.stepS;
}

inline double DistanceKm(double lat1, double lon1, double lat2, double lon2) {
    constexpr double kRad = 3.14159265358979323846 / 180;
    const double x = (lon2 - lon1) * kRad * std::cos((lat1 + lat2) / 2 * kRad);
    const double y = (lat2 - lat1) * kRad;
    return std::hypot(x, y) * 6370.0;
}

}  // namespace monitor::testing
