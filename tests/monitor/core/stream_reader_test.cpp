#include "monitor/core/stream_reader.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/text.h"
#include "records.h"

namespace monitor {
namespace {

using testing::Fix;
using testing::Record;

// Three fixes four seconds apart: 0.1' north (185 m), then 0.1' west, climbing 20 m each.
std::vector<Fix> Flight() {
    std::vector<Fix> f(3);
    f[1].time = "123500.00";
    f[1].lat = "4901.3345";
    f[1].alt = "12365.6";
    f[2].time = "123504.00";
    f[2].lat = "4901.3345";
    f[2].lon = "00820.0234";
    f[2].alt = "12385.6";
    return f;
}

std::string Stream(const std::vector<Fix>& fixes) {
    std::string s;
    for (const Fix& f : fixes) s += Record(f);
    return s;
}

RecordResult FeedOne(StreamReader& r, const Fix& f) {
    const FeedResult out = r.Feed(Record(f));
    EXPECT_EQ(out.records.size(), 1u);
    return out.records.empty() ? RecordResult{} : out.records.front();
}

TEST(StreamReader, FirstRecordPrimesAndSecondShowsTheStep) {
    StreamReader r;
    const FeedResult out = r.Feed(Stream(Flight()));
    ASSERT_EQ(out.records.size(), 3u);
    const Displays& d1 = out.records[0].displays;
    EXPECT_EQ(d1.rxstatlb, "DL1ABC  in  JN49EA");
    EXPECT_EQ(d1.utclb, "12:34:56");
    EXPECT_EQ(d1.satlb, "07");
    EXPECT_EQ(d1.ubatlb, "6.0 V");
    EXPECT_EQ(d1.plb, "987.5 hPa");
    EXPECT_EQ(d1.hgpslb, "-");
    EXPECT_EQ(d1.gvlb, "-");
    EXPECT_EQ(d1.ghlb, "-");
    EXPECT_EQ(d1.dvllb, "-");
    EXPECT_EQ(d1.tacholb, "-");
    EXPECT_FALSE(d1.courseDrawn);

    const Displays& d2 = out.records[1].displays;
    EXPECT_EQ(d2.utclb, "12:35:00");
    EXPECT_EQ(d2.hgpslb, "12366 m");
    // 4 s is 11 units of 1/10000 h: 20 m / 11 * 10000 / 3600.
    EXPECT_EQ(d2.gvlb, "5.1 m/s");
    EXPECT_EQ(d2.gvlbColour, kTextGreen);
    EXPECT_EQ(d2.ghlb, "168.5 km/h");
    EXPECT_EQ(d2.tacholb, "0.2 km ");
    EXPECT_EQ(d2.dvllb, "2.5 km ");
    EXPECT_TRUE(d2.courseDrawn);
    EXPECT_NEAR(d2.courseDeg, 0, 0.01);
    EXPECT_NEAR(out.records[2].displays.courseDeg, 270, 0.01);
    EXPECT_EQ(out.records[2].displays.tacholb, "0.3 km ");
    for (const auto& rec : out.records) EXPECT_TRUE(rec.error.empty()) << rec.error;
}

TEST(StreamReader, AnySplitOfTheStreamGivesTheSameRecords) {
    std::string stream = Stream(Flight());
    stream += "\r\n" + Record(Flight()[0]) + "\n";  // line ends between records are ignored
    StreamReader whole;
    const FeedResult ref = whole.Feed(stream);
    ASSERT_EQ(ref.records.size(), 4u);

    std::mt19937 rng(20240512);
    for (int trial = 0; trial < 50; ++trial) {
        StreamReader r;
        std::vector<RecordResult> got;
        std::size_t pos = 0;
        while (pos < stream.size()) {
            const std::size_t n = std::uniform_int_distribution<std::size_t>(1, 90)(rng);
            FeedResult out = r.Feed(std::string_view(stream).substr(pos, n));
            EXPECT_TRUE(out.messages.empty());
            for (auto& rec : out.records) got.push_back(std::move(rec));
            pos += n;
        }
        ASSERT_EQ(got.size(), ref.records.size()) << "trial " << trial;
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(got[i] == ref.records[i]) << "trial " << trial << " record " << i;
        EXPECT_EQ(r.PendingBytes(), 0u);
    }
}

TEST(StreamReader, UnfinishedRecordWaitsForItsEnd) {
    StreamReader r;
    const std::string rec = Record(Fix{});
    EXPECT_TRUE(r.Feed(rec.substr(0, 40)).records.empty());
    EXPECT_EQ(r.PendingBytes(), 40u);
    const FeedResult out = r.Feed(rec.substr(40));
    ASSERT_EQ(out.records.size(), 1u);
    EXPECT_EQ(out.records[0].displays.utclb, "12:34:56");
    EXPECT_EQ(out.records[0].record.text + "#", rec);
}

// A bad server's megabyte without "#": one message for the whole run, memory stays bounded,
// and the record glued to its end is dropped with it, never shown with junk for a call sign.
TEST(StreamReader, OverlongRunIsDroppedUpToTheNextHashAndTheStreamRecovers) {
    StreamReader r;
    std::size_t run = 0;
    std::vector<std::string> messages;
    for (; run < (1 << 20); run += 1000) {
        const FeedResult junk = r.Feed(std::string(1000, 'x'));
        EXPECT_TRUE(junk.records.empty());
        messages.insert(messages.end(), junk.messages.begin(), junk.messages.end());
        EXPECT_LE(r.PendingBytes(), StreamReader::kMaxTailBytes);
    }
    EXPECT_TRUE(messages.empty());
    const std::string glued = Record(Fix{});
    const FeedResult end = r.Feed(glued + Record(Fix{}));
    ASSERT_EQ(end.messages.size(), 1u);
    EXPECT_EQ(end.messages[0], "dropped " + std::to_string(run + glued.size()) +
                                   " received bytes without an ending \"#\"");
    ASSERT_EQ(end.records.size(), 1u);
    EXPECT_TRUE(end.records[0].error.empty());
    EXPECT_EQ(end.records[0].record.station, "DL1ABC");
    EXPECT_EQ(r.StartStream(), 0u);
}

TEST(StreamReader, RunCutByANewConnectionCountsAsDropped) {
    StreamReader r;
    r.Feed(std::string(StreamReader::kMaxTailBytes + 1, 'x'));
    r.Feed("yyyy");
    EXPECT_EQ(r.StartStream(), StreamReader::kMaxTailBytes + 5);
    const FeedResult out = r.Feed(Record(Fix{}));  // a new stream starts clean
    ASSERT_EQ(out.records.size(), 1u);
    EXPECT_TRUE(out.messages.empty());
}

TEST(StreamReader, EqualTimesGiveZeroSpeeds) {
    StreamReader r;
    FeedOne(r, Fix{});
    Fix f;
    f.lat = "4901.3345";
    f.alt = "12400.0";
    const Displays d = FeedOne(r, f).displays;
    EXPECT_EQ(d.ghlb, "0.0 km/h");
    EXPECT_EQ(d.gvlb, "0.0 m/s");
    EXPECT_EQ(d.gvlbColour, kTextRed);
}

TEST(StreamReader, IdenticalFixesAddNoDistance) {
    StreamReader r;
    FeedOne(r, Fix{});
    Fix f;
    for (const char* t : {"123500", "123504", "123508"}) {
        f.time = t;
        const Displays d = FeedOne(r, f).displays;
        EXPECT_EQ(d.tacholb, "0.0 km ");
        EXPECT_EQ(d.ghlb, "0.0 km/h");
        EXPECT_EQ(d.gvlb, "0.0 m/s");
    }
}

TEST(StreamReader, HousekeepingConversions) {
    struct Case {
        std::string ubat, tbat, taus, pressure;
        std::string ubatlb, tbatlb, tauslb, plb;
    };
    const std::vector<Case> cases = {
        {"2000", "300", "255", "9875", "8.0 V", "22.0°C", "0.0°C", "987.5 hPa"},
        {"1500", "-7", "0", "10132", "6.0 V", "-3.0°C", "0.0°C", "1013.2 hPa"},
        {"0", "253", "51", "0", "0.0 V", "-1.0°C", "25.0°C", "0.0 hPa"},
        {"65535", "65408", "128", "65535", "262.1 V", "-64.0°C", "-64.0°C", "6553.5 hPa"},
    };
    for (const Case& c : cases) {
        StreamReader r;
        Fix f;
        f.words[2] = c.ubat;
        f.words[13] = c.tbat;
        f.words[14] = c.taus;
        f.words[15] = c.pressure;
        const RecordResult out = FeedOne(r, f);
        EXPECT_TRUE(out.error.empty()) << out.error;
        EXPECT_EQ(out.displays.ubatlb, c.ubatlb);
        EXPECT_EQ(out.displays.tbatlb, c.tbatlb) << c.tbat;
        EXPECT_EQ(out.displays.tauslb, c.tauslb) << c.taus;
        EXPECT_EQ(out.displays.plb, c.plb);
    }
}

TEST(StreamReader, SpeedInMetresPerSecond) {
    StreamReader r;
    r.SetSpeedKmh(false);
    const FeedResult out = r.Feed(Stream(Flight()));
    EXPECT_EQ(out.records[1].displays.ghlb, "46.8 m/s");
}

TEST(StreamReader, NmeaLineIsTheSentenceWithCrLf) {
    StreamReader r;
    const RecordResult out = FeedOne(r, Fix{});
    EXPECT_EQ(out.nmeaLine,
              "$GPGGA,123456.00,4901.2345,N,00820.1234,E,1,07,1.0,12345.6,M,47.0,M,,*5C\r\n");
    EXPECT_EQ(r.LastNmeaLine(), out.nmeaLine);
    const FeedResult bare = r.Feed("A;B#");
    ASSERT_EQ(bare.records.size(), 1u);
    EXPECT_EQ(bare.records[0].nmeaLine, "\r\n");
}

TEST(StreamReader, BadNumberStopsTheRecordAndTheNextOneIsRead) {
    StreamReader r;
    FeedOne(r, Fix{});
    Fix bad = Flight()[1];
    bad.words[14] = "x7";  // Taus
    bad.words[15] = "1000";
    const RecordResult out = FeedOne(r, bad);
    EXPECT_NE(out.error.find("Taus"), std::string::npos) << out.error;
    EXPECT_EQ(out.displays.tbatlb, "22.0°C");  // set before the bad field
    EXPECT_EQ(out.displays.tauslb, "0.0°C");   // kept from the first record
    EXPECT_EQ(out.displays.plb, "987.5 hPa");  // not reached
    EXPECT_EQ(out.displays.utclb, "12:35:00");

    // Previous time and altitude stayed at the first record: 40 m in 8 s.
    Fix next = Flight()[2];
    next.alt = "12385.6";
    const RecordResult ok = FeedOne(r, next);
    EXPECT_TRUE(ok.error.empty());
    EXPECT_EQ(ok.displays.gvlb, "5.1 m/s");
    EXPECT_EQ(ok.displays.plb, "987.5 hPa");
}

TEST(StreamReader, BadTimeStopsBeforeAnyPositionDisplay) {
    StreamReader r;
    FeedOne(r, Fix{});
    Fix bad = Flight()[1];
    bad.time = "12:35";
    const RecordResult out = FeedOne(r, bad);
    EXPECT_NE(out.error.find("time"), std::string::npos);
    EXPECT_EQ(out.displays.rxstatlb, "DL1ABC  in  JN49EA");
    EXPECT_EQ(out.displays.utclb, "12:34:56");
    EXPECT_EQ(out.displays.ghlb, "-");
    EXPECT_EQ(FeedOne(r, Flight()[1]).displays.ghlb, "168.5 km/h");
}

TEST(StreamReader, SpeedsStayRightAcrossMidnight) {
    StreamReader r;
    Fix a;
    a.time = "235958.00";
    FeedOne(r, a);
    Fix b = Flight()[1];
    b.time = "000002.00";  // 4 s later: 240000 - 239994 + 5 = 11 units
    const Displays d = FeedOne(r, b).displays;
    EXPECT_EQ(d.ghlb, "168.5 km/h");
    EXPECT_EQ(d.gvlb, "5.1 m/s");
    EXPECT_EQ(d.utclb, "00:00:02");
}

TEST(StreamReader, RecordWithoutPositionKeepsThePositionDisplays) {
    StreamReader r;
    Fix noFix;
    noFix.lat = "";
    noFix.alt = "";
    // Without a position the first record does not count as the priming one.
    FeedOne(r, noFix);
    FeedOne(r, Fix{});
    const Displays before = FeedOne(r, Flight()[1]).displays;

    noFix.time = "123502.00";
    const RecordResult gap = FeedOne(r, noFix);
    EXPECT_TRUE(gap.error.empty());
    EXPECT_EQ(gap.displays.dvllb, before.dvllb);
    EXPECT_EQ(gap.displays.ghlb, before.ghlb);
    EXPECT_EQ(gap.displays.tacholb, before.tacholb);
    EXPECT_EQ(gap.displays.hgpslb, before.hgpslb);
    EXPECT_EQ(gap.displays.gvlb, before.gvlb);
    EXPECT_EQ(gap.displays.courseDeg, before.courseDeg);
    EXPECT_EQ(gap.displays.utclb, "12:35:02");

    // Speeds of the next fix are measured from the last fix, not from the gap.
    const Displays after = FeedOne(r, Flight()[2]).displays;
    EXPECT_EQ(after.gvlb, "5.1 m/s");
    EXPECT_NE(after.ghlb, before.ghlb);
    EXPECT_EQ(after.ghlb, "110.5 km/h");
}

TEST(StreamReader, ReconnectRestartsTheTotalButDoesNotPrimeAgain) {
    StreamReader r;
    const std::vector<Fix> f = Flight();
    FeedOne(r, f[0]);
    FeedOne(r, f[1]);
    r.ResetTotalDistance();
    const Displays d = FeedOne(r, f[2]).displays;
    EXPECT_EQ(d.tacholb, "0.1 km ");
    EXPECT_EQ(d.ghlb, "110.5 km/h");
}

TEST(StreamReader, HomeLocatorSetsTheDistanceToTheBalloon) {
    const std::vector<Fix> f = Flight();
    StreamReader near("JN49EA");
    StreamReader far("JO31AA");
    StreamReader fallback("jn49");
    for (StreamReader* r : {&near, &far, &fallback}) FeedOne(*r, f[0]);
    EXPECT_EQ(FeedOne(near, f[1]).displays.dvllb, "2.5 km ");
    EXPECT_EQ(FeedOne(far, f[1]).displays.dvllb, "276.0 km ");
    EXPECT_EQ(FeedOne(fallback, f[1]).displays.dvllb, "2.5 km ");
}

}  // namespace
}  // namespace monitor
