#include "tools/probegen/frame.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "station/demod/crc16.h"

namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == sep)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

}  // namespace

TEST(NmeaChecksum, MatchesAKnownSentence) {
    EXPECT_EQ(
        probegen::NmeaChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
        "47");
    EXPECT_EQ(probegen::NmeaChecksum(""), "00");
}

TEST(GgaSentence, FieldsWhereTheStationReadsThem) {
    probegen::Fix fix;
    fix.secondsOfDay = 9 * 3600 + 5 * 60 + 7;
    fix.latitudeDeg = 51.55;
    fix.longitudeDeg = 0.15;
    fix.satellites = 7;
    fix.hdop = 1.25;
    fix.altitudeM = 12345.67;
    const std::string s = probegen::GgaSentence(fix);
    const auto star = s.find('*');
    ASSERT_EQ(star, s.size() - 3);
    EXPECT_EQ(s.substr(star + 1), probegen::NmeaChecksum(s.substr(1, star - 1)));
    const auto f = Split(s.substr(0, star), ',');
    ASSERT_EQ(f.size(), 15u);
    EXPECT_EQ(f[0], "$GPGGA");
    EXPECT_EQ(f[1], "090507.00");
    EXPECT_EQ(f[2], "5133.0000");
    EXPECT_EQ(f[3], "N");
    EXPECT_EQ(f[4], "00009.0000");
    EXPECT_EQ(f[5], "E");
    EXPECT_EQ(f[6], "1");
    EXPECT_EQ(f[7], "07");
    EXPECT_EQ(f[8], "1.3");
    EXPECT_EQ(f[9], "12345.7");
    EXPECT_EQ(f[10], "M");
}

struct PositionCase {
    double lat, lon;
    const char *latText, *ns, *lonText, *ew;
};

class GgaPosition : public ::testing::TestWithParam<PositionCase> {};

TEST_P(GgaPosition, DegreesAndMinutesWithHemisphere) {
    const PositionCase& c = GetParam();
    probegen::Fix fix;
    fix.latitudeDeg = c.lat;
    fix.longitudeDeg = c.lon;
    const auto f = Split(probegen::GgaSentence(fix), ',');
    EXPECT_EQ(f[2], c.latText);
    EXPECT_EQ(f[3], c.ns);
    EXPECT_EQ(f[4], c.lonText);
    EXPECT_EQ(f[5], c.ew);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, GgaPosition,
    ::testing::Values(PositionCase{48.1173, 11.5167, "4807.0380", "N", "01131.0020", "E"},
                      // Minutes that round up to 60 carry into the degrees.
                      PositionCase{50.99999999, 7.999999999, "5100.0000", "N", "00800.0000", "E"},
                      PositionCase{-33.5, -70.25, "3330.0000", "S", "07015.0000", "W"},
                      PositionCase{0, 179.5, "0000.0000", "N", "17930.0000", "E"}));

TEST(GgaSentence, TimeWrapsAtMidnight) {
    probegen::Fix fix;
    fix.secondsOfDay = 86400 + 61;
    EXPECT_EQ(Split(probegen::GgaSentence(fix), ',')[1], "000101.00");
}

TEST(BuildFrame, SyncSentenceBigEndianWordsAndCrc) {
    const std::string sentence = "$GPGGA,1,2*AB";
    probegen::Words words{};
    for (int k = 0; k < 16; ++k)
        words[k] = static_cast<std::uint16_t>(0x0102 * (k + 1) + 0x8000 * (k & 1));
    const auto frame = probegen::BuildFrame(sentence, words);
    ASSERT_EQ(frame.size(), 5 + sentence.size() + 32 + 2);
    EXPECT_EQ(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 5),
              (std::vector<std::uint8_t>{0xD3, 0x3D, 0x83, 0x71, 0xEB}));
    EXPECT_EQ(
        std::string(frame.begin() + 5, frame.begin() + 5 + static_cast<long>(sentence.size())),
        sentence);
    const std::size_t data = 5 + sentence.size();
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(frame[data + 2 * k] * 256 + frame[data + 2 * k + 1], words[k]) << "word " << k;
    const std::string covered(frame.begin() + 5, frame.end() - 2);
    const std::uint16_t crc = demod::Crc16Arc(covered);
    EXPECT_EQ(frame[frame.size() - 2], crc >> 8);
    EXPECT_EQ(frame[frame.size() - 1], crc & 0xFF);
}

TEST(BuildFrame, RejectsASentenceWithoutItsChecksum) {
    probegen::Words words{};
    for (const char* bad : {"$GPGGA,1,2", "$GPGGA,1,2*A", "$GP*GGA,1,2*AB", "$GPGGA*ABC"})
        EXPECT_THROW(probegen::BuildFrame(bad, words), std::invalid_argument) << bad;
}

TEST(BytesToBits, StartBitDataLsbFirstStopBit) {
    EXPECT_EQ(probegen::BytesToBits({0xD3, 0x00, 0xFF}),
              (std::vector<std::uint8_t>{0, 1, 1, 0, 0, 1, 0, 1, 1, 1,  //
                                         0, 0, 0, 0, 0, 0, 0, 0, 0, 1,  //
                                         0, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
}
