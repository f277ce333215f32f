// Probe audio through demodulator, synchroniser and decoder: every frame comes out with the
// values that went in.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "common/locator.h"
#include "common/numbers.h"
#include "common/text.h"
#include "station/station_core.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

namespace {

using probegen::FrameContent;

std::vector<FrameContent> Flight(int frames) {
    probegen::FlightOptions o;
    o.frames = frames;
    o.seed = 7;
    return probegen::SimulateFlight(o);
}

std::vector<std::int16_t> Render(const std::vector<FrameContent>& flight,
                                 const probegen::ModulatorOptions& m = {}) {
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& f : flight) frames.push_back(probegen::BuildFrame(f.sentence, f.words));
    probegen::SignalOptions s;
    s.modulator = m;
    return probegen::RenderFrames(frames, s);
}

struct Decoded {
    std::vector<station::FrameReport> reports;
    std::vector<demod::Frame> frames;
};

// Feeds the samples in the capture's 3000-byte buffers.
std::vector<station::FrameReport> Decode(const std::vector<std::int16_t>& samples) {
    station::StationCore::Options o;
    o.flightLog = false;
    station::StationCore core(o);
    std::vector<station::FrameReport> reports;
    core.OnFrame = [&](const station::FrameReport& r) { reports.push_back(r); };
    std::vector<std::int16_t> buffer(1500);
    for (std::size_t at = 0; at < samples.size(); at += 1500) {
        std::fill(buffer.begin(), buffer.end(), 0);
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(at),
                    std::min<std::size_t>(1500, samples.size() - at), buffer.begin());
        int size = 3000;
        core.AudioIn1BufferFilled(reinterpret_cast<const char*>(buffer.data()), size);
    }
    return reports;
}

void ExpectMatches(const FrameContent& sent, const station::FrameReport& got) {
    const auto& t = sent.telemetry;
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.display.gps, sent.sentence);
    EXPECT_EQ(got.display.dataLine.substr(0, 16 * 7), station::DataWords(sent.words));
    EXPECT_EQ(got.display.vbatlb, common::FormatFixed(sent.words[2] * 4.0 / 1000, 3, 2) + " V");
    EXPECT_NEAR(*common::ParseDouble(common::FirstWord(got.display.vbatlb)), t.batteryV, 0.02);
    EXPECT_EQ(got.display.vitemplb, std::to_string(t.insideTwiceC / 2) + "°C (innen)");
    EXPECT_EQ(got.display.vatemplb, std::to_string(t.outsideTwiceC / 2) + "°C (aussen)");
    EXPECT_NEAR(*common::ParseDouble(common::FirstWord(got.display.vpresslb)), t.pressureHpa,
                0.051);
    char hms[16];
    const int s = t.fix.secondsOfDay % 86400;
    std::snprintf(hms, sizeof hms, "%02d:%02d:%02d UTC", s / 3600, s / 60 % 60, s % 60);
    EXPECT_EQ(got.display.timelb, hms);
    EXPECT_EQ(got.display.satlb, common::ExtractField(sent.sentence, 8, ',') + " Sats");
    EXPECT_EQ(*common::ParseDouble(common::FirstWord(got.display.hoehelb)),
              std::round(t.fix.altitudeM * 10) / 10);
    const auto loc = common::LatLonToLocator(t.fix.longitudeDeg, t.fix.latitudeDeg);
    EXPECT_EQ(got.display.maidenlb, *loc);
}

}  // namespace

TEST(EndToEnd, SimulatedFlightDecodesEveryFrame) {
    const auto flight = Flight(40);
    const auto reports = Decode(Render(flight));
    ASSERT_EQ(reports.size(), flight.size());
    for (std::size_t i = 0; i < flight.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(reports[i].number, static_cast<int>(i) + 1);
        ExpectMatches(flight[i], reports[i]);
    }
}

TEST(EndToEnd, ModerateNoiseAndClockError) {
    const auto flight = Flight(30);
    probegen::ModulatorOptions m;
    m.noiseRms = probegen::NoiseRmsForSnr(m.amplitude, 12.0);
    m.clockErrorPpm = 2000;
    m.seed = 3;
    const auto reports = Decode(Render(flight, m));
    int good = 0;
    for (const auto& r : reports) good += r.ok;
    // At 12 dB SNR over the whole band nearly every frame survives; a bad checksum is still
    // reported, never a corrupted frame passed as good.
    EXPECT_GE(good, 27);
    EXPECT_LE(static_cast<std::size_t>(good), flight.size());
    for (const auto& r : reports)
        if (r.ok) {
            EXPECT_EQ(r.display.gps.rfind("$GPGGA,", 0), 0u);
        }
}

TEST(EndToEnd, CorruptedFrameIsShownButFlaggedBad) {
    auto flight = Flight(3);
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& f : flight) frames.push_back(probegen::BuildFrame(f.sentence, f.words));
    frames[1][frames[1].size() - 10] ^= 0x01;  // one data bit flipped on the air
    const auto reports = Decode(probegen::RenderFrames(frames, {}));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_TRUE(reports[0].ok);
    EXPECT_FALSE(reports[1].ok);
    EXPECT_EQ(reports[1].label3Colour, demod::kLabel3Red);
    EXPECT_TRUE(reports[2].ok);
}

// minimodem is an independent modulator: the same frames through its FSK must decode too.
TEST(EndToEnd, FramesModulatedByMinimodem) {
    if (std::system("command -v minimodem >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "minimodem is not installed (scripts/test installs it)";
    const auto flight = Flight(5);
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tavrin-mm-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        std::ofstream bytes(dir / "frames.bin", std::ios::binary);
        const std::vector<std::uint8_t> idle(8, 0xFF);  // mark-only bytes between frames
        for (const auto& f : flight) {
            const auto frame = probegen::BuildFrame(f.sentence, f.words);
            bytes.write(reinterpret_cast<const char*>(idle.data()), 8);
            bytes.write(reinterpret_cast<const char*>(frame.data()),
                        static_cast<std::streamsize>(frame.size()));
        }
    }
    const std::string cmd =
        "minimodem --tx 1200 --mark 2400 --space 1200 --ascii --samplerate 12000 "
        "--volume 0.25 --file " +
        (dir / "mm.wav").string() + " < " + (dir / "frames.bin").string() + " 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    SF_INFO info{};
    SNDFILE* wav = sf_open((dir / "mm.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(wav, nullptr);
    ASSERT_EQ(info.samplerate, 12000);
    ASSERT_EQ(info.channels, 1);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames));
    sf_read_short(wav, samples.data(), info.frames);
    sf_close(wav);
    fs::remove_all(dir);
    const auto reports = Decode(samples);
    ASSERT_EQ(reports.size(), flight.size());
    for (std::size_t i = 0; i < flight.size(); ++i) ExpectMatches(flight[i], reports[i]);
}
