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
    std::vector<probegen::Words> words;  // each report's data words as the station stored them
};

// Feeds the samples in the capture's 3000-byte buffers.
std::vector<station::FrameReport> Decode(const std::vector<std::int16_t>& samples,
                                         std::vector<probegen::Words>* words = nullptr) {
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
    core.EndOfInput();
    for (int n = 1; words && n < core.history().Counter(); ++n) {
        probegen::Words w{};
        for (int k = 0; k < 16; ++k)
            w[k] = static_cast<std::uint16_t>(core.history().Slot(n, k + 1));
        words->push_back(w);
    }
    return reports;
}

// The six-character locator by the textbook rule, worked out here rather than by the code
// under test: 20 x 10 degree fields, 2 x 1 degree squares, 5 x 2.5 minute subsquares.
std::string ExpectedLocator(double lonDeg, double latDeg) {
    const double x = lonDeg + 180.0, y = latDeg + 90.0;
    std::string loc;
    loc += static_cast<char>('A' + static_cast<int>(std::floor(x / 20)));
    loc += static_cast<char>('A' + static_cast<int>(std::floor(y / 10)));
    loc += static_cast<char>('0' + static_cast<int>(std::floor(std::fmod(x, 20) / 2)));
    loc += static_cast<char>('0' + static_cast<int>(std::floor(std::fmod(y, 10))));
    loc += static_cast<char>('A' + static_cast<int>(std::floor(std::fmod(x, 2) * 12)));
    loc += static_cast<char>('A' + static_cast<int>(std::floor(std::fmod(y, 1) * 24)));
    return loc;
}

void ExpectMatches(const FrameContent& sent, const station::FrameReport& got) {
    const auto& t = sent.telemetry;
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.display.gps, sent.sentence);
    std::string words;
    for (const std::uint16_t w : sent.words) {
        const std::string v = std::to_string(w);
        words += std::string(5 - v.size(), ' ') + v + ", ";
    }
    EXPECT_EQ(got.display.dataLine.substr(0, 16 * 7), words);
    char volts[32];
    std::snprintf(volts, sizeof volts, "%.2f V", sent.words[2] * 4 / 1000.0);
    EXPECT_EQ(got.display.vbatlb, volts);
    EXPECT_NEAR(*common::ParseDouble(common::FirstWord(got.display.vbatlb)), t.batteryV, 0.02);
    EXPECT_EQ(got.display.vitemplb, std::to_string(t.insideTwiceC / 2) + "°C (innen)");
    EXPECT_EQ(got.display.vatemplb, std::to_string(t.outsideTwiceC / 2) + "°C (aussen)");
    EXPECT_NEAR(*common::ParseDouble(common::FirstWord(got.display.vpresslb)), t.pressureHpa,
                0.051);
    char hms[16];
    const int s = t.fix.secondsOfDay % 86400;
    std::snprintf(hms, sizeof hms, "%02d:%02d:%02d UTC", s / 3600, s / 60 % 60, s % 60);
    EXPECT_EQ(got.display.timelb, hms);
    char sats[16];
    std::snprintf(sats, sizeof sats, "%02d Sats", t.fix.satellites);
    EXPECT_EQ(got.display.satlb, sats);
    EXPECT_EQ(*common::ParseDouble(common::FirstWord(got.display.hoehelb)),
              std::round(t.fix.altitudeM * 10) / 10);
    EXPECT_EQ(got.display.maidenlb, ExpectedLocator(t.fix.longitudeDeg, t.fix.latitudeDeg));
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

// A bad checksum is reported, never a corrupted frame passed as good: each good frame is, whole,
// a frame that was sent, in the order sent, none twice. At 12 dB SNR over the whole band nearly
// every frame survives; at 4 dB a third or so arrive corrupted, so the check meets them.
TEST(EndToEnd, NoiseAndClockErrorNeverPassACorruptedFrame) {
    const auto flight = Flight(30);
    for (const double snr : {12.0, 4.0}) {
        SCOPED_TRACE(snr);
        probegen::ModulatorOptions m;
        m.noiseRms = probegen::NoiseRmsForSnr(m.amplitude, snr);
        m.clockErrorPpm = 2000;
        m.seed = 3;
        std::vector<probegen::Words> words;
        const auto reports = Decode(Render(flight, m), &words);
        ASSERT_EQ(words.size(), reports.size());
        int good = 0;
        std::size_t next = 0;  // the first sent frame a good one may still be
        for (std::size_t i = 0; i < reports.size(); ++i) {
            if (!reports[i].ok) continue;
            ++good;
            std::size_t at = next;
            while (at < flight.size() &&
                   !(flight[at].sentence == reports[i].display.gps && flight[at].words == words[i]))
                ++at;
            ASSERT_LT(at, flight.size())
                << "frame " << reports[i].number << " passed as good: " << reports[i].display.gps;
            next = at + 1;
        }
        const int bad = static_cast<int>(reports.size()) - good;
        if (snr > 10) {
            EXPECT_GE(good, 27);
        } else {
            EXPECT_GE(bad, 3) << "too few corrupted frames to check against";
            EXPECT_GE(good, 10);
        }
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
