// A flight day through the monitor's core: probes told apart by their flights, each fix taken
// once however many stations hear it, impossible fixes refused, gaps that are no burst, and a
// restart that reads the records back. Records are probegen's flights as stations upload them.
#include "monitor/flights/monitor_core.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/locator.h"
#include "records.h"
#include "simulated_flight.h"

namespace monitor {
namespace {

std::string Record(const probegen::FrameContent& f, const std::string& call) {
    std::string r = testing::RelayedRecord(f);
    r.replace(0, r.find(';'), call);
    r.pop_back();
    return r;
}

struct Upload {
    std::string record;
    double receivedS;
};

// Seconds of a day of "hh:mm:ss"; -1 for the start caption.
double Utc(const std::string& text) {
    if (text.size() != 8 || text[2] != ':') return -1;
    return std::stoi(text.substr(0, 2)) * 3600 + std::stoi(text.substr(3, 2)) * 60 +
           std::stoi(text.substr(6, 2));
}

// What the core made of a stream of uploads, with the checks every flight day must pass: no
// ground speed below zero on the displays, the time they show never going back (midnight
// aside), and the device sent one increasing sequence of fixes.
struct Day {
    MonitorCore core;
    std::vector<RecordOutcome> out;
    std::vector<FlightAlarm> alarms;
    explicit Day(std::string_view home) : core(home) {}

    void Run(const std::vector<Upload>& uploads) {
        std::optional<double> lastSent;
        double lastUtc = -1;
        for (const Upload& u : uploads) {
            out.push_back(core.Take(u.record, u.receivedS));
            const RecordOutcome& r = out.back();
            alarms.insert(alarms.end(), r.alarms.begin(), r.alarms.end());
            EXPECT_FALSE(r.shown.displays.ghlb.starts_with("-0") ||
                         r.shown.displays.ghlb.starts_with("-1"))
                << r.shown.displays.ghlb;
            const double utc = Utc(r.shown.displays.utclb);
            EXPECT_TRUE(lastUtc < 0 || std::remainder(utc - lastUtc, 86400) >= 0)
                << r.shown.displays.utclb << " after " << lastUtc;
            lastUtc = utc;
            if (r.toDevice) {
                const double t = *r.shown.record.gga.secondsOfDay.value;
                EXPECT_TRUE(!lastSent || std::remainder(t - *lastSent, 86400) > 0) << u.record;
                lastSent = t;
            }
        }
    }
    int Count(FixKind kind) const {
        int n = 0;
        for (const auto& r : out) n += r.kind == kind;
        return n;
    }
    const RecordOutcome& Last() const { return out.back(); }
};

probegen::FlightOptions Flight(double stepS) {
    probegen::FlightOptions o;
    o.stepS = stepS;
    o.frames = static_cast<int>(9000 / stepS);
    return o;
}

TEST(Flights, TwoProbesTwentyKilometresApartStayApartAndOnlyTheNearOneAlarms) {
    probegen::FlightOptions a = Flight(30), b = Flight(30);
    b.launchLonDeg += 0.28;  // 20 km east
    b.burstAltM = 25000;
    const auto fa = probegen::SimulateFlight(a), fb = probegen::SimulateFlight(b);
    const testing::FlightTruth tb = testing::Truth(b);
    Day day(*common::LatLonToLocator(tb.landingLon + 0.02, tb.landingLat + 0.02));
    std::vector<Upload> uploads;
    for (std::size_t i = 0; i < fa.size(); ++i) {
        uploads.push_back({Record(fa[i], "DL1AAA"), i * 30.0});
        uploads.push_back({Record(fb[i], "DL2BBB"), i * 30.0 + 1});
    }
    day.Run(uploads);
    for (std::size_t i = 0; i < day.out.size(); ++i) {
        EXPECT_EQ(day.out[i].flightId, i % 2 ? "B" : "A") << i;
        EXPECT_EQ(day.out[i].kind, FixKind::New) << i;
    }
    EXPECT_EQ(day.core.Tracker().Flights().size(), 2u);
    EXPECT_EQ(day.core.Followed()->id, "A");  // the first to appear, kept while it lives
    std::vector<std::string> landings, bursts;
    for (const FlightAlarm& x : day.alarms)
        (x.kind == AlarmKind::Landing ? landings : bursts).push_back(x.flightId);
    EXPECT_EQ(landings, std::vector<std::string>{"B"});
    EXPECT_EQ(bursts, (std::vector<std::string>{"B", "A"}));
    EXPECT_NEAR(*day.core.Tracker().Find("B")->analytics.State().burstAltM, 25000, 200);
}

TEST(Flights, ProbesCrossingAtDifferentAltitudesKeepTheirTracks) {
    const probegen::FlightOptions a = Flight(10);
    const auto fa = probegen::SimulateFlight(a);
    // B is launched right under A, 20 minutes after it, at 6 km.
    const std::size_t k = 120;
    probegen::FlightOptions b = a;
    b.launchLatDeg = fa[k].telemetry.fix.latitudeDeg;
    b.launchLonDeg = fa[k].telemetry.fix.longitudeDeg;
    b.startSecondsOfDay = a.startSecondsOfDay + static_cast<int>(k) * 10;
    const auto fb = probegen::SimulateFlight(b);
    Day day("JN49EA");
    std::vector<Upload> uploads;
    for (std::size_t i = 0; i < fa.size(); ++i) {
        uploads.push_back({Record(fa[i], "DL1AAA"), i * 10.0});
        if (i >= k) uploads.push_back({Record(fb[i - k], "DL2BBB"), i * 10.0 + 1});
    }
    day.Run(uploads);
    for (const auto& r : day.out)
        EXPECT_EQ(r.flightId, r.shown.record.station == "DL1AAA" ? "A" : "B")
            << r.shown.record.sentence;
}

// One probe, three stations: S1 loses frames 10 to 15, S2 hears every frame three steps late
// and misses every fourth after frame 20, S3 hears frames 20 on two steps late.
TEST(Flights, CopiesFromThreeStationsAndLateFixesMoveNothingTwice) {
    const probegen::FlightOptions o = Flight(30);
    const auto frames = probegen::SimulateFlight(o);
    std::vector<Upload> uploads;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const double t = i * 30.0;
        if (i < 10 || i > 15) uploads.push_back({Record(frames[i], "S1"), t});
        if (i >= 3 && (i < 23 || i % 4 != 0))
            uploads.push_back({Record(frames[i - 3], "S2"), t + 1});
        if (i >= 22) uploads.push_back({Record(frames[i - 2], "S3"), t + 2});
    }
    Day day("JN49EA");
    day.Run(uploads);
    Day alone("JN49EA");
    std::vector<Upload> one;
    for (std::size_t i = 0; i < frames.size(); ++i)
        one.push_back({Record(frames[i], "S1"), i * 30.0});
    alone.Run(one);

    EXPECT_EQ(day.core.Tracker().Flights().size(), 1u);
    EXPECT_EQ(day.Count(FixKind::New) + day.Count(FixKind::Late), static_cast<int>(frames.size()));
    EXPECT_GT(day.Count(FixKind::Late), 0);
    EXPECT_GT(day.Count(FixKind::Copy), static_cast<int>(frames.size()));
    int threeStations = 0;
    for (const auto& r : day.out) threeStations += r.stations == 3;
    EXPECT_GT(threeStations, 100);
    // The late fixes filled S1's gap in the track the analytics and plots use.
    EXPECT_EQ(day.core.FollowedAnalytics().Track().size(), frames.size());
    // The distance travelled adds new fixes only: S1's gap is cut short, never counted twice.
    const double total = std::stod(day.Last().shown.displays.tacholb);
    const double single = std::stod(alone.Last().shown.displays.tacholb);
    EXPECT_LE(total, single + 0.05);
    EXPECT_GE(total, single * 0.97);
    EXPECT_EQ(day.core.FollowedAnalytics().State().burstAltM,
              alone.core.FollowedAnalytics().State().burstAltM);
}

TEST(Flights, MidnightContinuesTheFlight) {
    probegen::FlightOptions o = Flight(30);
    o.startSecondsOfDay = 23 * 3600 + 30 * 60;
    const auto frames = probegen::SimulateFlight(o);
    Day day("JN49EA");
    std::vector<Upload> uploads;
    for (std::size_t i = 0; i < frames.size(); ++i)
        uploads.push_back({Record(frames[i], "S1"), i * 30.0});
    day.Run(uploads);
    EXPECT_EQ(day.Count(FixKind::New), static_cast<int>(frames.size()));
    EXPECT_EQ(day.core.Tracker().Flights().size(), 1u);
}

TEST(Flights, ImpossibleFixesAreRefusedOncePerKindAndCounted) {
    Day day("JN49EA");
    testing::Fix good;
    good.time = "120000.00";
    auto record = [](testing::Fix f) {
        std::string r = testing::Record(f);
        r.pop_back();
        return r;
    };
    day.Run({{record(good), 0}});
    struct Case {
        std::string testing::Fix::*field;
        const char* text;
        const char* kind;
    };
    const Case cases[] = {{&testing::Fix::lat, "9100.0000", "latitude"},
                          {&testing::Fix::lat, "4960.0000", "latitude"},
                          {&testing::Fix::lon, "18100.0000", "longitude"},
                          {&testing::Fix::alt, "1e9", "altitude"},
                          {&testing::Fix::alt, "abc", "altitude"},
                          {&testing::Fix::time, "996060.00", "time"}};
    const Displays before = day.Last().shown.displays;
    std::vector<std::string> said;
    int n = 1;
    for (const Case& c : cases) {
        testing::Fix bad;
        bad.time = "1200" + std::to_string(10 + n++) + ".00";
        bad.*c.field = c.text;
        day.Run({{record(bad), n * 1.0}});
        EXPECT_EQ(day.Last().kind, FixKind::Refused) << c.text;
        EXPECT_EQ(day.Last().refused, c.kind) << c.text;
        EXPECT_FALSE(day.Last().toDevice);
        EXPECT_EQ(day.Last().shown.displays, before) << c.text;
        if (!day.Last().firstRefusal.empty()) said.push_back(day.Last().refused);
    }
    EXPECT_EQ(said, (std::vector<std::string>{"latitude", "longitude", "altitude", "time"}));
    EXPECT_EQ(day.core.SummaryText(),
              "refused 6 records (altitude 2, latitude 2, longitude 1, time 1)");
    // Fields that are no numbers at all keep the conversion error of the displays.
    testing::Fix word;
    word.time = "12:00:30";
    day.Run({{record(word), 20}});
    EXPECT_EQ(day.Last().kind, FixKind::None);
    EXPECT_NE(day.Last().shown.error.find("time"), std::string::npos);
}

TEST(Flights, AStrayFixIsACandidateDroppedAfterTwoMinutes) {
    const auto frames = probegen::SimulateFlight(Flight(30));
    Day day("JN49EA");
    std::vector<Upload> uploads;
    for (std::size_t i = 0; i < 20; ++i) uploads.push_back({Record(frames[i], "S1"), i * 30.0});
    probegen::FrameContent stray = frames[20];
    stray.sentence.replace(stray.sentence.find(",50"), 3, ",40");  // ten degrees south
    uploads.push_back({Record(stray, "S2"), 600});
    day.Run(uploads);
    EXPECT_EQ(day.Last().flightId, "B");
    EXPECT_EQ(day.Last().candidateOpened, "B");
    std::vector<std::string> dropped;
    day.core.Tick(600 + 119, std::nullopt, &dropped);
    EXPECT_TRUE(dropped.empty());
    day.core.Tick(600 + 121, std::nullopt, &dropped);
    EXPECT_EQ(dropped, std::vector<std::string>{"B"});
    EXPECT_EQ(day.core.Tracker().Flights().size(), 1u);
    EXPECT_EQ(day.core.SummaryText(), "dropped 1 candidate flight");
    EXPECT_EQ(day.core.Followed()->id, "A");
}

// The link was down from 5 km up in the ascent until the probe lay on the ground, 23 minutes.
TEST(Flights, AGapOverTheTopIsNoBurstAndTheProbeOnTheGroundIsLanded) {
    probegen::FlightOptions o = Flight(30);
    o.burstAltM = 6000;
    const auto frames = probegen::SimulateFlight(o);
    const testing::FlightTruth t = testing::Truth(o);
    Day day("JN49EA");
    std::vector<Upload> uploads;
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (i < 34 || i * 30.0 > t.landingTimeS + 120)
            uploads.push_back({Record(frames[i], "S1"), i * 30.0});
    day.Run(uploads);
    for (const FlightAlarm& x : day.alarms) EXPECT_NE(x.kind, AlarmKind::Burst) << x.text;
    const FlightState& s = day.core.FollowedAnalytics().State();
    EXPECT_EQ(s.phase, FlightPhase::Ground);
    EXPECT_FALSE(s.burstAltM);
    EXPECT_TRUE(s.burstNotSeen);
    ASSERT_TRUE(s.landing);
    EXPECT_EQ(s.landing->secondsToLanding, 0);
    EXPECT_NEAR(*s.vrateAvgMps, 0, 0.5);
}

TEST(Flights, ARestartReadsTheRecordsBackIntoTheSameFlights) {
    probegen::FlightOptions a = Flight(30), b = Flight(30);
    b.launchLonDeg += 0.5;
    const auto fa = probegen::SimulateFlight(a), fb = probegen::SimulateFlight(b);
    std::vector<Upload> uploads;
    for (std::size_t i = 0; i < 260; ++i) {
        uploads.push_back({Record(fa[i], "S1"), i * 30.0});
        uploads.push_back({Record(fb[i], "S2"), i * 30.0 + 1});
    }
    Day before("JN49EA");
    before.Run(uploads);
    MonitorCore after("JN49EA");
    for (const Upload& u : uploads) after.Take(u.record, u.receivedS, false);
    ASSERT_EQ(after.Tracker().Flights().size(), 2u);
    for (const char* id : {"A", "B"}) {
        const FlightState& was = before.core.Tracker().Find(id)->analytics.State();
        const FlightState& is = after.Tracker().Find(id)->analytics.State();
        EXPECT_EQ(is.burstAltM, was.burstAltM) << id;
        ASSERT_TRUE(is.landing && was.landing) << id;
        EXPECT_EQ(is.landing->point, was.landing->point) << id;
    }
    EXPECT_EQ(after.Records(), 0u);
    // The displays start as at start-up; the first live record primes them.
    EXPECT_EQ(after.Reader().CurrentDisplays(), Displays{});
    const RecordOutcome next = after.Take(Record(fa[260], "S1"), 7800);
    EXPECT_EQ(next.number, 1u);
    EXPECT_EQ(next.shown.displays.ghlb, "-");
    EXPECT_EQ(next.kind, FixKind::New);
}

}  // namespace
}  // namespace monitor
