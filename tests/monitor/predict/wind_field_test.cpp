// A weather model's winds interpolated by hand: between grid points, levels and model times;
// where they end; the flight's day; and a trajectory through a wind known everywhere.
#include "monitor/predict/wind_field.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/predict/trajectory.h"

namespace monitor {
namespace {

constexpr double kT0 = 1796716800;  // 2026-12-08 08:00 UTC

// Two levels (1000 m and 3000 m) on a 2 x 3 grid from 50 N, 8 E, one degree apart, rows north
// to south. East wind: 10 + column + 2 row at the lower level, twice that at the upper; north
// wind: 1 at the lower, 3 at the upper; the second time adds 6 to every east wind.
WindField SmallField(int times = 2) {
    WindGrid g;
    g.firstLatDeg = 50;
    g.latStepDeg = -1;
    g.firstLonDeg = 8;
    g.lonStepDeg = 1;
    g.rows = 2;
    g.columns = 3;
    std::vector<WindTime> ts;
    for (int t = 0; t < times; ++t) {
        WindTime wt;
        wt.unixS = kT0 + t * 3 * 3600;
        for (int l = 0; l < 2; ++l) {
            WindLevel level;
            level.pressureHpa = l == 0 ? 900 : 700;
            for (int r = 0; r < 2; ++r) {
                for (int c = 0; c < 3; ++c) {
                    level.eastMps.push_back(static_cast<float>((10 + c + 2 * r) * (l + 1) + 6 * t));
                    level.northMps.push_back(l == 0 ? 1.0F : 3.0F);
                    level.heightM.push_back(l == 0 ? 1000.0F : 3000.0F);
                }
            }
            wt.levels.push_back(std::move(level));
        }
        ts.push_back(std::move(wt));
    }
    return WindField(g, std::move(ts));
}

TEST(WindField, InterpolatesBetweenGridPointsLevelsAndTimes) {
    const WindField f = SmallField();
    // On a grid point, at a level, at a model time.
    auto w = f.At({50, 9}, 1000, kT0);
    ASSERT_TRUE(w);
    EXPECT_NEAR(w->eastMps, 11, 1e-5);
    EXPECT_NEAR(w->northMps, 1, 1e-5);
    // Amid four points: 10 + 0.5 + 2 * 0.25.
    EXPECT_NEAR(f.At({49.75, 8.5}, 1000, kT0)->eastMps, 11, 1e-5);
    // A quarter of the way up from the lower level: east 11 + (22 - 11) / 4, north 1.5.
    w = f.At({50, 9}, 1500, kT0);
    EXPECT_NEAR(w->eastMps, 13.75, 1e-5);
    EXPECT_NEAR(w->northMps, 1.5, 1e-5);
    // A third of the way to the second time: 11 + 6 / 3.
    EXPECT_NEAR(f.At({50, 9}, 1000, kT0 + 3600)->eastMps, 13, 1e-5);
    // Below the lowest level and above the highest their winds stand.
    EXPECT_NEAR(f.At({50, 9}, 200, kT0)->eastMps, 11, 1e-5);
    EXPECT_NEAR(f.At({50, 9}, 25000, kT0)->eastMps, 22, 1e-5);
}

TEST(WindField, NothingOutsideItsGridOrLongAfterItsTimes) {
    const WindField f = SmallField();
    EXPECT_FALSE(f.At({50.01, 9}, 1000, kT0));
    EXPECT_FALSE(f.At({48.99, 9}, 1000, kT0));
    EXPECT_FALSE(f.At({49.5, 7.99}, 1000, kT0));
    EXPECT_FALSE(f.At({49.5, 10.01}, 1000, kT0));
    EXPECT_TRUE(f.At({49.5, 10}, 1000, kT0));
    // Before the first time and after the last the nearest stands, for a while.
    EXPECT_NEAR(f.At({50, 9}, 1000, kT0 - 3600)->eastMps, 11, 1e-5);
    EXPECT_NEAR(f.At({50, 9}, 1000, f.LastTimeS() + 3600)->eastMps, 17, 1e-5);
    EXPECT_FALSE(f.At({50, 9}, 1000, f.LastTimeS() + WindField::kTimeSlackS + 1));
    EXPECT_FALSE(f.At({50, 9}, 1000, kT0 - WindField::kTimeSlackS - 1));
}

TEST(WindField, AGlobalGridGoesRoundTheEarth) {
    WindGrid g;
    g.firstLatDeg = 10;
    g.latStepDeg = -10;
    g.firstLonDeg = 0;
    g.lonStepDeg = 90;
    g.rows = 2;
    g.columns = 4;
    g.global = true;
    WindTime t;
    t.unixS = kT0;
    WindLevel l;
    l.eastMps = {0, 1, 2, 3, 0, 1, 2, 3};
    l.northMps.assign(8, 0);
    l.heightM.assign(8, 0);
    t.levels.push_back(l);
    const WindField f(g, {t});
    // Between the last column (270 E) and the first (0 E, 360 E).
    EXPECT_NEAR(f.At({5, 315}, 0, kT0)->eastMps, 1.5, 1e-6);
    EXPECT_NEAR(f.At({5, -45}, 0, kT0)->eastMps, 1.5, 1e-6);
    EXPECT_NEAR(f.At({5, -180}, 0, kT0)->eastMps, 2, 1e-6);
}

TEST(WindField, TheFlightsDayIsTheOneOnTheModelsTimes) {
    const WindField f = SmallField();  // 08:00 to 11:00 on 2026-12-08
    const double midnight = kT0 - 8 * 3600;
    EXPECT_EQ(f.MidnightFor(10 * 3600), midnight);
    // A flight clock past midnight of its first day.
    EXPECT_EQ(f.MidnightFor(86400 + 9 * 3600), midnight - 86400);
    // Times the model does not reach: the day that comes nearest (23:30 the evening before,
    // 00:30 the same night).
    EXPECT_EQ(f.MidnightFor(23.5 * 3600), midnight - 86400);
    EXPECT_EQ(f.MidnightFor(0.5 * 3600), midnight);
    // A model over three days: the receive clock tells which.
    WindField three = SmallField(17);  // 3-hourly for two days
    EXPECT_EQ(three.MidnightFor(10 * 3600), midnight);
    EXPECT_EQ(three.MidnightFor(10 * 3600, midnight + 86400 + 10 * 3600 + 5), midnight + 86400);
    EXPECT_EQ(three.MidnightFor(10 * 3600, midnight + 40 * 86400), midnight + 2 * 86400);
}

TEST(UtcTimes, ReadAndWritten) {
    EXPECT_EQ(ParseUtc("2026-12-08T08:00Z"), kT0);
    EXPECT_EQ(ParseUtc("2026-12-08T08:00:30Z"), kT0 + 30);
    EXPECT_EQ(ParseUtc("2028-02-29T00:00Z"), UnixSeconds(2028, 3, 1, 0, 0, 0) - 86400);
    for (const char* bad :
         {"2026-12-08T08:00", "2026-12-08 08:00Z", "2026-13-08T08:00Z", "2027-02-29T08:00Z",
          "2026-12-08T24:00Z", "2026-12-08T08:60Z", "2026-12-08T08:00:5Z", "", "26-12-08T08:00Z"})
        EXPECT_FALSE(ParseUtc(bad)) << bad;
    EXPECT_EQ(UtcText(kT0 + 3725.9), "2026-12-08 09:02:05");
    EXPECT_EQ(UtcText(-1), "1969-12-31 23:59:59");
}

// Up at 5 m/s from 1000 m to 3000 m and down at a constant 8 m/s to 200 m, in a wind of 10 m/s
// from the west and 2 m/s from the south the whole way: 400 s up, 350 s down, drifted
// 7.5 km east and 1.5 km north.
TEST(FlyTrajectory, DriftsWithTheWindForTheTimeItFlies) {
    const TrajectoryPoint start{100, {50, 8}, 1000};
    FlightPlan plan;
    plan.ascentMps = 5;
    plan.burstAltM = 3000;
    plan.descent = DescentLaw{8, 0};
    plan.landingAltM = 200;
    const auto t = FlyTrajectory(start, plan, [](const LatLonDeg&, double, double) {
        return WindAt{10, 2, WindOrigin::Model};
    });
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->burst);
    EXPECT_NEAR(t->burst->timeS, 500, 1e-6);
    EXPECT_NEAR(t->burst->altitudeM, 3000, 1e-9);
    EXPECT_NEAR(t->landing.timeS, 850, 1e-6);
    EXPECT_EQ(t->landing.altitudeM, 200);
    const common::EastNorthM d = common::PlaneOffset(start.position, t->landing.position);
    EXPECT_NEAR(d.east, 7500, 1);
    EXPECT_NEAR(d.north, 1500, 1);
    EXPECT_EQ(t->winds, WindsUsed::Model);
    // Halfway through the ascent.
    const TrajectoryPoint mid = PointAtTime(t->path, 300);
    EXPECT_NEAR(mid.altitudeM, 2000, 1e-6);
    EXPECT_NEAR(common::PlaneOffset(start.position, mid.position).east, 2000, 1);
}

TEST(FlyTrajectory, SaysWhichWindsItUsedAndStopsWhereThereAreNone) {
    FlightPlan plan;
    plan.burstAltM = 3000;
    plan.landingAltM = 0;
    auto split = [](const LatLonDeg&, double alt, double) {
        return WindAt{1, 0, alt < 2000 ? WindOrigin::Measured : WindOrigin::Model};
    };
    EXPECT_EQ(FlyTrajectory({0, {50, 8}, 100}, plan, split)->winds, WindsUsed::Mixed);
    plan.ascending = false;
    EXPECT_EQ(FlyTrajectory({0, {50, 8}, 1500}, plan, split)->winds, WindsUsed::Measured);
    EXPECT_FALSE(FlyTrajectory({0, {50, 8}, 1500}, plan,
                               [](const LatLonDeg&, double alt, double) -> std::optional<WindAt> {
                                   if (alt < 700) return std::nullopt;
                                   return WindAt{};
                               }));
}

}  // namespace
}  // namespace monitor
