// The car's figures: geodesy on the ellipsoid against GeographicLib's direct problem and a
// hand-computed elevation, the fix's age, the car= line, the waypoint sentence, and the car as
// home for the record displays and the landing estimate.
#include "monitor/chase/car.h"
#include "monitor/chase/car_hold.h"

#include <GeographicLib/Geodesic.hpp>

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/numbers.h"
#include "monitor/core/stream_reader.h"
#include "records.h"
#include "simulated_flight.h"

namespace monitor {
namespace {

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> out(1);
    for (char c : line) {
        if (c == sep)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

TEST(CarGeodesy, DistanceAndBearingUndoGeographicLibsDirectProblem) {
    struct Case {
        double lat, lon, azimuth, km;
    };
    // Short and long, every quadrant, south of the equator, over the date line.
    for (const Case& c : {Case{49.0, 8.3, 37.5, 12.345}, Case{49.0, 8.3, 180.0, 0.05},
                          Case{-33.9, 18.4, 250.0, 900}, Case{10.0, 179.9, 95.0, 40},
                          Case{60.0, -3.0, 315.0, 150}, Case{51.5, 0.0, 0.0, 3000}}) {
        double lat2 = 0, lon2 = 0;
        GeographicLib::Geodesic::WGS84().Direct(c.lat, c.lon, c.azimuth, c.km * 1000, lat2, lon2);
        const Geodesic g = GeodesicBetween({c.lat, c.lon}, {lat2, lon2});
        EXPECT_NEAR(g.km, c.km, 1e-6) << c.lat << " " << c.lon;
        EXPECT_NEAR(g.bearingDeg, c.azimuth, 1e-7) << c.lat << " " << c.lon;
    }
    // West of north is 270..360, never negative.
    EXPECT_NEAR(GeodesicBetween({49, 8}, {49.1, 7.9}).bearingDeg, 326.7, 0.1);
}

TEST(CarGeodesy, ElevationFollowsTheEarthsCurve) {
    // A probe 30 km up, 100 km due north, seen from the ground. By hand on a sphere of the local
    // meridian radius (6373 km at 49 deg): central angle t = 100 / 6373, elevation =
    // atan((cos t (R + h) - R) / ((R + h) sin t)) = 16.21 deg; a flat earth would give 16.70.
    double lat2 = 0, lon2 = 0;
    GeographicLib::Geodesic::WGS84().Direct(49.0, 8.0, 0.0, 100e3, lat2, lon2);
    EXPECT_NEAR(ElevationDeg({49.0, 8.0}, 0, {lat2, lon2}, 30000), 16.21, 0.02);
    // On the ground 100 km away it lies below the horizon: -d / 2R = -0.45 deg.
    EXPECT_NEAR(ElevationDeg({49.0, 8.0}, 0, {lat2, lon2}, 0), -0.45, 0.01);
    // Straight overhead.
    EXPECT_NEAR(ElevationDeg({49.0, 8.0}, 200, {49.0, 8.0}, 30000), 90, 1e-6);
}

TEST(CarFigures, TurnToTheLandingPointIsLeftOrRightOfTheHeading) {
    EXPECT_EQ(TurnText(350, 20), "30° rechts");
    EXPECT_EQ(TurnText(20, 350), "30° links");
    EXPECT_EQ(TurnText(90, 90.2), "geradeaus");
    EXPECT_EQ(TurnText(0, 180), "180° rechts");
    EXPECT_EQ(TurnText(270, 100), "170° links");
}

TEST(CarTracker, AFixCountsForTenSecondsFromItsArrivalAndANoFixReportEndsIt) {
    CarTracker t;
    EXPECT_FALSE(t.Current(0));
    CarFix f;
    f.mode = CarFixMode::ThreeD;
    f.position = {49, 8};
    f.arrivalMs = 5000;
    t.OnFix(f);
    ASSERT_TRUE(t.Current(5000 + kCarFixMaxAgeMs));
    EXPECT_FALSE(t.Current(5000 + kCarFixMaxAgeMs + 1));
    t.OnFix(f);
    t.OnFix(CarFix{});  // gpsd lost the fix: not the last position any more
    EXPECT_FALSE(t.Current(5001));
    EXPECT_EQ(t.Track().size(), 2u);  // where the car has been stays drawn
}

CarFix Fix3d(double lat, double lon, double kmh, double track) {
    CarFix f;
    f.mode = CarFixMode::ThreeD;
    f.position = {lat, lon};
    f.altMslM = 212.4;
    f.speedKmh = kmh;
    f.trackDeg = track;
    return f;
}

// The fix lost, by gpsd's word or by its age: the last position is home, without its motion and
// with its carhold= line, until the hold is over counted from the last fix; then the locator.
// Each change said once.
TEST(CarHold, TheLastPositionIsHomeForTheHoldThenTheLocatorEachChangeSaidOnce) {
    CarTracker t;
    CarHoldNotice notice;
    constexpr double kHoldS = 300;
    auto at = [&](std::int64_t ms) { return CarHomeAt(t, ms, kHoldS); };
    EXPECT_EQ(at(0).kind, CarHomeKind::None);
    CarFix f = Fix3d(49, 8, 36, 90);
    f.arrivalMs = 1000;
    t.OnFix(f);
    EXPECT_EQ(at(5000).kind, CarHomeKind::Fix);
    EXPECT_EQ(notice.Check(at(5000), kHoldS), "");  // the first fix is no news

    t.OnFix(CarFix{});  // gpsd: no fix
    const CarHomeState held = at(13500);
    ASSERT_EQ(held.kind, CarHomeKind::Holding);
    EXPECT_EQ(held.fix->position.lat, 49);
    EXPECT_FALSE(held.fix->speedKmh);
    EXPECT_FALSE(MakeCarFigures(held.fix, FlightState{}).headingDeg);
    EXPECT_DOUBLE_EQ(held.noFixS, 12.5);
    FlightState probe;
    probe.lastPosition = LatLonDeg{49.1, 8};
    EXPECT_EQ(FormatCarHoldLine(3, held, probe),
              "carhold=3\tage_s=12\thold_lat=49.000000\thold_lon=8.000000\tprobe_km=" +
                  common::FormatFixed(GeodesicBetween({49, 8}, {49.1, 8}).km, 15, 3) +
                  "\tland_km=\n");
    EXPECT_EQ(FormatCarHoldLine(3, {CarHomeKind::Fix, f, 0}, probe), "");  // with a fix, none
    EXPECT_EQ(notice.Check(held, kHoldS), "car GPS: no fix, holding the last position");
    EXPECT_EQ(notice.Check(at(200000), kHoldS), "");
    EXPECT_EQ(at(1000 + 300000).kind, CarHomeKind::Holding);
    const CarHomeState over = at(1000 + 300001);
    EXPECT_EQ(over.kind, CarHomeKind::Expired);
    EXPECT_FALSE(over.fix);
    EXPECT_EQ(notice.Check(over, kHoldS), "car GPS: no fix for 300 s, home is the locator again");
    EXPECT_EQ(notice.Check(at(1000 + 400000), kHoldS), "");

    f.arrivalMs = 500000;
    t.OnFix(f);
    EXPECT_EQ(notice.Check(at(500000), kHoldS), "car GPS: fix again");
    // Silence from gpsd: a fix older than 10 s is lost all the same.
    EXPECT_EQ(at(500000 + kCarFixMaxAgeMs + 1).kind, CarHomeKind::Holding);
    EXPECT_EQ(CarHomeAt(t, 500000 + kCarFixMaxAgeMs + 1, 0).kind, CarHomeKind::Expired);
    t.Clear();  // GPS switched off: nothing to hold
    EXPECT_EQ(at(500001).kind, CarHomeKind::None);
}

TEST(CarLine, EveryFieldInOrderEmptyWhenUnknown) {
    const std::string none = FormatCarLine(4, MakeCarFigures(std::nullopt, FlightState{}));
    EXPECT_EQ(none,
              "car=4\tfix=none\tcar_lat=\tcar_lon=\tcar_alt=\tcar_speed=\tcar_heading=\t"
              "probe_km=\tprobe_bearing=\tprobe_elev=\tland_km=\tland_bearing=\n");

    FlightState probe;
    probe.lastPosition = LatLonDeg{49.5, 8.0};
    probe.last = FlightPoint{0, 30000, probe.lastPosition};
    LandingEstimate l;
    l.point = {49.0, 9.0};
    probe.landing = l;
    const CarFix car = Fix3d(49.0, 8.0, 54.04, 359.7);
    const CarFigures f = MakeCarFigures(car, probe);
    const auto fields = Split(FormatCarLine(7, f), '\t');
    ASSERT_EQ(fields.size(), 12u);
    const Geodesic toProbe = GeodesicBetween(car.position, *probe.lastPosition);
    const Geodesic toLand = GeodesicBetween(car.position, l.point);
    EXPECT_EQ(fields[0], "car=7");
    EXPECT_EQ(fields[1], "fix=3d");
    EXPECT_EQ(fields[2], "car_lat=49.000000");
    EXPECT_EQ(fields[3], "car_lon=8.000000");
    EXPECT_EQ(fields[4], "car_alt=212");
    EXPECT_EQ(fields[5], "car_speed=54.0");
    EXPECT_EQ(fields[6], "car_heading=0");  // 359.7 rounds to north, not 360
    EXPECT_EQ(fields[7], "probe_km=" + common::FormatFixed(toProbe.km, 15, 3));
    EXPECT_EQ(fields[8], "probe_bearing=0.0");
    EXPECT_EQ(fields[9], "probe_elev=" + common::FormatFixed(*f.probeElevationDeg, 15, 1));
    EXPECT_EQ(fields[10], "land_km=" + common::FormatFixed(toLand.km, 15, 3));
    EXPECT_EQ(fields[11], "land_bearing=" + common::FormatFixed(toLand.bearingDeg, 15, 1) + "\n");
    EXPECT_GT(*f.probeElevationDeg, 0);
    // The landing point lies east-south-east; heading north, that is a right turn.
    EXPECT_EQ(f.turnToLanding, TurnText(359.7, toLand.bearingDeg));
    EXPECT_TRUE(f.turnToLanding->ends_with("rechts"));

    // Standing still or crawling: the track is noise, no heading and no turn.
    const CarFigures slow = MakeCarFigures(Fix3d(49.0, 8.0, 9.9, 123), probe);
    EXPECT_FALSE(slow.headingDeg);
    EXPECT_FALSE(slow.turnToLanding);
    EXPECT_EQ(Split(FormatCarLine(1, slow), '\t')[6], "car_heading=");

    // A 2D fix knows no altitude: no elevation either.
    CarFix flat = car;
    flat.mode = CarFixMode::TwoD;
    flat.altMslM.reset();
    const auto flatFields = Split(FormatCarLine(1, MakeCarFigures(flat, probe)), '\t');
    EXPECT_EQ(flatFields[1], "fix=2d");
    EXPECT_EQ(flatFields[4], "car_alt=");
    EXPECT_EQ(flatFields[9], "probe_elev=");
}

// NMEA checksum of what lies between "$" and "*".
unsigned Checksum(const std::string& sentence) {
    unsigned sum = 0;
    for (std::size_t i = 1; i < sentence.find('*'); ++i)
        sum ^= static_cast<unsigned char>(sentence[i]);
    return sum;
}

TEST(LandingWaypoint, WrittenLikeTheProbesSentenceWithHemispheresAndChecksum) {
    const std::string ne = LandingWaypointSentence({49.5123456, 8.0501});
    EXPECT_EQ(ne.substr(0, ne.find('*')), "$GPWPL,4930.7407,N,00803.0060,E,LANDING");
    EXPECT_EQ(std::stoul(ne.substr(ne.find('*') + 1, 2), nullptr, 16), Checksum(ne));
    EXPECT_TRUE(ne.ends_with("\r\n"));
    EXPECT_EQ(ne.size(), ne.find('*') + 5);

    const std::string sw = LandingWaypointSentence({-33.25, -70.999999999});
    EXPECT_EQ(sw.substr(0, sw.find('*')),
              "$GPWPL,3315.0000,S,07100.0000,W,LANDING");  // 59.99999' carries
    EXPECT_EQ(std::stoul(sw.substr(sw.find('*') + 1, 2), nullptr, 16), Checksum(sw));
}

TEST(GpsServerText, HostAndPortWithTheDaemonsDefault) {
    std::string error;
    EXPECT_EQ(ParseGpsServer("localhost", error)->Text(), "localhost:2947");
    EXPECT_EQ(ParseGpsServer("10.0.0.7:3000", error)->Text(), "10.0.0.7:3000");
    EXPECT_EQ(ParseGpsServer("[::1]:2948", error)->Text(), "[::1]:2948");
    EXPECT_EQ(ParseGpsServer("::1", error)->Text(), "[::1]:2947");
    for (const char* bad : {"", ":2947", "host:", "host:0", "host:x", "host:70000", "[::1"}) {
        error.clear();
        EXPECT_FALSE(ParseGpsServer(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(CarAsHome, RecordDisplaysMeasureFromTheCarWhileItHasAFix) {
    std::optional<LatLonDeg> car;
    StreamReader reader("JN49EA");
    reader.SetHomeSource([&] { return car; });
    testing::Fix f;
    f.lat = "4930.0000";
    f.lon = "00800.0000";
    reader.Feed(testing::Record(f));
    f.time = "123500.00";
    car = LatLonDeg{49.5, 8.0};  // right under the probe
    EXPECT_EQ(reader.Feed(testing::Record(f)).records[0].displays.dvllb, "0.0 km ");
    car = LatLonDeg{49.5 - 10 / 111.2, 8.0};  // 10 km south on the record displays' sphere
    f.time = "123600.00";
    EXPECT_EQ(reader.Feed(testing::Record(f)).records[0].displays.dvllb, "10.0 km ");
    car.reset();  // no fix: the locator's corner (8.33 E, 49.0 N) again, 55.6 km S and 24.3 km E
    f.time = "123700.00";
    EXPECT_EQ(reader.Feed(testing::Record(f)).records[0].displays.dvllb, "60.6 km ");
}

TEST(CarAsHome, TheLandingEstimateIsMeasuredFromTheCarAsTheCarLineIs) {
    probegen::FlightOptions o;
    o.stepS = 30;
    o.frames = 300;
    std::optional<LatLonDeg> car;
    FlightAnalytics a;
    a.SetHomeSource([&] { return car; });
    bool compared = false;
    for (const auto& frame : probegen::SimulateFlight(o)) {
        std::string r = testing::RelayedRecord(frame);
        r.pop_back();
        a.AddRecord(r);
        if (!a.State().landing) continue;
        const LandingEstimate& l = *a.State().landing;
        car = LatLonDeg{l.point.lat + 0.1, l.point.lon - 0.2};
        a.HomeMoved();
        const LandingEstimate& moved = *a.State().landing;
        const Geodesic g = GeodesicBetween(*car, moved.point);
        EXPECT_DOUBLE_EQ(moved.homeKm, g.km);
        EXPECT_DOUBLE_EQ(moved.bearingDeg, g.bearingDeg);
        EXPECT_EQ(a.EffectiveHome().lat, car->lat);
        const auto carLand = MakeCarFigures(Fix3d(car->lat, car->lon, 0, 0), a.State()).toLanding;
        EXPECT_DOUBLE_EQ(carLand->km, moved.homeKm);
        car.reset();
        a.HomeMoved();
        EXPECT_NE(a.State().landing->homeKm, g.km);  // back to the locator's home
        compared = true;
    }
    EXPECT_TRUE(compared);
}

}  // namespace
}  // namespace monitor
