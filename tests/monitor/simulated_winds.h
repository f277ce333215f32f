// probegen's winds as a weather model gives them: east and north wind and the height of each
// pressure level, the same at every grid point and time, on levels close enough that their
// linear interpolation follows the jet. Tests write them to GRIB2 files; the benchmark uses
// them in memory.
#pragma once

#include <vector>

#include "common/atmosphere.h"
#include "monitor/predict/wind_field.h"
#include "tools/probegen/flight.h"

namespace monitor::testing {

struct SimulatedLevel {
    int pressureHpa = 0;
    double altitudeM = 0;  // geometric, in the standard atmosphere
    double eastMps = 0, northMps = 0;
};

// The altitude at which the standard atmosphere has this pressure.
inline double StandardAltitudeAtHpa(double hpa) {
    double lo = -1000, hi = 60000;
    while (hi - lo > 0.01) {
        const double mid = (lo + hi) / 2;
        (common::StandardPressureHpa(mid) > hpa ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

// 1000 to 125 hPa every 25, 100 to 15 every 5, 10 to 5 every 1: 60 levels up to 36 km.
inline std::vector<SimulatedLevel> SimulatedLevels() {
    std::vector<int> pressures;
    for (int p = 1000; p > 100; p -= 25) pressures.push_back(p);
    for (int p = 100; p > 10; p -= 5) pressures.push_back(p);
    for (int p = 10; p >= 5; --p) pressures.push_back(p);
    std::vector<SimulatedLevel> levels;
    for (int p : pressures) {
        SimulatedLevel l;
        l.pressureHpa = p;
        l.altitudeM = StandardAltitudeAtHpa(p);
        probegen::WindAt(l.altitudeM, l.eastMps, l.northMps);
        levels.push_back(l);
    }
    return levels;
}

// 2026-12-08 06:00 UTC: the simulated flight starts at 10:00 that day.
inline constexpr double kSimulatedModelStartS = 1796709600;

// The levels on a 0.5 degree grid 10 degrees wide around the launch, at 06:00, 12:00 and 18:00.
inline WindField SimulatedWindField(const probegen::FlightOptions& o) {
    WindGrid g;
    g.firstLatDeg = o.launchLatDeg + 5;
    g.latStepDeg = -0.5;
    g.firstLonDeg = o.launchLonDeg - 5;
    g.lonStepDeg = 0.5;
    g.rows = g.columns = 21;
    std::vector<WindTime> times;
    for (int i = 0; i < 3; ++i) {
        WindTime t;
        t.unixS = kSimulatedModelStartS + i * 6 * 3600;
        for (const SimulatedLevel& s : SimulatedLevels()) {
            WindLevel l;
            l.pressureHpa = s.pressureHpa;
            l.eastMps.assign(g.Points(), static_cast<float>(s.eastMps));
            l.northMps.assign(g.Points(), static_cast<float>(s.northMps));
            l.heightM.assign(g.Points(), static_cast<float>(s.altitudeM));
            t.levels.push_back(std::move(l));
        }
        times.push_back(std::move(t));
    }
    return WindField(g, std::move(times));
}

}  // namespace monitor::testing
