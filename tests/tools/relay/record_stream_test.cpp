#include "tools/relay/record_stream.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

using relay::Drop;
using relay::DropReason;
using relay::kMaxRecordBytes;
using relay::StationStream;
using relay::StreamEvents;

namespace relay {
void PrintTo(const Drop& drop, std::ostream* os) {
    *os << DropReasonName(drop.reason) << " " << drop.bytes << " bytes";
}
}  // namespace relay

namespace {

const std::string kRecord =
    "DL1ABC;JN49EA;$GPGGA,123456,5133.0000,N,00009.0000,E,1,07,1.0,1234.5,M;"
    "  100,   200,  3000, 27.07.2024 12:34:56#";

struct Result {
    std::string call, locator;
    bool hasLogin = false;
    std::vector<std::string> records;
    std::vector<Drop> drops;
    std::size_t maxPending = 0;
};

// Feeds `stream` in pieces whose sizes come from `cuts` (cycled); 0 means all at once.
Result FeedInPieces(const std::string& stream, const std::vector<std::size_t>& cuts) {
    StationStream parser;
    StreamEvents events;
    Result result;
    std::size_t at = 0, cut = 0;
    while (at < stream.size()) {
        const std::size_t size = cuts.empty() || cuts[cut % cuts.size()] == 0
                                     ? stream.size() - at
                                     : std::min(cuts[cut % cuts.size()], stream.size() - at);
        ++cut;
        parser.Feed(std::string_view(stream).substr(at, size), events);
        at += size;
        result.maxPending = std::max(result.maxPending, parser.Pending());
    }
    result.hasLogin = parser.HasLogin();
    result.call = parser.Call();
    result.locator = parser.Locator();
    result.records = events.records;
    result.drops = events.drops;
    return result;
}

struct StreamCase {
    const char* name;
    std::string bytes;
    bool hasLogin;
    std::vector<std::string> records;
    std::vector<Drop> drops;  // sizes in bytes, "#" included
};

std::vector<StreamCase> Cases() {
    const std::string login = "DL1ABC;JN49EA;";
    const std::string longest(kMaxRecordBytes - 1, 'x');
    return {
        {"LoginOnly", login, true, {}, {}},
        {"LoginAndRecordInOnePacket", login + kRecord, true, {kRecord}, {}},
        {"RecordsJoined",
         login + kRecord + kRecord + "B;" + kRecord,
         true,
         {kRecord, kRecord, "B;" + kRecord},
         {}},
        {"PartialRecordHeldBack", login + kRecord + "DL1ABC;JN49", true, {kRecord}, {}},
        {"EmptyLoginFields", ";;" + kRecord, true, {kRecord}, {}},
        {"LongestRecordKept", login + longest + "#", true, {longest + "#"}, {}},
        {"OneByteOverDroppedThenResync",
         login + longest + "x#" + kRecord,
         true,
         {kRecord},
         {{DropReason::Overlong, kMaxRecordBytes + 1}}},
        {"HugeRecordDropped",
         login + std::string(100000, 'y') + "#" + kRecord,
         true,
         {kRecord},
         {{DropReason::Overlong, 100001}}},
        {"BinaryGarbageDropped",
         login + std::string("ab\0\xff\r\n;x#", 9) + kRecord,
         true,
         {kRecord},
         {{DropReason::Garbage, 9}}},
        {"EmptyRecordsDropped",
         login + "##" + kRecord,
         true,
         {kRecord},
         {{DropReason::Empty, 1}, {DropReason::Empty, 1}}},
        {"HashInsideLogin", "DL1ABC#" + kRecord, false, {kRecord}, {{DropReason::BadLogin, 7}}},
        {"OverlongLoginResyncs",
         std::string(5000, 'z') + "#" + kRecord,
         false,
         {kRecord},
         {{DropReason::BadLogin, 5001}}},
        {"OverlongLocatorResyncs",
         "DL1ABC;" + std::string(300, 'L') + ";rest#" + kRecord,
         false,
         {kRecord},
         {{DropReason::BadLogin, 7 + 300 + 6}}},
    };
}

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

}  // namespace

class StationStreamSplits : public ::testing::TestWithParam<StreamCase> {};

// Every case must give the same result however the bytes are cut into reads.
TEST_P(StationStreamSplits, SameResultForEveryWayOfCutting) {
    const StreamCase& c = GetParam();
    const std::vector<std::vector<std::size_t>> cuttings = {
        {0}, {1}, {2}, {3, 1, 7}, {13}, {kMaxRecordBytes - 1}, {kMaxRecordBytes + 1}};
    for (const auto& cuts : cuttings) {
        SCOPED_TRACE("first cut " + std::to_string(cuts[0]));
        const Result r = FeedInPieces(c.bytes, cuts);
        EXPECT_EQ(r.hasLogin, c.hasLogin);
        if (c.hasLogin && std::string(c.name) != "EmptyLoginFields") {
            EXPECT_EQ(r.call, "DL1ABC");
            EXPECT_EQ(r.locator, "JN49EA");
        }
        EXPECT_EQ(r.records, c.records);
        EXPECT_EQ(r.drops, c.drops);
        EXPECT_LE(r.maxPending, kMaxRecordBytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, StationStreamSplits, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StationStream, LoginReportedOnceAndRecordsInOrder) {
    StationStream parser;
    StreamEvents events;
    parser.Feed("DL1", events);
    EXPECT_FALSE(events.loginDone);
    parser.Feed("ABC;JN49EA", events);
    EXPECT_FALSE(events.loginDone);
    EXPECT_FALSE(parser.LoggedIn());
    parser.Feed(";A;1#A;2", events);
    EXPECT_TRUE(events.loginDone);
    EXPECT_TRUE(parser.LoggedIn());
    events.Clear();
    parser.Feed("#A;3#", events);
    EXPECT_FALSE(events.loginDone);
    EXPECT_EQ(events.records, (std::vector<std::string>{"A;2#", "A;3#"}));
    EXPECT_EQ(parser.Pending(), 0u);
}

// Found by fuzzing: a login ended by "#" counted its bytes twice when they came in one read.
TEST(StationStream, DroppedLoginCountsEachByteOnce) {
    const std::string bytes = "DL1ABC;JN4#";
    for (std::size_t piece : {bytes.size(), std::size_t{1}, std::size_t{4}}) {
        StationStream parser;
        StreamEvents events;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            parser.Feed(std::string_view(bytes).substr(at, piece), events);
        ASSERT_EQ(events.drops.size(), 1u);
        EXPECT_EQ(events.drops[0].bytes, bytes.size()) << "pieces of " << piece;
    }
}

TEST(StationStream, RandomBytesNeverBreakTheInvariants) {
    std::mt19937 rng(20240727);
    std::uniform_int_distribution<int> byte(0, 255), pick(0, 9), cut(1, 700);
    for (int round = 0; round < 50; ++round) {
        std::string soup;
        const std::size_t size = 20000 + static_cast<std::size_t>(cut(rng)) * 10;
        while (soup.size() < size) {
            const int p = pick(rng);
            soup.push_back(p < 2 ? '#' : p < 3 ? ';' : p < 6 ? static_cast<char>(byte(rng)) : 'a');
        }
        std::vector<std::size_t> cuts;
        for (int i = 0; i < 16; ++i) cuts.push_back(static_cast<std::size_t>(cut(rng)));
        const Result whole = FeedInPieces(soup, {0});
        const Result pieces = FeedInPieces(soup, cuts);
        ASSERT_EQ(whole.records, pieces.records);
        ASSERT_EQ(whole.drops, pieces.drops);
        for (const std::string& record : whole.records) {
            ASSERT_GE(record.size(), 2u);
            ASSERT_LE(record.size(), kMaxRecordBytes);
            ASSERT_EQ(record.find('#'), record.size() - 1);
            for (unsigned char c : record) ASSERT_TRUE(c >= 26 && c <= 126);
        }
    }
}

// Only a station's own, well-formed records pass: the login it gave, both fields filled and
// clean, and four ";" fields.
TEST(Screen, OnlyOwnFourFieldRecordsAfterAGoodLogin) {
    const auto loginOf = [](const std::string& bytes) {
        StationStream parser;
        StreamEvents events;
        parser.Feed(bytes, events);
        return relay::LoginText(parser);
    };
    EXPECT_EQ(loginOf("DL1ABC;JN49EA;"), "DL1ABC;JN49EA;");
    for (const char* bad : {"DL1ABC;JN49EA", ";JN49EA;", "DL1ABC;;", "DL1ABC#", "DL\x01;JN49EA;"})
        EXPECT_EQ(loginOf(bad), "") << bad;

    const std::string login = "DL1ABC;JN49EA;";
    EXPECT_EQ(relay::Screen(login, kRecord), std::nullopt);
    EXPECT_EQ(relay::Screen("", kRecord), DropReason::NoLogin);
    for (const char* other : {"hello world#", "DL1ABC;JN49EB;g;d#", "DL1AB;JN49EA;g;d#",
                              "DL1ABCD;JN49EA;g;d#", "XDL1ABC;JN49EA;g;d#"})
        EXPECT_EQ(relay::Screen(login, other), DropReason::NotOwn) << other;
    for (const char* fields : {"DL1ABC;JN49EA;three#", "DL1ABC;JN49EA;a;b;c#"})
        EXPECT_EQ(relay::Screen(login, fields), DropReason::Fields) << fields;
}
