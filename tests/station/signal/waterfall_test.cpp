// Spectrum, waterfall rows and decode statistics: the data the window paints.
#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "station/signal/decode_stats.h"
#include "station/signal/waterfall.h"
#include "station/station_core.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

namespace {

using station::Spectrum;
using station::Waterfall;

constexpr std::size_t kBlock = 1500;  // samples per capture block

// Block by block, as the window does; returns the waterfall.
void Feed(const std::vector<std::int16_t>& samples, Spectrum& spectrum, Waterfall& waterfall) {
    for (std::size_t at = 0; at + kBlock <= samples.size(); at += kBlock) {
        spectrum.Process(std::span(samples).subspan(at, kBlock));
        waterfall.Add(spectrum.Current());
    }
}

int PeakBin(const Spectrum::Row& row, double fromHz, double toHz) {
    int best = Spectrum::BinOf(fromHz);
    for (int k = best; k <= Spectrum::BinOf(toHz); ++k)
        if (row[static_cast<std::size_t>(k)] > row[static_cast<std::size_t>(best)]) best = k;
    return best;
}

std::vector<std::int16_t> Tone(double hz, double amplitude, std::size_t count) {
    std::vector<std::int16_t> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * double(i) / 12000)));
    return out;
}

TEST(Spectrum, ProbeSignalPeaksAtItsTwoTones) {
    probegen::FlightOptions flight;
    flight.frames = 3;
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& f : probegen::SimulateFlight(flight))
        frames.push_back(probegen::BuildFrame(f.sentence, f.words));
    probegen::SignalOptions s;
    s.modulator.noiseRms = probegen::NoiseRmsForSnr(s.modulator.amplitude, 10);
    Spectrum spectrum;
    Waterfall waterfall;
    Feed(probegen::RenderFrames(frames, s), spectrum, waterfall);
    // A block in the middle of a frame: both tones, well above the noise.
    const Spectrum::Row& row = waterfall.Row(waterfall.Count() / 2);
    for (double tone : {1200.0, 2400.0}) {
        const int peak = PeakBin(row, tone - 300, tone + 300);
        EXPECT_NEAR(peak, Spectrum::BinOf(tone), 1) << tone;
        EXPECT_GT(row[static_cast<std::size_t>(peak)], waterfall.FloorDb() + 20) << tone;
    }
}

TEST(Spectrum, FullScaleSineReadsZeroDecibels) {
    Spectrum spectrum;
    const double hz = Spectrum::BinHz(200);  // on a bin: no scalloping loss
    const auto tone = Tone(hz, 32767, 4 * kBlock);
    for (std::size_t at = 0; at < tone.size(); at += kBlock)
        spectrum.Process(std::span(tone).subspan(at, kBlock));
    EXPECT_NEAR(spectrum.Current()[200], 0.0, 0.1);
    EXPECT_LT(spectrum.Current()[100], -60.0);
    Spectrum silent;
    silent.Process(std::vector<std::int16_t>(kBlock, 0));
    EXPECT_LE(silent.Current()[200], -100.0);  // silence: a floor, not -inf or NaN
}

TEST(Waterfall, NewestRowFollowsTheToneAndOldRowsStay) {
    Spectrum spectrum;
    Waterfall waterfall;
    Feed(Tone(2400, 8000, 6 * kBlock), spectrum, waterfall);
    Feed(Tone(2200, 8000, 3 * kBlock), spectrum, waterfall);
    EXPECT_EQ(PeakBin(waterfall.Row(0), 300, 2990), Spectrum::BinOf(2200));
    EXPECT_EQ(PeakBin(waterfall.Row(4), 300, 2990), Spectrum::BinOf(2400));
    EXPECT_EQ(waterfall.Added(), 9);
    // 30 s deep: after more rows than that the oldest kept one is kRows - 1 blocks old.
    Feed(Tone(1200, 8000, (Waterfall::kRows - 2) * kBlock), spectrum, waterfall);
    EXPECT_EQ(waterfall.Count(), Waterfall::kRows);
    EXPECT_EQ(PeakBin(waterfall.Row(Waterfall::kRows - 1), 300, 2990), Spectrum::BinOf(2200));
    EXPECT_EQ(PeakBin(waterfall.Row(0), 300, 2990), Spectrum::BinOf(1200));
    // The colour scale: the tone bright, the empty band dark.
    EXPECT_GT(waterfall.Scale(waterfall.Row(0)[Spectrum::BinOf(1200)]), 0.9F);
    EXPECT_EQ(station::WaterfallColour(waterfall.Scale(-200)), 0x000000U);
}

// ---- decode statistics -----------------------------------------------------------------------

TEST(DecodeStats, CountsWhatTheCoreReports) {
    probegen::FlightOptions flight;
    flight.frames = 5;
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& f : probegen::SimulateFlight(flight))
        frames.push_back(probegen::BuildFrame(f.sentence, f.words));
    frames[1][frames[1].size() - 5] ^= 0x01;  // a data byte: checksum fails
    frames[3][frames[3].size() - 1] ^= 0x80;  // the checksum itself
    station::StationCore::Options o;
    o.flightLog = false;
    station::StationCore core(o);
    station::DecodeStats stats;
    const auto t0 = station::DecodeStats::Clock::time_point{} + std::chrono::hours(1);
    auto now = t0;
    core.OnFrame = [&](const station::FrameReport& r) {
        now += std::chrono::seconds(1);
        stats.Count(r.ok, now);
    };
    auto samples = probegen::RenderFrames(frames, {});
    int size = static_cast<int>(samples.size() * 2);
    core.AudioIn1BufferFilled(reinterpret_cast<const char*>(samples.data()), size);

    EXPECT_EQ(stats.Good(), core.GoodFrames());
    EXPECT_EQ(stats.Bad(), core.Frames() - core.GoodFrames());
    EXPECT_EQ(stats.Good(), 3);
    EXPECT_EQ(stats.Bad(), 2);
    // The last good frame was the fifth, at t0 + 5 s.
    EXPECT_EQ(stats.SecondsSinceGood(t0 + std::chrono::seconds(9)), 4);
    stats.SetOverruns(2);
    EXPECT_EQ(stats.Text(t0 + std::chrono::seconds(9)),
              "good 3   bad 2   last good 4 s ago   overruns 2");
    EXPECT_EQ(stats.Text(t0 + std::chrono::seconds(5 + 3600 + 62)),
              "good 3   bad 2   last good 1:01:02 ago   overruns 2");
    EXPECT_EQ(station::DecodeStats().Text(t0), "good 0   bad 0   last good -   overruns 0");
}

}  // namespace
