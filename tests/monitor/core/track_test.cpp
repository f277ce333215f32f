#include "monitor/core/track.h"

#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "monitor/core/course_image.h"
#include "records.h"

namespace monitor {
namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;
constexpr double kR = 6370.0;

TEST(HomeFromLocator, SouthWestCornerOfTheSquare) {
    struct Case {
        const char* loc;
        double lonDeg, latDeg;
    };
    for (const Case& c : {Case{"JN49EA", 8.0 + 4.0 / 12.0, 49.0}, Case{"JO31AA", 6.0, 51.0},
                          Case{"JN49EAXY", 8.0 + 4.0 / 12.0, 49.0}}) {
        const LatLonRad h = HomeFromLocator(c.loc);
        EXPECT_NEAR(static_cast<double>(h.lon), c.lonDeg * kDeg, 1e-12) << c.loc;
        EXPECT_NEAR(static_cast<double>(h.lat), c.latDeg * kDeg, 1e-12) << c.loc;
    }
}

TEST(HomeFromLocator, InvalidLocatorsFallBackToTheDefault) {
    const LatLonRad def = HomeFromLocator("JN49EA");
    for (const char* bad : {"", "JN49", "AN49EA", "jn49ea", "JN4XEA", "JN49E"}) {
        const LatLonRad h = HomeFromLocator(bad);
        EXPECT_EQ(h.lat, def.lat) << bad;
        EXPECT_EQ(h.lon, def.lon) << bad;
    }
    // "*" is accepted and enters the formula with its character code.
    EXPECT_NE(HomeFromLocator("**49EA").lon, def.lon);
}

common::CountedFields Fields(const std::string& record) {
    return common::ReadRelayedRecord(record.substr(0, record.size() - 1)).counted;
}

std::string RecordAt(const std::string& time, double latDeg, double lonDeg) {
    char lat[32], lon[32];
    // Eight decimals of a minute: far finer than the distances under test.
    std::snprintf(lat, sizeof lat, "%02d%011.8f", static_cast<int>(latDeg),
                  (latDeg - std::trunc(latDeg)) * 60);
    std::snprintf(lon, sizeof lon, "%03d%011.8f", static_cast<int>(lonDeg),
                  (lonDeg - std::trunc(lonDeg)) * 60);
    testing::Fix f;
    f.time = time;
    f.lat = lat;
    f.lon = lon;
    return testing::Record(f);
}

TrackState Primed(double latDeg, double lonDeg, std::string_view home = "JN49EA") {
    TrackState s;
    s.home = HomeFromLocator(home);
    const TrackStepResult r = TrackStep(Fields(RecordAt("120000", latDeg, lonDeg)), s);
    EXPECT_TRUE(r.error.empty());
    EXPECT_TRUE(r.hasPosition);
    EXPECT_EQ(r.stepKm, 0);
    EXPECT_EQ(r.homeKm, 0);
    EXPECT_EQ(r.courseDeg, 0);
    EXPECT_FALSE(s.firstRecord);
    return s;
}

TEST(TrackStep, IdenticalFixesGiveNoDistance) {
    TrackState s = Primed(49.5, 8.5);
    for (int i = 0; i < 3; ++i) {
        const TrackStepResult r = TrackStep(Fields(RecordAt("120004", 49.5, 8.5)), s);
        EXPECT_EQ(r.stepKm, 0);
        EXPECT_EQ(r.courseDeg, 0);
    }
}

TEST(TrackStep, HundredthOfADegreeNorth) {
    TrackState s = Primed(49.5, 8.5);
    const TrackStepResult r = TrackStep(Fields(RecordAt("120004", 49.51, 8.5)), s);
    EXPECT_NEAR(r.stepKm, 0.01 * kDeg * kR, 1e-6);
    EXPECT_NEAR(r.courseDeg, 0, 1e-3);
}

TEST(TrackStep, WestwardStepPointsWest) {
    TrackState s = Primed(49.5, 8.5);
    EXPECT_NEAR(TrackStep(Fields(RecordAt("120004", 49.5, 8.4)), s).courseDeg, 270, 0.1);
    EXPECT_NEAR(TrackStep(Fields(RecordAt("120008", 49.4, 8.3)), s).courseDeg, 212.5, 1.0);
    EXPECT_NEAR(TrackStep(Fields(RecordAt("120012", 49.5, 8.4)), s).courseDeg, 32.5, 1.0);
}

TEST(TrackStep, ConversionErrorsLeaveTheStateAlone) {
    TrackState s = Primed(49.5, 8.5);
    const TrackState before = s;
    for (auto mutate :
         {+[](testing::Fix& x) { x.time = "12x456"; }, +[](testing::Fix& x) { x.time = ""; },
          +[](testing::Fix& x) { x.lat = "49O1.2"; }, +[](testing::Fix& x) { x.lon = "8x2"; }}) {
        testing::Fix bad;
        mutate(bad);
        const TrackStepResult r = TrackStep(Fields(testing::Record(bad)), s);
        EXPECT_FALSE(r.error.empty()) << testing::Record(bad);
        EXPECT_FALSE(r.hasPosition);
        EXPECT_EQ(s.previous.lat, before.previous.lat);
        EXPECT_EQ(s.previous.lon, before.previous.lon);
    }
}

TEST(TrackStep, EmptyLatitudeMakesNoStepAndKeepsPriming) {
    TrackState s;
    testing::Fix f;
    f.lat = "";
    const TrackStepResult r = TrackStep(Fields(testing::Record(f)), s);
    EXPECT_TRUE(r.error.empty());
    EXPECT_FALSE(r.hasPosition);
    EXPECT_EQ(r.timeValue, 125822);
    EXPECT_TRUE(s.firstRecord);
}

// Independent references: haversine distance and the initial-bearing formula.
double Haversine(double lat1, double lon1, double lat2, double lon2) {
    const double a = std::pow(std::sin((lat2 - lat1) / 2), 2) +
                     std::cos(lat1) * std::cos(lat2) * std::pow(std::sin((lon2 - lon1) / 2), 2);
    return 2 * kR * std::asin(std::sqrt(a));
}
double Bearing(double lat1, double lon1, double lat2, double lon2) {
    const double b = std::atan2(
        std::sin(lon2 - lon1) * std::cos(lat2),
        std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(lon2 - lon1));
    return std::fmod(b / kDeg + 360, 360);
}
// The position the record text really carries.
double FromNmea(double deg) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%011.8f", (deg - std::trunc(deg)) * 60);
    return (std::trunc(deg) + std::stod(buf) / 60) * kDeg;
}

struct StepCase {
    double km;
    double bearingDeg;
};

class TrackStepAgainstReference : public ::testing::TestWithParam<StepCase> {};

TEST_P(TrackStepAgainstReference, DistanceAndCourseWithinHalfAPercent) {
    const StepCase c = GetParam();
    const double lat1 = 49.7, lon1 = 9.1;
    const double delta = c.km / kR, theta = c.bearingDeg * kDeg;
    const double p1 = lat1 * kDeg, l1 = lon1 * kDeg;
    const double p2 = std::asin(std::sin(p1) * std::cos(delta) +
                                std::cos(p1) * std::sin(delta) * std::cos(theta));
    const double l2 = l1 + std::atan2(std::sin(theta) * std::sin(delta) * std::cos(p1),
                                      std::cos(delta) - std::sin(p1) * std::sin(p2));
    TrackState s = Primed(lat1, lon1);
    const TrackStepResult r = TrackStep(Fields(RecordAt("120004", p2 / kDeg, l2 / kDeg)), s);

    const double a1 = FromNmea(lat1), b1 = FromNmea(lon1);
    const double a2 = FromNmea(p2 / kDeg), b2 = FromNmea(l2 / kDeg);
    const double refKm = Haversine(a1, b1, a2, b2);
    EXPECT_NEAR(r.stepKm, refKm, refKm * 0.005);
    const double refCourse = Bearing(a1, b1, a2, b2);
    double diff = std::fabs(r.courseDeg - refCourse);
    diff = std::min(diff, 360 - diff);
    EXPECT_LT(diff, 360 * 0.005) << "course " << r.courseDeg << " reference " << refCourse;

    const LatLonRad home = HomeFromLocator("JN49EA");
    const double refHome =
        Haversine(static_cast<double>(home.lat), static_cast<double>(home.lon), a2, b2);
    EXPECT_NEAR(r.homeKm, refHome, refHome * 0.005);
}

INSTANTIATE_TEST_SUITE_P(Steps, TrackStepAgainstReference,
                         ::testing::Values(StepCase{0.01, 0}, StepCase{0.01, 45},
                                           StepCase{0.01, 200}, StepCase{0.01, 300},
                                           StepCase{0.1, 90}, StepCase{0.1, 135},
                                           StepCase{0.1, 270}, StepCase{0.1, 359}, StepCase{10, 10},
                                           StepCase{10, 180}, StepCase{10, 250}, StepCase{500, 60},
                                           StepCase{500, 170}, StepCase{500, 330}),
                         [](const ::testing::TestParamInfo<StepCase>& i) {
                             return std::to_string(static_cast<int>(i.param.km * 1000)) + "m_" +
                                    std::to_string(static_cast<int>(i.param.bearingDeg)) + "deg";
                         });

TEST(CourseImage, LineEndsOnTheCircleTowardsTheCourse) {
    struct Case {
        double deg;
        Pixel end;
    };
    for (const Case& c : {Case{0, {72, 15}}, Case{90, {130, 72}}, Case{180, {72, 130}},
                          Case{270, {15, 72}}, Case{45, {113, 31}}}) {
        const Pixel p = CourseLineEnd(kCourseImageSize, kCourseImageSize, c.deg);
        EXPECT_EQ(p.x, c.end.x) << c.deg;
        EXPECT_EQ(p.y, c.end.y) << c.deg;
    }
    const Pixel garbage = CourseLineEnd(145, 145, std::nan(""));
    EXPECT_EQ(garbage.x, 72);
    EXPECT_EQ(garbage.y, 15);
}

}  // namespace
}  // namespace monitor
