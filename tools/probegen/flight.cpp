#include "tools/probegen/flight.h"

#include "common/atmosphere.h"
#include "common/geo.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace probegen {
namespace {

using common::StandardDensityRatio;
using common::StandardPressureHpa;
using common::StandardTemperatureC;

std::int8_t TwiceCelsius(double c) {
    return static_cast<std::int8_t>(std::clamp(std::lround(2.0 * c), -128L, 127L));
}

// The parachute's sink rate at an altitude.
double SinkMps(const FlightOptions& o, double altitudeM) {
    const double ratio = StandardDensityRatio(altitudeM);
    // The standard law keeps the square root it was always flown with, to the last bit.
    if (o.descentExponent == -0.5) return o.descentSeaLevelMps / std::sqrt(ratio);
    return o.descentSeaLevelMps * std::pow(ratio, o.descentExponent);
}

}  // namespace

void WindAt(double h, double& eastMps, double& northMps) {
    const double jet = (h - 11000.0) / 4000.0;
    eastMps = 4.0 + 26.0 * std::exp(-jet * jet);
    northMps = 1.5 + 3.0 * std::sin(h / 6000.0);
}

Words EncodeWords(const Telemetry& t) {
    Words w{};
    w[0] = t.frameNumber;
    w[1] = 0x0100 | static_cast<std::uint16_t>(t.fix.quality & 0xFF);
    w[2] = static_cast<std::uint16_t>(std::lround(t.batteryV * 250.0));
    // Free words: raw sensor-like readings that follow the measurements.
    for (int k = 3; k <= 12; ++k)
        w[k] = static_cast<std::uint16_t>(1000 + 37 * k + (t.frameNumber * (k + 1)) % 211);
    w[13] = static_cast<std::uint16_t>(0x1200 | static_cast<std::uint8_t>(t.insideTwiceC));
    w[14] = static_cast<std::uint16_t>(0x3400 | static_cast<std::uint8_t>(t.outsideTwiceC));
    w[15] = static_cast<std::uint16_t>(std::lround(t.pressureHpa * 10.0));
    return w;
}

std::vector<FrameContent> SimulateFlight(const FlightOptions& o) {
    std::mt19937 rng(o.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<FrameContent> frames;
    frames.reserve(static_cast<std::size_t>(std::max(0, o.frames)));

    double lat = o.launchLatDeg, lon = o.launchLonDeg, alt = o.launchAltM;
    double insideC = 22.0;
    double flightS = 0;
    bool burst = false, landed = false;
    int satellites = 9;
    constexpr double kSubstepS = 1.0;
    for (int i = 0; i < o.frames; ++i) {
        if (i > 0) {
            for (double t = 0; t < o.stepS; t += kSubstepS) {
                const double dt = std::min(kSubstepS, o.stepS - t);
                if (!landed) {
                    if (!burst) {
                        alt += o.ascentMps * dt;
                        if (alt >= o.burstAltM) burst = true;
                    } else {
                        alt -= SinkMps(o, alt) * dt;
                        if (alt <= o.launchAltM) {
                            alt = o.launchAltM;
                            landed = true;
                        }
                    }
                    double east = 0, north = 0;
                    WindAt(alt, east, north);
                    const common::LatLonDeg moved =
                        common::PlaneMoved({lat, lon}, {east * dt, north * dt});
                    lat = moved.lat;
                    lon = moved.lon;
                }
                const double outsideC = StandardTemperatureC(alt);
                // The insulated box cools slowly towards the air plus its own electronics' heat.
                insideC += (outsideC + 30.0 - insideC) * dt / 1800.0;
            }
            flightS += o.stepS;
            const double r = unit(rng);
            if (r < 0.2 && satellites > 6)
                --satellites;
            else if (r > 0.8 && satellites < 12)
                ++satellites;
        }
        Telemetry t;
        t.frameNumber = static_cast<std::uint16_t>(i);
        t.fix.secondsOfDay = (o.startSecondsOfDay + static_cast<int>(std::lround(flightS))) % 86400;
        t.fix.latitudeDeg = lat;
        t.fix.longitudeDeg = lon;
        t.fix.satellites = satellites;
        t.fix.hdop = std::round((0.6 + 4.0 / satellites) * 10.0) / 10.0;
        t.fix.altitudeM = std::round(alt * 10.0) / 10.0;
        const double jitter = (unit(rng) - 0.5) * 0.4;  // sensor noise, C
        t.insideTwiceC = TwiceCelsius(insideC + jitter);
        t.outsideTwiceC = TwiceCelsius(StandardTemperatureC(alt) + jitter);
        const double coldSag = std::max(0.0, -insideC) * 0.005;
        t.batteryV = std::lround((3.0 - flightS * 2e-5 - coldSag) * 250.0) / 250.0;
        t.pressureHpa = std::lround(StandardPressureHpa(alt) * 10.0) / 10.0;

        FrameContent f;
        f.telemetry = t;
        f.sentence = GgaSentence(t.fix);
        f.words = EncodeWords(t);
        frames.push_back(std::move(f));
    }
    return frames;
}

}  // namespace probegen
