// The chase analytics against probegen's simulated flight replayed as relayed records: burst,
// landing time and place, and what gaps, missing positions and midnight must not disturb.
#include "monitor/chase/flight_analytics.h"

#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/text.h"
#include "records.h"
#include "simulated_flight.h"

namespace monitor {
namespace {

using testing::DistanceKm;
using testing::FlightTruth;

// Returns false to drop the record; may change it.
using Edit = std::function<bool(std::size_t frame, std::string& record)>;

struct Step {
    double flightS = 0;  // of the record's frame
    bool taken = false;
    FlightState state;
};

std::vector<Step> Replay(const probegen::FlightOptions& o, const Edit& edit = {},
                         const AnalyticsSettings& settings = {}) {
    FlightAnalytics a(settings);
    std::vector<Step> steps;
    const auto frames = probegen::SimulateFlight(o);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::string r = testing::RelayedRecord(frames[i]);
        r.pop_back();  // "#"
        if (edit && !edit(i, r)) continue;
        Step s;
        s.flightS = testing::FlightSeconds(o, i);
        s.taken = a.AddRecord(r);
        s.state = a.State();
        steps.push_back(s);
    }
    return steps;
}

probegen::FlightOptions Flight(double stepS) {
    probegen::FlightOptions o;  // as scripts/run flies it: 5 m/s up, burst at 30 km
    o.stepS = stepS;
    o.frames = static_cast<int>(9000 / stepS);
    return o;
}

// Worst landing errors over the records between `fromS` and `toS` before the landing.
struct Errors {
    double km = 0, s = 0;
    int estimates = 0, records = 0;
};
Errors LandingErrors(const std::vector<Step>& steps, const probegen::FlightOptions& o,
                     const FlightTruth& t, double fromS, double toS = 0) {
    Errors e;
    for (const Step& s : steps) {
        const double before = t.landingTimeS - s.flightS;
        if (before > fromS || before <= toS) continue;
        ++e.records;
        if (!s.state.landing) continue;
        ++e.estimates;
        const auto& l = *s.state.landing;
        e.s = std::max(e.s, std::abs(l.landingTimeS - o.startSecondsOfDay - t.landingTimeS));
        e.km = std::max(e.km, DistanceKm(l.point.lat, l.point.lon, t.landingLat, t.landingLon));
    }
    return e;
}

// The flight at the cadence scripts/run sends it (a frame every 30 s) and at real time.
class SimulatedFlight : public ::testing::TestWithParam<double> {};

TEST_P(SimulatedFlight, BurstAndLandingAreFoundInTime) {
    const probegen::FlightOptions o = Flight(GetParam());
    const FlightTruth t = testing::Truth(o);
    const auto steps = Replay(o);

    const Step* detected = nullptr;
    for (const Step& s : steps) {
        if (s.flightS < t.burstTimeS) {
            EXPECT_NE(s.state.phase, FlightPhase::Descent) << s.flightS;
            EXPECT_FALSE(s.state.burstAltM) << s.flightS;
        } else if (!detected && s.state.burstAltM) {
            detected = &s;
        }
    }
    ASSERT_NE(detected, nullptr);
    EXPECT_LE(detected->flightS - t.burstTimeS, 60);
    EXPECT_NEAR(*detected->state.burstAltM, t.burstAltM, 100);
    EXPECT_EQ(detected->state.phase, FlightPhase::Descent);
    EXPECT_EQ(steps.back().state.bursts, 1);

    const Errors last10 = LandingErrors(steps, o, t, 600);
    EXPECT_EQ(last10.estimates, last10.records);
    EXPECT_GT(last10.records, 0);
    EXPECT_LE(last10.km, 1.0);
    EXPECT_LE(last10.s, 30);

    // Once down it stays found where it lies, phase ground.
    const FlightState& end = steps.back().state;
    EXPECT_EQ(end.phase, FlightPhase::Ground);
    ASSERT_TRUE(end.landing);
    EXPECT_EQ(end.landing->secondsToLanding, 0);
    EXPECT_LT(
        DistanceKm(end.landing->point.lat, end.landing->point.lon, t.landingLat, t.landingLon),
        0.05);
}

INSTANTIATE_TEST_SUITE_P(Cadence, SimulatedFlight, ::testing::Values(30.0, 1.0),
                         [](const auto& info) {
                             return info.param == 1.0 ? "RealTime" : "Every30s";
                         });

// Altitude profiles drawn by hand, one record every 2 s with the GPS's few metres of noise:
// what must and must not count as a burst. Each also flies with a burst drop of 0, where it
// must go wrong: otherwise it would not test the drop at all.
struct Profile {
    std::function<double(double)> altitudeM;  // of seconds since the first record
    double seconds = 0;
    double noiseM = 4;  // uniform, fixed seed
};

std::vector<FlightState> Fly(const Profile& p, const AnalyticsSettings& settings = {}) {
    FlightAnalytics a(settings);
    std::vector<FlightState> states;
    unsigned seed = 12345;
    auto noise = [&] {
        seed = seed * 1103515245u + 12345u;
        return (static_cast<double>((seed >> 8) % 2001) / 1000.0 - 1.0) * p.noiseM;
    };
    for (double t = 0; t <= p.seconds; t += 2) {
        testing::Fix f;
        const int sod = 10 * 3600 + static_cast<int>(t);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02d%02d%02d.00", sod / 3600, sod / 60 % 60, sod % 60);
        f.time = buf;
        std::snprintf(buf, sizeof buf, "%.4f", 5006.0 + t / 600);  // drifting north
        f.lat = buf;
        std::snprintf(buf, sizeof buf, "%.1f", p.altitudeM(t) + noise());
        f.alt = buf;
        std::string r = testing::Record(f);
        r.pop_back();
        a.AddRecord(r);
        states.push_back(a.State());
    }
    return states;
}

// Climbs at 5 m/s from 150 m.
double Climb(double t) {
    return 150 + 5 * t;
}

AnalyticsSettings BurstDrop(double m) {
    AnalyticsSettings s;
    s.burstDropM = m;
    return s;
}

TEST(BurstDetection, NoisyAscentWithADipJustShortOfTheDropIsNoBurst) {
    constexpr double kDipM = 280;  // the drop is 300 m
    const double start = (3000 - 150) / 5.0, bottom = start + kDipM / 5;
    const Profile dip{[&](double t) {
                          if (t < start) return Climb(t);
                          if (t < bottom) return 3000 - 5 * (t - start);
                          return 3000 - kDipM + 5 * (t - bottom);
                      },
                      bottom + 1200, 6};
    for (const FlightState& s : Fly(dip)) {
        EXPECT_EQ(s.bursts, 0);
        EXPECT_NE(s.phase, FlightPhase::Descent);
    }
    EXPECT_GT(Fly(dip, BurstDrop(0)).back().bursts, 0) << "only the drop tells it from a burst";
}

TEST(BurstDetection, FloatingBalloonSwayingUpAndDownIsNoBurst) {
    const double top = (25000 - 150) / 5.0;
    // Level at 25 km, swaying 120 m up and down every 200 s: falls at up to 3.8 m/s.
    const Profile floating{
        [&](double t) {
            return t < top ? Climb(t)
                           : 25000 + 120 * std::sin((t - top) * 2 * std::numbers::pi / 200);
        },
        top + 3600};
    const auto states = Fly(floating);
    EXPECT_EQ(states.back().bursts, 0);
    EXPECT_FALSE(states.back().burstAltM);
    EXPECT_GT(Fly(floating, BurstDrop(0)).back().bursts, 0)
        << "only the drop tells it from a burst";
}

TEST(BurstDetection, SecondLaunchAfterALandingIsASecondFlightWithItsOwnBurst) {
    // Up to 8 km, down at 6 m/s, 10 min on the ground at 300 m, up again to 6 km with a dip
    // short of the drop on the way, down again.
    const double up1 = (8000 - 150) / 5.0, down1 = up1 + (8000 - 300) / 6.0, ground = down1 + 600;
    const double dipAt = ground + (3000 - 300) / 5.0, dipEnd = dipAt + 250 / 5.0;
    const double up2 = dipEnd + (6000 - 2750) / 5.0, down2 = up2 + (6000 - 300) / 6.0;
    const Profile twice{[&](double t) {
                            if (t < up1) return Climb(t);
                            if (t < down1) return 8000 - 6 * (t - up1);
                            if (t < ground) return 300.0;
                            if (t < dipAt) return 300 + 5 * (t - ground);
                            if (t < dipEnd) return 3000 - 5 * (t - dipAt);
                            if (t < up2) return 2750 + 5 * (t - dipEnd);
                            if (t < down2) return 6000 - 6 * (t - up2);
                            return 300.0;
                        },
                        down2 + 600};
    const auto states = Fly(twice);
    for (std::size_t i = 0; i < states.size(); ++i) {
        const double t = 2.0 * static_cast<double>(i);
        if (t < up1) {
            EXPECT_EQ(states[i].bursts, 0) << t;
        }
        if (t > up1 + 120 && t < up2) {
            EXPECT_EQ(states[i].bursts, 1) << t;
        }
    }
    const FlightState& end = states.back();
    EXPECT_EQ(end.bursts, 2);
    ASSERT_TRUE(end.burstAltM);
    EXPECT_NEAR(*end.burstAltM, 6000, 50);
    ASSERT_TRUE(end.maxAltM);
    EXPECT_NEAR(*end.maxAltM, 6000, 50);  // the second flight's own, not the first's 8 km
    EXPECT_EQ(end.phase, FlightPhase::Ground);
    EXPECT_GT(Fly(twice, BurstDrop(0)).back().bursts, 2) << "the dip counted as a burst";
}

TEST(FlightAnalytics, LateJoinFallsBackOnTheRecentDriftAndKnowsNoBurst) {
    const probegen::FlightOptions o = Flight(30);
    const FlightTruth t = testing::Truth(o);
    // The monitor starts five minutes after the burst.
    const auto steps =
        Replay(o, [&](std::size_t i, std::string&) { return i * o.stepS > t.burstTimeS + 300; });
    EXPECT_EQ(steps.back().state.bursts, 0);
    EXPECT_FALSE(steps.back().state.burstAltM);
    const Errors last10 = LandingErrors(steps, o, t, 600);
    EXPECT_EQ(last10.estimates, last10.records);
    EXPECT_LE(last10.km, 1.5);
    EXPECT_LE(last10.s, 60);  // 0 m landing altitude: the launch site was never seen
    for (const Step& s : steps) {
        if (s.state.landing && s.state.phase == FlightPhase::Descent) {
            EXPECT_EQ(s.state.landing->ascentWindShare, 0);
        }
    }
}

TEST(FlightAnalytics, MissingPositionsAndAGapDoNotMisleadIt) {
    const probegen::FlightOptions o = Flight(30);
    const FlightTruth t = testing::Truth(o);
    const auto clean = Replay(o);
    // Every third record without a position; five minutes of nothing at 15 km on the way up
    // and again at 8 km on the way down.
    const double gapUp = 15000 / o.ascentMps;
    double gapDown = 0;
    for (const Step& s : clean)
        if (s.state.phase == FlightPhase::Descent && s.state.last->altitudeM > 8000)
            gapDown = s.flightS;
    const auto steps = Replay(o, [&](std::size_t i, std::string& r) {
        const double s = i * o.stepS;
        if ((s >= gapUp && s < gapUp + 300) || (s >= gapDown && s < gapDown + 300)) return false;
        if (i % 3 == 1) {
            testing::Fix f;
            f.time = common::ExtractField(r, 2, ',');
            f.alt = common::ExtractField(r, 10, ',');
            f.lat = f.lon = "";
            r = testing::Record(f);
            r.pop_back();
        }
        return true;
    });
    EXPECT_EQ(steps.back().state.bursts, 1);
    for (const Step& s : steps) EXPECT_TRUE(s.taken) << s.flightS;
    for (const Step& s : steps) {
        if (s.flightS < t.burstTimeS) {
            EXPECT_NE(s.state.phase, FlightPhase::Descent);
        }
    }

    // Each estimate stays close to the one made with every record: no jump to nonsense.
    double worstKm = 0;
    for (const Step& s : steps) {
        if (!s.state.landing) continue;
        for (const Step& c : clean) {
            if (c.flightS != s.flightS || !c.state.landing) continue;
            worstKm = std::max(worstKm,
                               DistanceKm(s.state.landing->point.lat, s.state.landing->point.lon,
                                          c.state.landing->point.lat, c.state.landing->point.lon));
        }
    }
    EXPECT_LT(worstKm, 1.0);
    const Errors last10 = LandingErrors(steps, o, t, 600);
    EXPECT_LE(last10.km, 1.0);
    EXPECT_LE(last10.s, 30);
}

TEST(FlightAnalytics, MidnightChangesNothing) {
    probegen::FlightOptions day = Flight(30), night = Flight(30);
    night.startSecondsOfDay = 23 * 3600;  // the burst and the descent fall after 00:00
    const auto a = Replay(day), b = Replay(night);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(FormatEstimateLine(i, a[i].state), FormatEstimateLine(i, b[i].state)) << i;
    EXPECT_EQ(b.back().state.bursts, 1);
}

TEST(FlightAnalytics, RepeatedLateAndBrokenRecordsAreLeftOut) {
    FlightAnalytics a;
    testing::Fix f;
    auto add = [&a](const testing::Fix& fix) {
        std::string r = testing::Record(fix);
        r.pop_back();
        return a.AddRecord(r);
    };
    f.time = "100000";
    f.alt = "1000";
    EXPECT_TRUE(add(f));
    EXPECT_FALSE(add(f));  // the same frame through a second station
    f.time = "095959";
    EXPECT_FALSE(add(f));
    for (const char* bad : {"", "xx", "250000", "106000"}) {
        f.time = bad;
        EXPECT_FALSE(add(f)) << bad;
    }
    f.time = "100010";
    f.alt = "";
    EXPECT_FALSE(add(f));
    // A no-fix 0/0 position and an altitude spike are glitches...
    f.alt = "1050";
    f.lat = "0000.0000";
    f.lon = "00000.0000";
    EXPECT_FALSE(add(f));
    f.lat = "4901.2345";
    f.lon = "00820.1234";
    f.alt = "9000";
    EXPECT_FALSE(add(f));
    f.alt = "1050";
    EXPECT_TRUE(add(f));
    EXPECT_NEAR(*a.State().vrateAvgMps, 5.0, 1e-9);
    // ...but when the new place persists it is a new flight.
    f.lat = "5101.0000";
    for (const char* t : {"100020", "100030", "100040"}) {
        f.time = t;
        add(f);
    }
    EXPECT_EQ(a.State().last->timeS, 10 * 3600 + 40);
    EXPECT_EQ(a.Track().size(), 1u);
}

TEST(FlightAnalytics, SouthAndWestAreNegative) {
    FlightAnalytics a;
    std::string r = testing::Record(testing::Fix{});
    r.pop_back();
    const std::string south = std::string(r).replace(r.find(",N,"), 3, ",S,");
    ASSERT_TRUE(a.AddRecord(std::string(south).replace(south.find(",E,"), 3, ",W,")));
    EXPECT_NEAR(a.State().lastPosition->lat, -(49 + 1.2345 / 60), 1e-9);
    EXPECT_NEAR(a.State().lastPosition->lon, -(8 + 20.1234 / 60), 1e-9);
}

TEST(FlightAnalytics, LandingAltitudeIsTheSeenLaunchSiteUnlessSet) {
    const probegen::FlightOptions o = Flight(30);
    FlightAnalytics seen;
    FlightAnalytics joined;
    FlightAnalytics set(AnalyticsSettings{.landingAltM = 420});
    const auto frames = probegen::SimulateFlight(o);
    for (std::size_t i = 0; i < 40; ++i) {
        std::string r = testing::RelayedRecord(frames[i]);
        r.pop_back();
        seen.AddRecord(r);
        set.AddRecord(r);
        if (i >= 20) joined.AddRecord(r);  // 3 km up
    }
    EXPECT_EQ(seen.LandingAltitudeM(), o.launchAltM);
    EXPECT_EQ(joined.LandingAltitudeM(), 0);
    EXPECT_EQ(set.LandingAltitudeM(), 420);
}

// The landing's distance and bearing from the locator's home, against a spherical reference
// (within its 0.5 % of the ellipsoid): a home south-west of the landing and one east of it.
TEST(FlightAnalytics, LandingDistanceAndBearingFromTheLocatorsHome) {
    const probegen::FlightOptions o = Flight(30);
    const auto frames = probegen::SimulateFlight(o);
    for (const char* home : {"JN49EA", "JO60AA"}) {
        FlightAnalytics a({}, home);
        for (const auto& f : frames) {
            std::string r = testing::RelayedRecord(f);
            r.pop_back();
            a.AddRecord(r);
        }
        ASSERT_TRUE(a.State().landing) << home;
        const LandingEstimate& l = *a.State().landing;
        const LatLonDeg h = a.Home();
        constexpr double kRad = std::numbers::pi / 180;
        const double p1 = h.lat * kRad, p2 = l.point.lat * kRad, dl = (l.point.lon - h.lon) * kRad;
        const double bearing =
            std::atan2(std::sin(dl) * std::cos(p2),
                       std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl)) /
            kRad;
        const double km = testing::DistanceKm(h.lat, h.lon, l.point.lat, l.point.lon);
        EXPECT_NEAR(l.bearingDeg, bearing < 0 ? bearing + 360 : bearing, 0.5) << home;
        EXPECT_NEAR(l.homeKm, km, km * 0.005) << home;
    }
}

TEST(FormatEstimateLine, EveryFieldInItsPlaceEmptyWhenUnknown) {
    EXPECT_EQ(FormatEstimateLine(1, FlightState{}),
              "estimate=1\tphase=\tvrate_avg=\tmax_alt=\tburst_alt=\tt_land_s=\tland_lat=\t"
              "land_lon=\tland_locator=\tland_km=\tland_bearing=\n");
    FlightState s;
    s.phase = FlightPhase::Descent;
    s.vrateAvgMps = -12.349;
    s.maxAltM = 30012.6;
    s.burstAltM = 30012.4;
    LandingEstimate l;
    l.secondsToLanding = 1234.6;
    l.point = {50.123456, -0.000004};
    l.locator = "JO60AC";
    l.homeKm = 82.26;
    l.bearingDeg = 359.6;
    s.landing = l;
    EXPECT_EQ(FormatEstimateLine(42, s),
              "estimate=42\tphase=descent\tvrate_avg=-12.3\tmax_alt=30013\tburst_alt=30012\t"
              "t_land_s=1235\tland_lat=50.12346\tland_lon=0.00000\tland_locator=JO60AC\t"
              "land_km=82.3\tland_bearing=0\n");
}

}  // namespace
}  // namespace monitor
