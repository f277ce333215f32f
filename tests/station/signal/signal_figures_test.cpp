// Per-frame signal figures against signals whose SNR and tones are known: probegen's noise,
// minimodem's shifted tones, and the station core's own frames.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "station/signal/signal_figures.h"
#include "station/station_core.h"
#include "temp_dir.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

namespace {

using station::SignalFigures;

std::vector<std::vector<std::uint8_t>> FlightFrames(int count) {
    probegen::FlightOptions o;
    o.frames = count;
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& f : probegen::SimulateFlight(o))
        frames.push_back(probegen::BuildFrame(f.sentence, f.words));
    return frames;
}

probegen::ModulatorOptions AtInBandSnr(double inBandDb, std::uint32_t seed = 3) {
    probegen::ModulatorOptions m;
    m.noiseRms = probegen::NoiseRmsForInBandSnr(m.amplitude, inBandDb);
    m.seed = seed;
    return m;
}

struct Decoded {
    std::vector<station::FrameReport> reports;
};

// Through the station core in the capture's 1500-sample blocks, as the window and headless do.
std::vector<station::FrameReport> Decode(const std::vector<std::int16_t>& samples,
                                         station::StationCore::Options o = {},
                                         bool switchTables = false) {
    if (o.logFolder == ".") o.flightLog = false;
    station::StationCore core(o);
    if (switchTables) core.Demodulator().SwitchWindow();
    std::vector<station::FrameReport> reports;
    core.OnFrame = [&](const station::FrameReport& r) { reports.push_back(r); };
    for (std::size_t at = 0; at < samples.size(); at += 1500) {
        int size = static_cast<int>(std::min<std::size_t>(1500, samples.size() - at) * 2);
        core.AudioIn1BufferFilled(reinterpret_cast<const char*>(samples.data() + at), size);
    }
    return reports;
}

// ---- SNR against probegen's set SNR, 6 to 30 dB in-band --------------------------------------

class SnrAgainstProbegen : public ::testing::TestWithParam<double> {};

// Each frame's own span, measured directly (the literal decoder needs some 8 dB to decode, the
// estimate must hold below that too).
TEST_P(SnrAgainstProbegen, EveryFrameWithinSixTenthsOfADecibel) {
    const double set = GetParam();
    probegen::Modulator modulator(AtInBandSnr(set));
    std::vector<std::int16_t> samples;
    modulator.AppendIdle(60, samples);
    station::SignalAnalyser analyser;
    for (const auto& frame : FlightFrames(8)) {
        const std::size_t start = samples.size();
        modulator.AppendBytes(frame, samples);
        const SignalFigures f =
            analyser.Measure(std::span<const std::int16_t>(samples).subspan(start), 1200, 2400);
        ASSERT_TRUE(f.snrDb);
        EXPECT_NEAR(*f.snrDb, set, 0.6);
        // The offsets scatter with the noise: some 5 Hz at 6 dB, 2 Hz from 20 dB on.
        ASSERT_TRUE(f.lowOffsetHz && f.highOffsetHz);
        const double spread = set >= 20 ? 2.5 : 15;
        EXPECT_NEAR(*f.lowOffsetHz, 0, spread);
        EXPECT_NEAR(*f.highOffsetHz, 0, spread);
        modulator.AppendIdle(96, samples);
    }
}

INSTANTIATE_TEST_SUITE_P(InBandDb, SnrAgainstProbegen,
                         ::testing::Values(6.0, 9.0, 12.0, 15.0, 20.0, 25.0, 30.0),
                         [](const auto& info) {
                             return std::to_string(static_cast<int>(info.param)) + "dB";
                         });

// A transmitter whose bit clock is off sends its tones where they belong: no offset, same SNR.
TEST(SignalAnalyser, BitClockErrorIsNoToneOffset) {
    for (const double ppm : {-20000.0, -2000.0, 2000.0, 20000.0}) {
        probegen::ModulatorOptions m = AtInBandSnr(20);
        m.clockErrorPpm = ppm;
        probegen::Modulator modulator(m);
        std::vector<std::int16_t> samples;
        modulator.AppendBytes(FlightFrames(1).front(), samples);
        const SignalFigures f = station::SignalAnalyser().Measure(samples, 1200, 2400);
        ASSERT_TRUE(f.snrDb && f.lowOffsetHz && f.highOffsetHz) << ppm;
        EXPECT_NEAR(*f.snrDb, 20, 0.6) << ppm;
        EXPECT_NEAR(*f.lowOffsetHz, 0, 2.5) << ppm;
        EXPECT_NEAR(*f.highOffsetHz, 0, 2.5) << ppm;
    }
}

TEST(SignalAnalyser, CleanSignalStopsAtTheSamplesRounding) {
    probegen::ModulatorOptions m;  // no noise: only the 16-bit rounding is left
    probegen::Modulator modulator(m);
    std::vector<std::int16_t> samples;
    modulator.AppendBytes(FlightFrames(1).front(), samples);
    const SignalFigures f = station::SignalAnalyser().Measure(samples, 1200, 2400);
    ASSERT_TRUE(f.snrDb);
    EXPECT_GT(*f.snrDb, 60);
    EXPECT_LT(*f.snrDb, 100);
}

// Whole tones (the station's) are mixed down by tables, any other by a turning reference: the
// two must measure alike. Read against nominal tones a fraction of a hertz up, the same frames
// give the same SNR and offsets lower by that fraction (a tone decision near its threshold may
// go the other way and move a figure by some 0.02).
TEST(SignalAnalyser, TablesAndTurningReferenceMeasureAlike) {
    constexpr double kShiftHz = 0.25;
    for (const double upper : {2400.0, 2200.0}) {
        probegen::ModulatorOptions m = AtInBandSnr(20, 4);
        m.upperHz = upper;
        m.toneOffsetPercent = 0.3;
        probegen::Modulator modulator(m);
        station::SignalAnalyser analyser;
        for (const auto& frame : FlightFrames(3)) {
            std::vector<std::int16_t> samples;
            modulator.AppendBytes(frame, samples);
            const SignalFigures table = analyser.Measure(samples, 1200, upper);
            const SignalFigures turning =
                analyser.Measure(samples, 1200 + kShiftHz, upper + kShiftHz);
            ASSERT_TRUE(table.snrDb && table.lowOffsetHz && table.highOffsetHz) << upper;
            ASSERT_TRUE(turning.snrDb && turning.lowOffsetHz && turning.highOffsetHz) << upper;
            EXPECT_NEAR(*table.lowOffsetHz, 3.6, 1.5) << upper;
            EXPECT_NEAR(*turning.snrDb, *table.snrDb, 0.03) << upper;
            EXPECT_NEAR(*turning.lowOffsetHz, *table.lowOffsetHz - kShiftHz, 0.03) << upper;
            EXPECT_NEAR(*turning.highOffsetHz, *table.highOffsetHz - kShiftHz, 0.03) << upper;
        }
    }
}

// A clean signal repeats itself bit for bit, and so do the sums of the station's tones: they
// read exactly no offset, never a rounding that headless would print as "-0.0".
TEST(SignalAnalyser, CleanTonesReadExactlyNoOffset) {
    probegen::Modulator modulator;
    station::SignalAnalyser analyser;
    for (const auto& frame : FlightFrames(4)) {
        std::vector<std::int16_t> samples;
        modulator.AppendBytes(frame, samples);
        const SignalFigures f = analyser.Measure(samples, 1200, 2400);
        ASSERT_TRUE(f.lowOffsetHz && f.highOffsetHz);
        EXPECT_EQ(*f.lowOffsetHz, 0.0);
        EXPECT_EQ(*f.highOffsetHz, 0.0);
    }
}

TEST(SignalAnalyser, NoiseAloneIsNoSignal) {
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 2000);
    std::vector<std::int16_t> samples(12000);
    for (auto& s : samples) s = static_cast<std::int16_t>(std::lround(noise(rng)));
    station::SignalAnalyser analyser;
    const SignalFigures f = analyser.Measure(samples, 1200, 2400);
    if (f.snrDb) {
        EXPECT_LT(*f.snrDb, 3.0);
    }
    EXPECT_FALSE(analyser.Measure(std::span(samples).first(50), 1200, 2400).snrDb);
}

// ---- figures of decoded frames ---------------------------------------------------------------

TEST(FrameSignal, EachFrameCarriesItsOwnFigures) {
    // Four frames at 25 dB, then four at 12 dB: each frame's figure follows its own samples.
    probegen::SignalOptions s;
    const auto frames = FlightFrames(8);
    std::vector<std::vector<std::uint8_t>> first(frames.begin(), frames.begin() + 4),
        second(frames.begin() + 4, frames.end());
    s.modulator = AtInBandSnr(25);
    auto samples = probegen::RenderFrames(first, s);
    s.modulator = AtInBandSnr(12, 9);
    const auto more = probegen::RenderFrames(second, s);
    samples.insert(samples.end(), more.begin(), more.end());

    test_support::TempDir dir;
    station::StationCore::Options o;
    o.logFolder = dir.path.string();
    const auto reports = Decode(samples, o);
    ASSERT_EQ(reports.size(), 8u);
    for (std::size_t i = 0; i < reports.size(); ++i) {
        ASSERT_TRUE(reports[i].signal.snrDb) << "frame " << i;
        EXPECT_NEAR(*reports[i].signal.snrDb, i < 4 ? 25 : 12, 0.6) << "frame " << i;
        EXPECT_NEAR(*reports[i].signal.highOffsetHz, 0, i < 4 ? 2.5 : 10) << "frame " << i;
    }
    // The flight log's frame header carries them too.
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
        std::ifstream in(entry.path());
        log.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string header = "# frame 1 ok " + reports[0].label3 + " " +
                               station::SignalFieldsText(reports[0].signal, ' ') + "\n";
    EXPECT_NE(log.find(header), std::string::npos) << log.substr(0, 200);
}

TEST(FrameSignal, OffsetsAreAgainstTheTonesInUse) {
    // A 1200/2400 Hz signal read with the 1200/2200 Hz tables after the window switch.
    probegen::SignalOptions s;
    const auto reports = Decode(probegen::RenderFrames(FlightFrames(3), s), {}, true);
    ASSERT_FALSE(reports.empty());
    for (const auto& r : reports) {
        ASSERT_TRUE(r.signal.lowOffsetHz && r.signal.highOffsetHz);
        EXPECT_NEAR(*r.signal.lowOffsetHz, 0, 1.0);
        EXPECT_NEAR(*r.signal.highOffsetHz, 200, 1.0);
    }
}

std::vector<std::int16_t> ReadWav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr || info.channels != 1 || info.samplerate != 12000) {
        if (f) sf_close(f);
        return {};
    }
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames));
    sf_read_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
    return samples;
}

// minimodem sends the probe's frames on tones off by a known amount.
TEST(FrameSignal, ToneOffsetsOfAnIndependentModulator) {
    const std::string minimodem = MINIMODEM_EXECUTABLE;
    if (minimodem.empty()) GTEST_SKIP() << "minimodem not installed (Debian package minimodem)";
    struct Shift {
        int markHz, spaceHz;
    };
    for (const Shift shift : {Shift{2430, 1185}, Shift{2375, 1220}}) {
        test_support::TempDir dir;
        const auto in = dir.path / "frames.bin";
        const auto wav = dir.path / "frames.wav";
        {
            std::ofstream out(in, std::ios::binary);
            for (const auto& frame : FlightFrames(3))
                out.write(reinterpret_cast<const char*>(frame.data()),
                          static_cast<std::streamsize>(frame.size()));
        }
        const std::string command =
            minimodem + " --tx 1200 --mark " + std::to_string(shift.markHz) + " --space " +
            std::to_string(shift.spaceHz) + " --ascii --samplerate 12000 --volume 0.25 --file '" +
            wav.string() + "' < '" + in.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const auto reports = Decode(ReadWav(wav.string()));
        ASSERT_FALSE(reports.empty()) << command;
        for (const auto& r : reports) {
            ASSERT_TRUE(r.signal.lowOffsetHz && r.signal.highOffsetHz);
            EXPECT_NEAR(*r.signal.lowOffsetHz, shift.spaceHz - 1200, 1.0) << command;
            EXPECT_NEAR(*r.signal.highOffsetHz, shift.markHz - 2400, 1.0) << command;
        }
    }
}

TEST(FrameSignal, TextsForHeadlessLogAndWindow) {
    SignalFigures f;
    f.snrDb = 15.26;
    f.lowOffsetHz = -3.04;
    EXPECT_EQ(station::HeadlessSignalLine(7, f),
              "signal=7\tsnr=15.3\tlow_offset=-3.0\thigh_offset=");
    EXPECT_EQ(station::SignalFieldsText(f, ' '), "snr=15.3 low_offset=-3.0 high_offset=");
    f.highOffsetHz = 12.0;
    EXPECT_EQ(station::SignalFiguresCaption(f, 1200, 2200),
              "SNR 15.3 dB   1200 Hz -3.0   2200 Hz +12.0");
    EXPECT_EQ(station::SignalFiguresCaption({}, 1200, 2400), "SNR -   1200 Hz -   2400 Hz -");
}

// The ring keeps the newest samples only; a span that has left it is measured from what is left.
TEST(SignalMeter, MeasuresOnlyWhatTheRingHolds) {
    station::SignalMeter meter;
    EXPECT_FALSE(meter.Measure(0, 100000, 1200, 2400).snrDb);
    probegen::SignalOptions s;
    s.modulator = AtInBandSnr(20);
    const auto samples = probegen::RenderFrames(FlightFrames(8), s);
    ASSERT_GT(samples.size(), std::size_t{station::SignalMeter::kRingSamples});
    meter.Push(samples);
    EXPECT_EQ(meter.SamplesIn(), static_cast<std::int64_t>(samples.size()));
    const auto end = meter.SamplesIn();
    const auto tail = meter.Measure(0, end, 1200, 2400);
    ASSERT_TRUE(tail.snrDb);
    EXPECT_NEAR(*tail.snrDb, 20, 0.6);
    EXPECT_FALSE(meter.Measure(0, end - station::SignalMeter::kRingSamples, 1200, 2400).snrDb);
}

// Pushed in blocks that do not divide the ring, through both overloads: what comes back out
// across the ring's wrap is what went in.
TEST(SignalMeter, GivesBackTheSamplesAcrossTheWrap) {
    constexpr auto kRing = std::size_t{station::SignalMeter::kRingSamples};
    probegen::SignalOptions s;
    s.modulator = AtInBandSnr(20);
    const auto samples = probegen::RenderFrames(FlightFrames(8), s);
    ASSERT_GT(samples.size(), kRing + 20000);
    station::SignalMeter meter;
    for (std::size_t at = 0, block = 0; at < samples.size(); at += 1500 + block % 7, ++block) {
        const std::size_t count = std::min(1500 + block % 7, samples.size() - at);
        if (block % 2)
            meter.Push(std::span(samples).subspan(at, count));
        else
            meter.Push(reinterpret_cast<const char*>(samples.data() + at),
                       static_cast<int>(2 * count));
    }
    for (const std::size_t size : {kRing + 10, std::size_t{1000}}) {
        std::vector<std::int16_t> out(size);
        const auto newest = meter.CopyNewest(out);
        ASSERT_EQ(newest.size(), std::min(size, kRing));
        EXPECT_TRUE(std::equal(newest.begin(), newest.end(), samples.end() - std::ssize(newest)));
    }
    EXPECT_TRUE(meter.CopyNewest({}).empty());
    // A frame's length of samples either side of a wrap.
    const auto wrap = static_cast<std::int64_t>(samples.size() / kRing * kRing);
    const SignalFigures fromRing = meter.Measure(wrap - 6000, wrap + 6000, 1200, 2400);
    const SignalFigures direct = station::SignalAnalyser().Measure(
        std::span(samples).subspan(static_cast<std::size_t>(wrap - 6000), 12000), 1200, 2400);
    ASSERT_TRUE(fromRing.snrDb && direct.snrDb);
    EXPECT_EQ(*fromRing.snrDb, *direct.snrDb);
}

}  // namespace
