// The descent law learnt from a fall: what a fall by a known law gives back, its limits, the
// weight of the recent fixes, and the landing time it gives the chase analytics on probegen's
// falls that do not follow the standard law.
#include "monitor/predict/descent_model.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/chase/flight_analytics.h"
#include "simulated_flight.h"

namespace monitor {
namespace {

// A fall from `fromM` by `law` (its sea-level rate switching to `lowerMps` below `switchM`),
// a fix every `stepS`, down to `toM`.
std::vector<DescentSample> Fall(const DescentLaw& law, double fromM, double toM, double stepS,
                                double switchM = -1e9, double lowerMps = 0) {
    std::vector<DescentSample> fixes;
    double h = fromM, t = 0;
    while (h > toM) {
        fixes.push_back({t, h});
        for (int i = 0; i < 10; ++i) {
            DescentLaw now = law;
            if (h < switchM) now.seaLevelMps = lowerMps;
            h -= now.SinkMps(h) * stepS / 10;
        }
        t += stepS;
    }
    return fixes;
}

TEST(FitDescentLaw, GivesBackTheLawOfTheFall) {
    for (double k : {-0.5, -0.3, 0.0, -0.8, 0.3}) {
        const DescentLaw truth{6.5, k};
        const auto law = FitDescentLaw(Fall(truth, 28000, 12000, 10));
        ASSERT_TRUE(law) << k;
        EXPECT_NEAR(law->exponent, k, 0.02);
        EXPECT_NEAR(law->seaLevelMps, 6.5, 0.1) << k;
    }
}

TEST(FitDescentLaw, KeepsTheExponentWithinItsRange) {
    const auto steep = FitDescentLaw(Fall({5, -1.6}, 25000, 8000, 10));
    ASSERT_TRUE(steep);
    EXPECT_EQ(steep->exponent, kMinDescentExponent);
    const auto inverted = FitDescentLaw(Fall({5, 1.2}, 25000, 8000, 10));
    ASSERT_TRUE(inverted);
    EXPECT_EQ(inverted->exponent, kMaxDescentExponent);
}

TEST(FitDescentLaw, NeedsEnoughFixesAndHeightAndAFall) {
    DescentFitSettings s;
    EXPECT_FALSE(FitDescentLaw(Fall({5, -0.5}, 20000, 20000 - s.minRangeM + 300, 5), s));
    EXPECT_TRUE(FitDescentLaw(Fall({5, -0.5}, 20000, 20000 - s.minRangeM - 300, 5), s));
    // Enough height in too few fixes.
    EXPECT_FALSE(FitDescentLaw(Fall({5, -0.5}, 20000, 15000, 60), s));
    auto rising = Fall({5, -0.5}, 20000, 15000, 10);
    for (auto& f : rising) f.altitudeM = 40000 - f.altitudeM;
    EXPECT_FALSE(FitDescentLaw(rising, s));
    EXPECT_FALSE(FitDescentLaw({}, s));
}

// A parachute that sinks at 8 m/s (sea level) above 8 km and at 5 m/s below: down at 2 km the
// rest of the fall goes by the law of the last minutes rather than by the whole fall's.
TEST(FitDescentLaw, TheRecentFixesWeighMore) {
    const auto fall = Fall({8, -0.5}, 30000, 2000, 10, 8000, 5);
    const double rest = DescentLaw{5, -0.5}.FallSeconds(2000, 0);
    const auto law = FitDescentLaw(fall);
    ASSERT_TRUE(law);
    EXPECT_NEAR(law->FallSeconds(2000, 0), rest, 0.05 * rest);
    DescentFitSettings evenly;
    evenly.halfLifeS = 1e12;
    EXPECT_GT(std::abs(FitDescentLaw(fall, evenly)->FallSeconds(2000, 0) - rest), 0.08 * rest)
        << "the test needs the weights";
}

// probegen's falls off the standard law, replayed to the chase analytics every 10 s: once 3 km
// of the fall are seen the landing time is within 3 % of the time left; the standard law alone
// is not.
struct OffTheLaw {
    double exponent;
    double burstAltM;
    double seaLevelMps;
};

class LearntFall : public ::testing::TestWithParam<OffTheLaw> {};

double WorstShareOff(const probegen::FlightOptions& o, const AnalyticsSettings& settings,
                     bool& learnt) {
    const testing::FlightTruth t = testing::Truth(o);
    FlightAnalytics a(settings);
    const auto frames = probegen::SimulateFlight(o);
    double worst = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::string r = testing::RelayedRecord(frames[i]);
        r.pop_back();
        a.AddRecord(r);
        const double s = testing::FlightSeconds(o, i);
        const FlightState& st = a.State();
        if (s < t.burstTimeS || st.last->altitudeM > t.burstAltM - 3000 || !st.landing ||
            st.phase != FlightPhase::Descent)
            continue;
        learnt = st.descentLearnt;
        const double left = t.landingTimeS - s;
        const double off = st.landing->landingTimeS - o.startSecondsOfDay - t.landingTimeS;
        // The truth is known to the second.
        worst = std::max(worst, (std::abs(off) - 1) / left);
    }
    return worst;
}

TEST_P(LearntFall, LandingTimeWithinThreePerCentOnceThreeKilometresAreSeen) {
    probegen::FlightOptions o;
    o.stepS = 10;
    o.frames = 1500;
    o.burstAltM = GetParam().burstAltM;
    o.descentSeaLevelMps = GetParam().seaLevelMps;
    o.descentExponent = GetParam().exponent;
    bool learnt = false;
    EXPECT_LE(WorstShareOff(o, {}, learnt), 0.03);
    EXPECT_TRUE(learnt);
    AnalyticsSettings standardOnly;
    standardOnly.descentFit.minFixes = 1 << 30;
    if (o.descentExponent != kStandardDescentExponent) {
        EXPECT_GT(WorstShareOff(o, standardOnly, learnt), 0.1) << "the test needs the fit";
    }
}

INSTANTIATE_TEST_SUITE_P(Falls, LearntFall,
                         ::testing::Values(OffTheLaw{-0.3, 30000, 5}, OffTheLaw{0, 18300, 9},
                                           OffTheLaw{-0.5, 30000, 5}),
                         [](const auto& info) {
                             const double k = info.param.exponent;
                             return k == 0      ? std::string("ConstantRate")
                                    : k == -0.5 ? std::string("StandardLaw")
                                                : std::string("Exponent03");
                         });

}  // namespace
}  // namespace monitor
