// Times of day, positions, distances and bearings, and the standard atmosphere: against values
// worked out by hand or published, and at the edges where a wrong comparison would show.
#include "common/geo.h"

#include <cmath>

#include <gtest/gtest.h>

#include "common/atmosphere.h"

namespace common {
namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

TEST(SecondsOfDay, RangesOfHoursMinutesAndSeconds) {
    EXPECT_EQ(SecondsOfDay("000000"), 0);
    EXPECT_EQ(SecondsOfDay("123456.25"), 12 * 3600 + 34 * 60 + 56.25);
    EXPECT_NEAR(*SecondsOfDay("235959.99"), 86399.99, 1e-6);
    EXPECT_EQ(SecondsOfDay("235960.5"), 86400.5);  // a leap second
    EXPECT_EQ(SecondsOfDay(" 1234 "), 12 * 60 + 34);
    for (const char* bad : {"", "abc", "-1", "240000", "126000", "123461", "996060", "1e9"})
        EXPECT_FALSE(SecondsOfDay(bad)) << bad;
}

TEST(StrictWholeSecondsOfDay, SixDigitsFirstAndSecondsUpTo60) {
    EXPECT_EQ(StrictWholeSecondsOfDay("123456"), 45296);
    EXPECT_EQ(StrictWholeSecondsOfDay("123456.99"), 45296);
    EXPECT_EQ(StrictWholeSecondsOfDay("235960"), 86400);
    for (const char* bad : {"12345", "1234.5", "12345a", "123456.1.2", "123456a", "240000",
                            "126000", "123461", " 23456"})
        EXPECT_FALSE(StrictWholeSecondsOfDay(bad)) << bad;
}

TEST(Ddmm, DegreesAndMinutesInBothArithmetics) {
    EXPECT_DOUBLE_EQ(DegreesFromDdmm(5133.0), 51.55);
    EXPECT_DOUBLE_EQ(DegreesFromDdmm(900.0), 9.0);
    EXPECT_NEAR(DegreesFromDdmm(820.1234), 8 + 20.1234 / 60, 1e-12);
    EXPECT_NEAR(static_cast<double>(sphere::DdmmToRadians(4901.2345L)), (49 + 1.2345 / 60) * kDeg,
                1e-15);
    EXPECT_NEAR(static_cast<double>(sphere::DdmmToRadians(5133.0L)), 51.55 * kDeg, 1e-15);
    EXPECT_EQ(sphere::DdmmToRadians(0.0L), 0.0L);
}

TEST(Sphere, ArcCosClampsInsteadOfInventingADistance) {
    EXPECT_EQ(sphere::ArcCosClamped(1.0L), 0.0L);
    EXPECT_EQ(sphere::ArcCosClamped(1.0000001L), 0.0L);
    EXPECT_NEAR(static_cast<double>(sphere::ArcCosClamped(-1.0000001L)), 3.14159265358979323846,
                1e-15);
    // Just inside 1 gives the true small angle, not a fixed floor.
    EXPECT_NEAR(static_cast<double>(sphere::ArcCosClamped(1.0L - 5e-13L)), 1e-6, 1e-9);
}

TEST(Sphere, TimeValueCountsTenThousandthsOfAnHour) {
    EXPECT_EQ(sphere::TimeValue(123456.00), 125822);
    EXPECT_EQ(sphere::TimeValue(0), 0);
    EXPECT_EQ(sphere::TimeValue(3000), 5000);  // 00:30:00
    EXPECT_EQ(sphere::TimeValue(235959.99), 239999);
    EXPECT_FALSE(sphere::TimeValue(-1).has_value());
    EXPECT_FALSE(sphere::TimeValue(1e300).has_value());
}

TEST(Geodesic, WgsDistancesAndBearingsEachWay) {
    // A degree of the equator is the equatorial radius's; a degree along a meridian at 45 degrees
    // is the meridian arc's.
    const double equatorDegKm = 6378.137 * kDeg;
    struct Case {
        LatLonDeg to;
        double km, bearing;
    };
    for (const Case& c : {Case{{0, 1}, equatorDegKm, 90}, Case{{0, -1}, equatorDegKm, 270},
                          Case{{1, 0}, 110.574, 0}, Case{{-1, 0}, 110.574, 180}}) {
        const Geodesic g = GeodesicBetween({0, 0}, c.to);
        EXPECT_NEAR(g.km, c.km, 0.001) << c.bearing;
        EXPECT_NEAR(g.bearingDeg, c.bearing, 1e-9) << c.bearing;
    }
    EXPECT_NEAR(GeodesicBetween({44.5, 8}, {45.5, 8}).km, 111.132, 0.001);
    // North-east and south-west of a point in the northern hemisphere.
    EXPECT_NEAR(GeodesicBetween({49, 8}, {49.1, 8.15}).bearingDeg, 44.6, 0.1);
    EXPECT_NEAR(GeodesicBetween({49.1, 8.15}, {49, 8}).bearingDeg, 224.7, 0.1);
}

TEST(Bearing, NormalisedAndShownNeverAs360) {
    EXPECT_EQ(NormalisedBearing(-90), 270);
    EXPECT_EQ(NormalisedBearing(720), 0);
    EXPECT_EQ(ShownBearing(359.6, 0), 0);
    EXPECT_EQ(ShownBearing(359.4, 0), 359);
    EXPECT_EQ(ShownBearing(359.96, 1), 0);
    EXPECT_EQ(ShownBearing(359.94, 1), 359.9);
}

TEST(Plane, OffsetsAndMovesAreEachOthersInverse) {
    const LatLonDeg a{50.1, 8.7};
    const LatLonDeg b = PlaneMoved(a, {12000, -3000});
    const EastNorthM d = PlaneOffset(a, b);
    EXPECT_NEAR(d.east, 12000, 15);
    EXPECT_NEAR(d.north, -3000, 1e-6);
    EXPECT_NEAR(GeodesicBetween(a, b).km, std::hypot(12, 3), 0.05);
    // Across the date line the short way round.
    EXPECT_NEAR(PlaneOffset({0, 179.9}, {0, -179.9}).east, 0.2 * kDeg * 6370e3, 1e-6);
}

TEST(StandardAtmosphere, MatchesTheTableAtGeometricAltitudes) {
    struct Case {
        double m, c, hpa, kgm3;
    };
    for (const Case& t :
         {Case{0, 15.0, 1013.25, 1.2250}, Case{5000, -17.47, 540.48, 0.73643},
          Case{11000, -56.38, 227.00, 0.36480}, Case{20000, -56.5, 55.293, 0.08891},
          Case{30000, -46.64, 11.970, 0.018410}, Case{50000, -2.5, 0.7978, 0.0010269}}) {
        EXPECT_NEAR(StandardTemperatureC(t.m), t.c, 0.05) << t.m;
        EXPECT_NEAR(StandardPressureHpa(t.m), t.hpa, t.hpa * 0.001) << t.m;
        EXPECT_NEAR(StandardDensityRatio(t.m), t.kgm3 / 1.225, t.kgm3 / 1.225 * 0.001) << t.m;
    }
    // Falling steadily, with no step where one layer meets the next.
    for (double h = -400; h < 55000; h += 10) {
        const double r = StandardDensityRatio(h + 10) / StandardDensityRatio(h);
        ASSERT_LT(r, 1.0) << h;
        ASSERT_GT(r, 0.998) << h;
    }
}

}  // namespace
}  // namespace common
