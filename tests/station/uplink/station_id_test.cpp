// Call sign and locator: what may enter, as UTF-8 from the command line and tavrin.ini.
#include "station/uplink/station_id.h"

#include <gtest/gtest.h>

#include "station/options.h"

namespace {

struct IdCase {
    const char* utf8;
    const char* latin1;   // nullptr: refused
    const char* problem;  // part of the message when refused
};

class StationIdCheck : public ::testing::TestWithParam<IdCase> {};

TEST_P(StationIdCheck, AcceptsPrintableAsciiAndRefusesWhatBreaksRecords) {
    const IdCase c = GetParam();
    std::string latin1, problem;
    const bool ok = station::CheckStationId(c.utf8, latin1, problem);
    if (c.latin1) {
        EXPECT_TRUE(ok) << problem;
        EXPECT_EQ(latin1, c.latin1);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StationIdCheck,
    ::testing::Values(IdCase{"DL1ABC", "DL1ABC", ""}, IdCase{"", "", ""},
                      IdCase{"DL1ABC /P", "DL1ABC /P", ""},
                      IdCase{" !/~", " !/~", ""},  // the ends of printable ASCII
                      // Ä: the server drops a record holding a byte beyond 126
                      IdCase{"DL\xC3\x84", nullptr, "U+00C4 (not ASCII)"},
                      IdCase{"\xC2\xA0", nullptr, "U+00A0"},  // no-break space
                      IdCase{"DL;1", nullptr, "';'"}, IdCase{"JN49#", nullptr, "'#'"},
                      IdCase{"DL\t1", nullptr, "control character (0x09)"},
                      IdCase{"DL\x7F", nullptr, "(0x7F)"},
                      IdCase{"DL\xC2\x85", nullptr, "(0x85)"},  // NEL, a C1 control
                      IdCase{"\xE2\x82\xAC", nullptr, "U+20AC"},
                      IdCase{"DL\xC4", nullptr, "not UTF-8"},       // a raw Latin-1 byte
                      IdCase{"\xC0\xBB", nullptr, "not UTF-8"},     // overlong ';'
                      IdCase{"\xED\xA0\x80", nullptr, "not UTF-8"}  // a surrogate
                      ));

TEST(StationId, UpperCaseStaysInLatin1) {
    EXPECT_EQ(station::UpperLatin1("dl1abc \xE4\xF7\xFF\xDF\xB5"), "DL1ABC \xC4\xF7\xFF\xDF\xB5");
}

TEST(StationId, MaidenheadLocators) {
    for (const char* good :
         {"JN49", "jn49", "JN49EA", "jn49ea", "JN49EA12", "JN49EA12ab", "AA00AA00AA", "RR99XX99XX"})
        EXPECT_TRUE(station::IsMaidenheadLocator(good)) << good;
    for (const char* bad : {"", "J", "JN4", "JN49E", "JN49EA1", "JN49EA12A", "JN49EA12AB3", "ZZ99",
                            "SA00", "AS00", "JN4A", "JNA9", "JN49YA", "JN49AY", "JN49EAA1",
                            "JN49EA12YA", "JN49EA12AY", "JN 49", "49JN"})
        EXPECT_FALSE(station::IsMaidenheadLocator(bad)) << bad;
}

TEST(StationId, WordsAfterTheFirst) {
    EXPECT_EQ(station::AfterFirstWord("DL1ABC"), "");
    EXPECT_EQ(station::AfterFirstWord("  DL1ABC  "), "");
    EXPECT_EQ(station::AfterFirstWord(" DL1 ABC /P"), "ABC /P");
}

TEST(StationId, CommandLineRefusesWithAMessage) {
    using station::ParseStationArgs;
    auto error = [](std::vector<std::string> args) {
        auto r = ParseStationArgs(args);
        return std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : "";
    };
    EXPECT_NE(error({"--call", "DL1;ABC"}).find("--call: a call sign cannot hold ';'"),
              std::string::npos);
    EXPECT_NE(error({"--locator", "JN49EA#"}).find("--locator"), std::string::npos);
    EXPECT_NE(error({"--call", "DL\x1B[2J"}).find("0x1B"), std::string::npos);
    EXPECT_NE(error({"--call", "DL\xC3\x84"}).find("--call: a call sign cannot hold U+00C4"),
              std::string::npos);
    EXPECT_TRUE(error({"--call", "dl1abc", "--locator", "JN49EA"}).empty());
}

}  // namespace
