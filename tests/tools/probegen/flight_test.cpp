#include "tools/probegen/flight.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/atmosphere.h"

using probegen::FlightOptions;
using probegen::SimulateFlight;

TEST(EncodeWords, StationScalingGivesTheValuesBack) {
    probegen::Telemetry t;
    t.frameNumber = 77;
    t.batteryV = 2.996;
    t.insideTwiceC = -3;
    t.outsideTwiceC = -113;
    t.pressureHpa = 1013.2;
    const auto w = probegen::EncodeWords(t);
    EXPECT_EQ(w[2], 749);  // x 4 / 1000 = 2.996 V
    EXPECT_EQ(static_cast<std::int8_t>(w[13] & 0xFF), -3);
    EXPECT_EQ(static_cast<std::int8_t>(w[14] & 0xFF), -113);
    EXPECT_EQ(w[15], 10132);
    EXPECT_EQ(w[0], 77);
}

TEST(SimulateFlight, AscendsBurstsDescendsAndLands) {
    FlightOptions o;  // 300 frames, 30 s apart
    const auto flight = SimulateFlight(o);
    ASSERT_EQ(flight.size(), 300u);
    EXPECT_DOUBLE_EQ(flight[0].telemetry.fix.altitudeM, o.launchAltM);
    EXPECT_NEAR(flight[10].telemetry.fix.altitudeM, o.launchAltM + 10 * 30 * o.ascentMps, 0.1);

    auto top = std::max_element(flight.begin(), flight.end(), [](const auto& a, const auto& b) {
        return a.telemetry.fix.altitudeM < b.telemetry.fix.altitudeM;
    });
    EXPECT_GE(top->telemetry.fix.altitudeM, o.burstAltM - 30 * o.ascentMps);
    EXPECT_LE(top->telemetry.fix.altitudeM, o.burstAltM + 30 * o.ascentMps);
    // Thin air: falls much faster just after the burst than near the ground.
    const auto after = top + 1;
    EXPECT_GT(top->telemetry.fix.altitudeM - after->telemetry.fix.altitudeM, 30 * 20.0);
    EXPECT_DOUBLE_EQ(flight.back().telemetry.fix.altitudeM, o.launchAltM);
    EXPECT_DOUBLE_EQ(flight[flight.size() - 2].telemetry.fix.longitudeDeg,
                     flight.back().telemetry.fix.longitudeDeg);  // landed: no more drift

    // Drift: eastwards with the westerlies, tens of kilometres.
    const double eastKm = (flight.back().telemetry.fix.longitudeDeg - o.launchLonDeg) * 111.32 *
                          std::cos(o.launchLatDeg * 3.14159265 / 180);
    EXPECT_GT(eastKm, 30);
    EXPECT_LT(eastKm, 400);
}

// The sink rate over the fall, from one frame to the next, every 10 s.
std::vector<std::pair<double, double>> FallRates(double exponent) {
    FlightOptions o;
    o.stepS = 10;
    o.frames = 1300;
    o.descentExponent = exponent;
    const auto flight = SimulateFlight(o);
    std::vector<std::pair<double, double>> rates;  // mid altitude, m/s
    for (std::size_t i = 1; i < flight.size(); ++i) {
        const double a = flight[i - 1].telemetry.fix.altitudeM,
                     b = flight[i].telemetry.fix.altitudeM;
        if (b < a && b > o.launchAltM) rates.emplace_back((a + b) / 2, (a - b) / o.stepS);
    }
    return rates;
}

TEST(SimulateFlight, TheFallFollowsItsDensityExponent) {
    for (double k : {0.0, -0.3, -0.5}) {
        const auto rates = FallRates(k);
        ASSERT_GT(rates.size(), 100u) << k;
        for (const auto& [alt, mps] : rates)
            ASSERT_NEAR(mps, 5.0 * std::pow(common::StandardDensityRatio(alt), k), 0.03 * mps)
                << "exponent " << k << " at " << alt << " m";
    }
}

TEST(SimulateFlight, MeasurementsFollowTheAltitude) {
    const auto flight = SimulateFlight(FlightOptions{});
    for (std::size_t i = 0; i < flight.size(); ++i) {
        const auto& t = flight[i].telemetry;
        const double alt = t.fix.altitudeM;
        EXPECT_NEAR(t.pressureHpa, common::StandardPressureHpa(alt), 0.06) << i;
        EXPECT_NEAR(t.outsideTwiceC / 2.0, common::StandardTemperatureC(alt), 0.5) << i;
        // The box keeps its own warmth on the way up; on the way down it lags the warming air.
        if (alt > flight[i > 0 ? i - 1 : 0].telemetry.fix.altitudeM) {
            EXPECT_GT(t.insideTwiceC, t.outsideTwiceC) << i;
        }
        EXPECT_GE(t.fix.satellites, 6);
        EXPECT_LE(t.fix.satellites, 12);
        EXPECT_GT(t.batteryV, 2.5);
        EXPECT_LE(t.batteryV, 3.0);
        EXPECT_EQ(flight[i].words, probegen::EncodeWords(t));
        EXPECT_EQ(flight[i].sentence, probegen::GgaSentence(t.fix));
        EXPECT_EQ(t.fix.secondsOfDay, (10 * 3600 + 30 * static_cast<int>(i)) % 86400);
    }
}

TEST(SimulateFlight, SameSeedSameFlightOtherSeedOtherJitter) {
    FlightOptions a, b;
    a.frames = b.frames = 50;
    b.seed = 2;
    const auto x = SimulateFlight(a), y = SimulateFlight(a), z = SimulateFlight(b);
    bool differs = false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        EXPECT_EQ(x[i].sentence, y[i].sentence);
        EXPECT_EQ(x[i].words, y[i].words);
        differs = differs || x[i].words != z[i].words || x[i].sentence != z[i].sentence;
    }
    EXPECT_TRUE(differs);
}

TEST(SimulateFlight, TimeCrossesMidnight) {
    FlightOptions o;
    o.frames = 3;
    o.stepS = 1;
    o.startSecondsOfDay = 86399;
    const auto f = SimulateFlight(o);
    EXPECT_EQ(f[0].telemetry.fix.secondsOfDay, 86399);
    EXPECT_EQ(f[1].telemetry.fix.secondsOfDay, 0);
}
