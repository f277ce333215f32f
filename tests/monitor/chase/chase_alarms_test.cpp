// Alarms fire once per event, the data age follows the wall clock whatever the GPS time does.
#include "monitor/chase/chase_alarms.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/locator.h"
#include "simulated_flight.h"

namespace monitor {
namespace {

std::vector<AlarmKind> Kinds(const std::vector<Alarm>& alarms) {
    std::vector<AlarmKind> k;
    for (const auto& a : alarms) k.push_back(a.kind);
    return k;
}

FlightState LandingAt(double km) {
    FlightState s;
    s.landing = LandingEstimate{};
    s.landing->homeKm = km;
    return s;
}

TEST(ChaseAlarms, LandingFiresOnceUntilTheEstimateLeavesTheLimitPlusAMargin) {
    ChaseAlarms alarms;  // 10 km
    struct Case {
        double km;
        bool fires;
    };
    const Case cases[] = {{25, false},   {10.0, true}, {9, false},  {10.9, false}, {9.5, false},
                          {11.2, false}, {12, false},  {9.9, true}, {3, false}};
    for (const Case& c : cases)
        EXPECT_EQ(alarms.OnRecord(LandingAt(c.km)).size(), c.fires ? 1u : 0u) << c.km;
    // A record without an estimate changes nothing.
    EXPECT_TRUE(alarms.OnRecord(FlightState{}).empty());
}

TEST(ChaseAlarms, NoDataFiresAgainOnlyAfterDataCameBackAndStoppedAgain) {
    ChaseAlarms alarms;                                // 60 s
    EXPECT_TRUE(alarms.OnTick(std::nullopt).empty());  // nothing ever came: no alarm
    EXPECT_TRUE(alarms.OnTick(59.9).empty());
    EXPECT_EQ(Kinds(alarms.OnTick(60)), std::vector{AlarmKind::NoData});
    EXPECT_TRUE(alarms.OnTick(61).empty());
    EXPECT_TRUE(alarms.OnTick(3600).empty());
    alarms.OnRecord(FlightState{});
    EXPECT_TRUE(alarms.OnTick(1).empty());
    const auto again = alarms.OnTick(75);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].text, "KEINE DATEN seit 1 min 15 s");
}

TEST(ChaseAlarms, NoDataStaysQuietAfterTheUsersOwnDisconnectUntilRecordsComeAgain) {
    ChaseAlarms alarms;
    alarms.OnRecord(FlightState{});
    alarms.UserDisconnected();
    EXPECT_TRUE(alarms.OnTick(600).empty());
    alarms.OnRecord(FlightState{});  // connected again
    EXPECT_EQ(Kinds(alarms.OnTick(60)), std::vector{AlarmKind::NoData});
}

TEST(ChaseAlarms, SwitchedOffAlarmsConsumeTheirEvent) {
    ChaseAlarms alarms(AlarmSettings{.burstOn = false, .landingOn = false, .noDataOn = false});
    FlightState s = LandingAt(5);
    s.bursts = 1;
    s.burstAltM = 30000;
    EXPECT_TRUE(alarms.OnRecord(s).empty());
    EXPECT_TRUE(alarms.OnTick(100).empty());
    alarms.SetSettings(AlarmSettings{});
    EXPECT_TRUE(alarms.OnTick(200).empty());  // neither the old silence...
    EXPECT_TRUE(alarms.OnRecord(s).empty());  // ...nor the old burst or landing
    s.bursts = 2;
    s.burstAltM = 31234.4;
    const auto fired = alarms.OnRecord(s);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].text, "PLATZER in 31234 m");
}

TEST(ChaseAlarms, TheSimulatedFlightSoundsBurstAndLandingOnceEach) {
    const probegen::FlightOptions o;  // scripts/run's flight, a frame every 30 s
    const testing::FlightTruth t = testing::Truth(o);
    // Home in the square where it comes down, so the estimate closes in on home.
    FlightAnalytics analytics({}, *common::LatLonToLocator(t.landingLon, t.landingLat));
    ChaseAlarms alarms;
    std::vector<std::pair<AlarmKind, double>> fired;
    const auto frames = probegen::SimulateFlight(o);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::string r = testing::RelayedRecord(frames[i]);
        r.pop_back();
        analytics.AddRecord(r);
        for (const auto& a : alarms.OnRecord(analytics.State()))
            fired.emplace_back(a.kind, i * o.stepS);
    }
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].first, AlarmKind::Burst);
    EXPECT_NEAR(fired[0].second, t.burstTimeS, 60);
    EXPECT_EQ(fired[1].first, AlarmKind::Landing);
    EXPECT_LT(fired[1].second, t.landingTimeS);
}

TEST(DataAge, WallClockSecondsWhateverTheRecordsSay) {
    DataAge age;
    EXPECT_FALSE(age.Seconds(1000));
    EXPECT_EQ(DataAge::Text(age.Seconds(1000)), "-");
    age.OnRecord(5'000);
    EXPECT_EQ(*age.Seconds(5'000), 0);
    EXPECT_EQ(*age.Seconds(35'500), 30.5);
    EXPECT_EQ(*age.Seconds(4'000), 0);  // the wall clock was set back
    age.OnRecord(40'000);
    EXPECT_EQ(*age.Seconds(41'000), 1);
    EXPECT_EQ(DataAge::Text(0.2), "0 s");
    EXPECT_EQ(DataAge::Text(59.99), "59 s");
    EXPECT_EQ(DataAge::Text(65), "1 min 05 s");
    EXPECT_EQ(DataAge::Text(3725), "1 h 02 min");
}

}  // namespace
}  // namespace monitor
