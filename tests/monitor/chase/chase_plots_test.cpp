// Geometry of the chase pictures: north up, east right, rings that hold everything, the burst
// and the landing where they belong on the altitude plot.
#include "monitor/chase/chase_plots.h"

#include <cmath>

#include <gtest/gtest.h>

namespace monitor {
namespace {

constexpr LatLonDeg kHome{49.0, 8.0};
constexpr double kKmPerDegLat = 6370.0 * 3.14159265358979323846 / 180;

FlightPoint At(double timeS, double altM, double northKm, double eastKm) {
    FlightPoint p;
    p.timeS = timeS;
    p.altitudeM = altM;
    p.position = LatLonDeg{
        kHome.lat + northKm / kKmPerDegLat,
        kHome.lon + eastKm / (kKmPerDegLat * std::cos(kHome.lat * 3.14159265358979323846 / 180))};
    return p;
}

double Radius(const GroundTrackView& v, const PlotPoint& p) {
    return std::hypot(p.x - v.home.x, p.y - v.home.y);
}

TEST(GroundTrackView, NorthUpEastRightAndRingsThatHoldEverything) {
    const std::vector<FlightPoint> track = {At(0, 100, 0, 0), At(60, 400, 7.3, 0),
                                            At(120, 700, 7.3, 3)};
    const GroundTrackView v = MakeGroundTrackView(kHome, track, std::nullopt, 300, 200);
    EXPECT_EQ(v.home.x, 150);
    EXPECT_EQ(v.home.y, 100);
    ASSERT_EQ(v.track.size(), 3u);
    EXPECT_NEAR(v.track[1].x, v.home.x, 1e-6);  // due north: straight up
    EXPECT_LT(v.track[1].y, v.home.y);
    EXPECT_GT(v.track[2].x, v.track[1].x);  // then east: to the right
    EXPECT_NEAR(v.track[2].y, v.track[1].y, 0.05);
    ASSERT_TRUE(v.last);
    EXPECT_EQ(v.last->x, v.track[2].x);
    EXPECT_FALSE(v.landing);

    // 7.9 km out: four rings 2 km apart, the outer one 16 px inside the shorter side.
    EXPECT_EQ(v.ringStepKm, 2);
    ASSERT_EQ(v.ringRadiiPx.size(), 4u);
    EXPECT_EQ(v.ringLabels.front(), "2 km");
    EXPECT_EQ(v.ringLabels.back(), "8 km");
    EXPECT_NEAR(v.ringRadiiPx.back(), 100 - 16, 1e-9);
    for (const PlotPoint& p : v.track) EXPECT_LE(Radius(v, p), v.ringRadiiPx.back());
    EXPECT_NEAR(Radius(v, v.track[2]) / v.pxPerKm, std::hypot(7.3, 3), 0.01);
}

TEST(GroundTrackView, TheLandingEstimateWidensTheRingsAndNothingIsEmpty) {
    const std::vector<FlightPoint> track = {At(0, 100, 0.1, 0.1)};
    const LatLonDeg landing = *At(0, 0, -30, -40).position;  // 50 km south-west
    const GroundTrackView v = MakeGroundTrackView(kHome, track, landing, 400, 400);
    EXPECT_EQ(v.ringStepKm, 20);
    EXPECT_EQ(v.ringRadiiPx.size(), 3u);
    ASSERT_TRUE(v.landing);
    EXPECT_LT(v.landing->x, v.home.x);
    EXPECT_GT(v.landing->y, v.home.y);
    EXPECT_LE(Radius(v, *v.landing), v.ringRadiiPx.back());

    const GroundTrackView empty = MakeGroundTrackView(kHome, {}, std::nullopt, 10, 10);
    EXPECT_FALSE(empty.ringRadiiPx.empty());
    EXPECT_TRUE(std::isfinite(empty.pxPerKm));
    EXPECT_GT(empty.pxPerKm, 0);
}

TEST(AltitudeView, ProfileBurstAndLandingInTheirPlaces) {
    // From 23:50 across midnight: up to 12.4 km, burst, down, landing estimated at 00:30.
    const double t0 = 23 * 3600 + 50 * 60;
    std::vector<FlightPoint> track;
    for (int i = 0; i <= 20; ++i) track.push_back(At(t0 + i * 60, 100 + i * 600, 0, 0));
    track.push_back(At(t0 + 21 * 60, 11000, 0, 0));
    FlightState s;
    s.burstAltM = 12400;
    s.burstTimeS = t0 + 20 * 60 + 10;
    s.landing = LandingEstimate{};
    s.landing->landingTimeS = t0 + 40 * 60;
    s.landing->altitudeM = 100;
    const AltitudeView v = MakeAltitudeView(track, s, 400, 200);

    ASSERT_EQ(v.profile.size(), track.size());
    EXPECT_EQ(v.profile.front().x, v.left);
    for (std::size_t i = 1; i < v.profile.size(); ++i)
        EXPECT_GT(v.profile[i].x, v.profile[i - 1].x);
    ASSERT_TRUE(v.landing);
    // The landing is the latest time, its cross whole inside the area.
    EXPECT_LE(v.landing->x, v.right - 6.5);
    EXPECT_GT(v.landing->x, v.right - 10);
    ASSERT_TRUE(v.burst);
    EXPECT_GT(v.burst->x, v.profile[20].x);
    EXPECT_LT(v.burst->y, v.profile[20].y);  // above the highest fix
    EXPECT_GE(v.burst->y, v.top);

    // Altitude 0..15 km in 5 km steps; time ticks every 10 minutes, through midnight.
    ASSERT_FALSE(v.altitudeTicks.empty());
    EXPECT_EQ(v.altitudeTicks.front().label, "0 km");
    EXPECT_EQ(v.altitudeTicks.front().px, v.bottom);
    EXPECT_EQ(v.altitudeTicks.back().label, "15 km");
    EXPECT_EQ(v.altitudeTicks.back().px, v.top);
    std::vector<std::string> times;
    for (const auto& t : v.timeTicks) times.push_back(t.label);
    EXPECT_EQ(times, (std::vector<std::string>{"23:50", "00:00", "00:10", "00:20", "00:30"}));

    // Narrow, the labels thin out rather than overlap.
    const AltitudeView narrow = MakeAltitudeView(track, s, 160, 200);
    ASSERT_GE(narrow.timeTicks.size(), 2u);
    for (std::size_t i = 1; i < narrow.timeTicks.size(); ++i)
        EXPECT_GE(narrow.timeTicks[i].px - narrow.timeTicks[i - 1].px, 45);

    EXPECT_TRUE(MakeAltitudeView({}, FlightState{}, 100, 100).profile.empty());
}

}  // namespace
}  // namespace monitor
