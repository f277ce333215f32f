// The service controls' effect on decoding, and the pictures they draw, as data.
#include "station/window/service_controls.h"

#include <cmath>
#include <functional>

#include <gtest/gtest.h>

#include "station/station_core.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

namespace {

using station::PlotPoint;

std::vector<std::int16_t> Signal(int frames, const probegen::ModulatorOptions& m) {
    probegen::FlightOptions o;
    o.frames = frames;
    o.seed = 11;
    std::vector<std::vector<std::uint8_t>> bytes;
    for (const auto& f : probegen::SimulateFlight(o))
        bytes.push_back(probegen::BuildFrame(f.sentence, f.words));
    probegen::SignalOptions s;
    s.modulator = m;
    return probegen::RenderFrames(bytes, s);
}

// Good frames of a signal, after `setup` (the service buttons) has acted on the demodulator.
// The buttons' effect is the literal path's, so that path decodes alone.
int GoodFrames(const std::vector<std::int16_t>& samples,
               const std::function<void(demod::FskDemodulator&)>& setup) {
    station::StationCore::Options o;
    o.flightLog = false;
    o.decoder = demod::Decoder::Literal;
    station::StationCore core(o);
    setup(core.Demodulator());
    for (std::size_t at = 0; at + 1500 <= samples.size(); at += 1500) {
        int size = 3000;
        core.AudioIn1BufferFilled(reinterpret_cast<const char*>(samples.data() + at), size);
    }
    return core.GoodFrames();
}

const auto kAsStarted = [](demod::FskDemodulator&) {};
const auto kPolarityPressed = [](demod::FskDemodulator& d) { d.SetMarkIsHigh(!d.MarkIsHigh()); };
const auto kWindowPressed = [](demod::FskDemodulator& d) { d.SwitchWindow(); };

}  // namespace

TEST(ServiceDecoding, SwappedTonesDecodeOnlyWithThePolarityFlipped) {
    probegen::ModulatorOptions swapped;
    swapped.swapTones = true;
    const auto samples = Signal(4, swapped);
    EXPECT_EQ(GoodFrames(samples, kAsStarted), 0);
    EXPECT_EQ(GoodFrames(samples, kPolarityPressed), 4);
    EXPECT_EQ(GoodFrames(Signal(4, {}), kPolarityPressed), 0);
}

// The window switch puts 1200/2200 Hz tables in: on the probe's noisy 1200/2400 Hz signal fewer
// frames survive than with the start-up tables, and a 1200/2200 Hz transmitter decodes.
TEST(ServiceDecoding, WindowSwitchTablesChangeWhatDecodes) {
    probegen::ModulatorOptions noisy;
    noisy.noiseRms = probegen::NoiseRmsForSnr(noisy.amplitude, 11.0);
    noisy.seed = 5;
    const auto probe = Signal(30, noisy);
    const int before = GoodFrames(probe, kAsStarted);
    const int after = GoodFrames(probe, kWindowPressed);
    EXPECT_GE(before, 29);
    EXPECT_LT(after, before - 5);
    EXPECT_GT(after, 0);

    probegen::ModulatorOptions lower;
    lower.upperHz = 2200;
    EXPECT_EQ(GoodFrames(Signal(5, lower), kWindowPressed), 5);
}

TEST(ServiceCaptions, FollowTheDemodulatorState) {
    EXPECT_EQ(station::PolarityCaption(true), "HIGH 2200");
    EXPECT_EQ(station::PolarityCaption(false), "HIGH 1200");
    demod::FskDemodulator d;
    EXPECT_EQ(station::TablesCaption(d), "RECHTECK");
    for (const char* caption : {"RECHTECK", "HAMMING", "RECHTECK", "HAMMING"}) {
        d.SwitchWindow();
        EXPECT_EQ(station::TablesCaption(d), caption);
    }
}

// Both traces start at (0, height - 10), take one ring entry per column from the write
// position on, wrap after entry 2000 and truncate value / 1000 toward zero.
TEST(ScopeTrace, OneRingEntryPerColumnFromTheWritePosition) {
    demod::FskDemodulator d;
    const auto samples = Signal(1, {});
    int size = 3000;
    for (std::size_t at = 0; at + 1500 <= 4500; at += 1500)  // 4500 samples: the ring has wrapped
        d.ProcessBuffer(samples.data() + at, size);
    constexpr int kWidth = 2003, kHeight = 301;
    const auto diff = station::ScopeTrace(d, kWidth, kHeight, false);
    const auto marker = station::ScopeTrace(d, kWidth, kHeight, true);
    ASSERT_EQ(diff.size(), kWidth + 1u);
    ASSERT_EQ(marker.size(), kWidth + 1u);
    EXPECT_EQ(diff[0], (PlotPoint{0, 291}));
    EXPECT_EQ(marker[0], (PlotPoint{0, 291}));
    const int w = d.ScopeWriteIndex();
    int markers = 0, negative = 0;
    for (int x = 0; x < kWidth; ++x) {
        const auto& e = d.Scope()[static_cast<std::size_t>((w - 1 + x) % 2000)];
        const int want = 150 - static_cast<int>(e.diff / 1000);  // int cast truncates
        ASSERT_EQ(diff[static_cast<std::size_t>(x) + 1], (PlotPoint{x, want})) << x;
        if (e.diff < 0 && std::fmod(e.diff, 1000.0) != 0) ++negative;
        const int y = marker[static_cast<std::size_t>(x) + 1].y;
        ASSERT_TRUE(y == 150 || y == 50) << x << " " << y;  // 100000 / 1000 = 100 above
        if (x < 2000) markers += y == 50;
    }
    EXPECT_GT(negative, 100);      // truncation toward zero was met on negative values
    EXPECT_NEAR(markers, 200, 2);  // a bit every 10 samples
    EXPECT_EQ(diff[2001], (PlotPoint{2000, diff[1].y}));  // entry 2000 is followed by entry 1
    EXPECT_TRUE(station::ScopeTrace(d, 0, kHeight, false).empty());
}

TEST(SlotPlot, VerticesAgainstAFullScaleOf4096) {
    station::History h;
    EXPECT_EQ(station::SlotPlot(h, 3, 333, 100), (station::Polyline{{0, 100}}));
    std::array<std::uint16_t, 16> words{};
    for (std::uint16_t v : {0, 1000, 4096}) {
        words[2] = v;
        h.Add(words, 36000);
    }
    // Counter 4: x = trunc(333 / 4 * b) = 83, 166, 249; y = 100 - trunc(v / 4096 * 100).
    EXPECT_EQ(station::SlotPlot(h, 3, 333, 100),
              (station::Polyline{{0, 100}, {83, 100}, {166, 76}, {249, 0}}));
    EXPECT_EQ(station::SlotPlot(h, 17, 333, 100)[1], (PlotPoint{83, 100 - 878}));  // the time
}

TEST(SlotPlot, SlotFieldTakesOneToTwenty) {
    std::string error;
    EXPECT_EQ(station::ParseSlot(" 7 ", error), 7);
    EXPECT_EQ(station::ParseSlot("20", error), 20);
    for (const char* bad : {"0", "21", "-1"}) {
        EXPECT_FALSE(station::ParseSlot(bad, error)) << bad;
        EXPECT_NE(error.find("1 to 20"), std::string::npos) << error;
    }
    EXPECT_FALSE(station::ParseSlot("abc", error));
    EXPECT_EQ(error, "'abc' is not a valid integer value");
    EXPECT_FALSE(station::ParseFieldInt("99999999999", error));
}
