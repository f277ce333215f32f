#include "station/station_core.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace fs = std::filesystem;
using station::StationCore;

namespace {

demod::Frame GoodFrame(bool ok = true) {
    demod::Frame f;
    f.gps = "$GPGGA,123456,5133.0000,N,00009.0000,E,1,07,1.0,1234.5,M,,*4B\r\n";
    for (int k = 0; k < 16; ++k) f.words[k] = static_cast<std::uint16_t>(100 + k);
    f.received = 0x1234;
    f.computed = ok ? 0x1234 : 0x4321;
    f.checksumOk = ok;
    return f;
}

using test_support::TempDir;

StationCore::Options Opts(const fs::path& dir) {
    StationCore::Options o;
    o.logFolder = dir.string();
    // 2026-12-08 10:00:05 local time, whatever the machine's zone.
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 8;
    tm.tm_hour = 10;
    tm.tm_sec = 5;
    tm.tm_isdst = -1;
    const auto t = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    o.clock = [t] { return t; };
    return o;
}

}  // namespace

TEST(StationCore, UploadsOnlyGoodFramesWhileActive) {
    TempDir dir;
    StationCore core(Opts(dir.path));
    core.SetStation("DL1ABC mobile", "JN49EA");
    std::vector<std::string> sent;
    bool active = false;
    core.UplinkActive = [&] { return active; };
    core.UplinkSend = [&](const std::string& t) { sent.push_back(t); };

    core.ausgabe(GoodFrame());  // not connected: dropped, not queued
    active = true;
    core.ausgabe(GoodFrame(false));  // bad checksum: shown, not sent
    core.ausgabe(GoodFrame());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].rfind("DL1ABC;JN49EA;$GPGGA,123456,", 0), 0u);
    EXPECT_EQ(sent[0].back(), '#');
    EXPECT_NE(sent[0].find("  100,   101, "), std::string::npos);
    EXPECT_NE(sent[0].find("2026-12-08 10:00:05#"), std::string::npos);
    EXPECT_EQ(core.Frames(), 3);
    EXPECT_EQ(core.GoodFrames(), 2);
}

TEST(StationCore, ReportsAndHistory) {
    TempDir dir;
    StationCore core(Opts(dir.path));
    std::vector<station::FrameReport> reports;
    core.OnFrame = [&](const station::FrameReport& r) { reports.push_back(r); };
    core.ausgabe(GoodFrame());
    core.ausgabe(GoodFrame(false));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].number, 1);
    EXPECT_EQ(reports[0].label3, "1234    1234");
    EXPECT_EQ(reports[0].label3Colour, demod::kLabel3Green);
    EXPECT_EQ(reports[1].label3Colour, demod::kLabel3Red);
    EXPECT_EQ(core.history().Counter(), 3);
    EXPECT_EQ(core.history().Slot(1, 1), 100);
    EXPECT_EQ(core.history().Slot(2, 11), 110);  // word 10 keeps its slot
    EXPECT_EQ(core.history().Slot(2, station::History::kTimeSlot), 10 * 3600 + 5);
    EXPECT_THROW(core.history().Slot(3, 1), std::out_of_range);
    EXPECT_THROW(core.history().Slot(1, 21), std::out_of_range);
}

TEST(StationCore, FlightLogKeepsEveryFrame) {
    TempDir dir;
    {
        StationCore core(Opts(dir.path));
        core.ausgabe(GoodFrame());
        core.ausgabe(GoodFrame(false));
        // Flushed per frame: readable while the station still runs.
        std::ifstream in(dir.path / "tavrin-2026-12-08.log");
        std::stringstream s;
        s << in.rdbuf();
        const std::string text = s.str();
        // No audio went in, so the signal figures are unknown (empty) here.
        EXPECT_NE(
            text.find("# frame 1 ok 1234    1234 snr= low_offset= high_offset=\n$GPGGA,123456,"),
            std::string::npos);
        EXPECT_NE(text.find("# frame 2 BAD 1234    4321 snr= low_offset= high_offset=\n"),
                  std::string::npos);
        EXPECT_EQ(text.find('\r'), std::string::npos);
    }
}

TEST(StationCore, UnwritableFlightLogSaysSoOnceAndGoesOn) {
    TempDir dir;
    auto o = Opts(dir.path / "missing-folder");
    StationCore core(o);
    std::vector<std::string> messages;
    int frames = 0;
    core.OnMessage = [&](const std::string& m) { messages.push_back(m); };
    core.OnFrame = [&](const station::FrameReport&) { ++frames; };
    core.ausgabe(GoodFrame());
    core.ausgabe(GoodFrame());
    EXPECT_EQ(frames, 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("tavrin-2026-12-08.log"), std::string::npos);
}

TEST(StationCore, NoFlightLogWhenTurnedOff) {
    TempDir dir;
    auto o = Opts(dir.path);
    o.flightLog = false;
    StationCore core(o);
    core.ausgabe(GoodFrame());
    EXPECT_TRUE(fs::is_empty(dir.path));
}
