#include "station/telemetry/telemetry.h"

#include <gtest/gtest.h>

using station::DecodeTelemetry;
using station::TemperatureC;

namespace {

demod::Frame MakeFrame(const std::string& gps) {
    demod::Frame f;
    f.gps = gps;
    f.checksumOk = true;
    for (int k = 0; k < 16; ++k) f.words[k] = static_cast<std::uint16_t>(k);
    f.words[2] = 1500;
    f.words[13] = 0x0033;
    f.words[14] = 0x00FD;
    f.words[15] = 10132;
    return f;
}

const std::string kGps = "$GPGGA,123456,5133.0000,N,00009.0000,E,1,07,1.0,1234.5,M,47.0,M,,*4B";

}  // namespace

TEST(Telemetry, TemperatureLowByteSignedHalvedTowardZero) {
    EXPECT_EQ(TemperatureC(0x00FF), 0);
    EXPECT_EQ(TemperatureC(0x00FD), -1);
    EXPECT_EQ(TemperatureC(0x0033), 25);
    EXPECT_EQ(TemperatureC(0x1233), 25);  // the high byte is not part of it
    EXPECT_EQ(TemperatureC(0x0080), -64);
}

TEST(Telemetry, LabelsOfAFrame) {
    const auto d = DecodeTelemetry(MakeFrame(kGps), "2026-12-08 16:40:01");
    EXPECT_EQ(d.vbatlb, "6.00 V");
    EXPECT_EQ(d.vitemplb, "25°C (innen)");
    EXPECT_EQ(d.vatemplb, "-1°C (aussen)");
    EXPECT_EQ(d.vhumlb, "");
    EXPECT_EQ(d.vpresslb, "1013.2 hPa");
    EXPECT_EQ(d.timelb, "12:34:56 UTC");
    EXPECT_EQ(d.breitelb, "51° 33.0000´");
    EXPECT_EQ(d.laengelb, "000° 09.0000´");
    EXPECT_EQ(d.maidenlb, "JO01BN");
    EXPECT_EQ(d.hoehelb, "1234.5 m  (GPS)");
    EXPECT_EQ(d.satlb, "07 Sats");
}

TEST(Telemetry, BatteryRoundsToThreeSignificantDigits) {
    auto f = MakeFrame(kGps);
    f.words[2] = 3085;  // 12.34 V
    EXPECT_EQ(DecodeTelemetry(f, "").vbatlb, "12.30 V");
}

TEST(Telemetry, DataLineWidthsAndDate) {
    auto f = MakeFrame(kGps);
    f.words[0] = 7;
    f.words[1] = 65535;
    const auto d = DecodeTelemetry(f, "2026-12-08 16:40:01");
    EXPECT_EQ(d.dataLine.substr(0, 14), "    7, 65535, ");
    EXPECT_EQ(d.dataLine.size(), 16u * 7 + 19);
    EXPECT_EQ(d.dataLine.substr(16 * 7), "2026-12-08 16:40:01");
}

TEST(Telemetry, UnknownLocatorCases) {
    EXPECT_EQ(
        DecodeTelemetry(MakeFrame("$GPGGA,123456,,N,00009.0000,E,1,07,1.0,1.0,M*00"), "").maidenlb,
        "unbekannt");
    EXPECT_EQ(DecodeTelemetry(MakeFrame("$GPGGA,123456,51x3,N,00009.0000,E*00"), "").maidenlb,
              "unbekannt");
    // A corrupted fix off the globe gives no locator rather than characters outside the alphabet.
    EXPECT_EQ(DecodeTelemetry(MakeFrame("$GPGGA,123456,9933.0000,N,00009.0000,E*00"), "").maidenlb,
              "unbekannt");
    EXPECT_EQ(DecodeTelemetry(MakeFrame("$GPGGA,1,5133.0,N,99999.0,E*00"), "").maidenlb,
              "unbekannt");
}

TEST(Telemetry, ShortSentenceLeavesOnlySuffixes) {
    const auto d = DecodeTelemetry(MakeFrame("$GPGGA"), "");
    EXPECT_EQ(d.satlb, " Sats");
    EXPECT_EQ(d.hoehelb, " m  (GPS)");
    EXPECT_EQ(d.timelb, ":: UTC");
}

TEST(Telemetry, CleaningRemovesCrLfFromLogAndUpload) {
    const auto d = DecodeTelemetry(MakeFrame(kGps + "\r\n"), "2026-12-08 16:40:01");
    EXPECT_EQ(d.gps, kGps);
    const std::string upload = station::UploadText("DL1ABC portable", " JN49EA", d);
    EXPECT_EQ(upload, "DL1ABC;JN49EA;" + kGps + ";" + d.dataLine + "#");
    EXPECT_EQ(upload.find('\r'), std::string::npos);
}

TEST(Telemetry, LoginLine) {
    EXPECT_EQ(station::LoginLine("DL1ABC", "JN49EA"), "DL1ABC;JN49EA;");
    EXPECT_EQ(station::LoginLine("   ", "JN49EA"), ";JN49EA;");
}
