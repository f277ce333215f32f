// The GGA sentence and the relayed record, read once: each field's text as received, how it
// read, and where the record displays' own counting of fields differs from the sentence's.
#include "common/record.h"

#include <gtest/gtest.h>

namespace common {
namespace {

constexpr const char* kSentence =
    "$GPGGA,123456.00,4901.2345,N,00820.1234,E,1,07,1.0,12345.6,M,47.0,M,,*5C";
constexpr const char* kData =
    "    1,     2,  1500,     0,     0,     0,     0,     0,     0,     0,"
    "     0,     0,     0,   300,   255,  9875, 12.05.2024 12:34:56";

std::string Sentence(int field, const std::string& text) {
    GgaSentence g = ReadGga(kSentence);
    g.fields[field - 1] = text;
    std::string s;
    for (const auto& f : g.fields) s += (s.empty() ? "" : ",") + f;
    return s;
}

TEST(Gga, NamedFieldsAndTheirReadings) {
    const GgaSentence g = ReadGga(kSentence);
    EXPECT_EQ(g.fields.size(), 15u);
    EXPECT_EQ(g.Time(), "123456.00");
    EXPECT_EQ(g.Satellites(), "07");
    EXPECT_EQ(g.Field(15), "*5C");
    EXPECT_EQ(g.Field(16), "");
    EXPECT_EQ(g.secondsOfDay.value, 45296.0);
    EXPECT_NEAR(*g.latitudeDeg.value, 49 + 1.2345 / 60, 1e-12);
    EXPECT_NEAR(*g.longitudeDeg.value, 8 + 20.1234 / 60, 1e-12);
    EXPECT_EQ(g.satelliteCount.value, 7);
    EXPECT_EQ(g.altitudeM.value, 12345.6);
    ASSERT_TRUE(g.Position());

    const GgaSentence sw = ReadGga("$GPGGA,233000,3330.0000,S,07036.0000,W,1,07,1.0,12.0");
    EXPECT_NEAR(*sw.latitudeDeg.value, -33.5, 1e-12);
    EXPECT_NEAR(*sw.longitudeDeg.value, -70.6, 1e-12);
}

TEST(Gga, MissingNotANumberAndOutOfRangeAreToldApart) {
    struct Case {
        int field;
        const char* text;
        FieldState state;
    };
    auto state = [](const GgaSentence& g, int field) {
        switch (field) {
            case 2:
                return g.secondsOfDay.state;
            case 3:
            case 4:
                return g.latitudeDeg.state;
            case 5:
            case 6:
                return g.longitudeDeg.state;
            case 8:
                return g.satelliteCount.state;
            default:
                return g.altitudeM.state;
        }
    };
    for (const Case& c :
         {Case{2, "", FieldState::Missing}, Case{2, "12:34", FieldState::NotANumber},
          Case{2, "999999", FieldState::OutOfRange}, Case{2, "235960", FieldState::Valid},
          Case{3, "9100.0000", FieldState::OutOfRange}, Case{3, "9000.0000", FieldState::Valid},
          Case{3, "4960.0000", FieldState::OutOfRange}, Case{3, "-4901.0", FieldState::OutOfRange},
          Case{4, "X", FieldState::OutOfRange}, Case{4, "", FieldState::Valid},
          Case{5, "18000.0001", FieldState::OutOfRange}, Case{5, "abc", FieldState::NotANumber},
          Case{8, "-1", FieldState::OutOfRange}, Case{10, "1e9", FieldState::OutOfRange},
          Case{10, "-500", FieldState::Valid}, Case{10, "60000.1", FieldState::OutOfRange},
          Case{10, "nan", FieldState::NotANumber}}) {
        const GgaSentence g = ReadGga(Sentence(c.field, c.text));
        EXPECT_EQ(state(g, c.field), c.state) << c.field << " " << c.text;
        EXPECT_EQ(g.Field(c.field), c.text);
    }
}

TEST(RelayedRecord, PartsDataWordsAndReadings) {
    const RelayedRecord r =
        ReadRelayedRecord(std::string("DL1ABC;JN49EA;") + kSentence + ";" + kData);
    EXPECT_EQ(r.station, "DL1ABC");
    EXPECT_EQ(r.locator, "JN49EA");
    EXPECT_EQ(r.sentence, kSentence);
    EXPECT_EQ(r.gga, ReadGga(kSentence));
    EXPECT_EQ(r.data.batteryRaw.value, 1500);
    EXPECT_EQ(r.data.insideRaw.value, 300);
    EXPECT_EQ(r.data.outsideRaw.value, 255);
    EXPECT_EQ(r.data.pressureRaw.value, 9875);
    EXPECT_EQ(r.data.Field(17), " 12.05.2024 12:34:56");

    const RelayedRecord bad = ReadRelayedRecord("A;B;$GPGGA,1;    1,     2,   x.5");
    EXPECT_EQ(bad.data.batteryRaw.state, FieldState::NotANumber);
    EXPECT_EQ(bad.data.pressureRaw.state, FieldState::Missing);
}

// The record displays count "," fields across the whole record and never read the hemisphere
// letters; the sentence read on its own does neither.
TEST(RelayedRecord, TheDisplaysCountingDiffersFromTheSentencesOwn) {
    const std::string south = Sentence(4, "S");
    const RelayedRecord plain = ReadRelayedRecord("DL1ABC;JN49EA;" + south + ";" + kData);
    EXPECT_EQ(plain.counted.time, "123456.00");
    EXPECT_EQ(plain.counted.latitude, "4901.2345");  // shown as north
    EXPECT_LT(*plain.gga.latitudeDeg.value, 0);
    EXPECT_EQ(plain.counted.satellites, "07");
    EXPECT_EQ(plain.counted.altitude, "12345.6");

    const RelayedRecord comma = ReadRelayedRecord("DL1,ABC;JN49EA;" + south + ";" + kData);
    EXPECT_EQ(comma.counted.time, "ABC;JN49EA;$GPGGA");
    EXPECT_EQ(comma.counted.latitude, "123456.00");
    EXPECT_EQ(comma.counted.altitude, "1.0");
    EXPECT_EQ(comma.gga, plain.gga);
}

}  // namespace
}  // namespace common
