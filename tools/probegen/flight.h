// A simulated probe flight: ascent, burst, descent under a parachute, drift with altitude-
// dependent wind; air temperature and pressure from the standard atmosphere (common/atmosphere.h).
// Tests read the exact values put into each frame from here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/probegen/frame.h"

namespace probegen {

// What the probe measured for one frame, as it is encoded in the words (already rounded to the
// encodable steps, so a decoder must get these back exactly).
struct Telemetry {
    Fix fix;
    std::uint16_t frameNumber = 0;
    double batteryV = 0;     // word 2 = batteryV * 250
    int insideTwiceC = 0;    // low byte of word 13, signed: 2 x inside temperature in C
    int outsideTwiceC = 0;   // low byte of word 14, signed: 2 x outside temperature in C
    double pressureHpa = 0;  // word 15 = pressureHpa * 10
};

// Words 2, 13, 14 and 15 as the station reads them; the others carry a frame counter, a status
// word and slowly varying sensor-like values.
Words EncodeWords(const Telemetry& t);

struct FrameContent {
    Telemetry telemetry;
    std::string sentence;  // GGA sentence with its "*hh"
    Words words{};
};

struct FlightOptions {
    int frames = 300;
    double stepS = 30.0;  // flight time between frames; 1 s is real time
    double launchLatDeg = 50.1;
    double launchLonDeg = 8.7;
    double launchAltM = 150.0;
    int startSecondsOfDay = 10 * 3600;  // UTC
    double ascentMps = 5.0;
    double burstAltM = 30000.0;
    double descentSeaLevelMps = 5.0;  // parachute sink rate near the ground; faster in thin air
    // The sink rate is descentSeaLevelMps (rho / rho0)^descentExponent: -0.5 for a parachute
    // (the standard law), 0 for a constant rate, between them for a parachute that opens late.
    double descentExponent = -0.5;
    std::uint32_t seed = 1;  // satellites and sensor jitter
};

// The flight's wind at an altitude, east and north, m/s: a light surface wind and a westerly
// jet near 11 km, the same everywhere and at all times.
void WindAt(double altitudeM, double& eastMps, double& northMps);

// frames entries, the first at launch.
std::vector<FrameContent> SimulateFlight(const FlightOptions& options);

}  // namespace probegen
