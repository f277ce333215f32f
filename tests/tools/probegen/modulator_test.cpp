#include "tools/probegen/modulator.h"

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Goertzel power of `samples` at `hz`.
double PowerAt(const std::int16_t* samples, int n, double hz) {
    const double w = 2 * std::numbers::pi * hz / probegen::kSampleRate;
    double s1 = 0, s2 = 0;
    for (int i = 0; i < n; ++i) {
        const double s0 = samples[i] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
}

}  // namespace

class ClockError : public ::testing::TestWithParam<double> {};

TEST_P(ClockError, SamplesPerBitFollowTheTransmitterClock) {
    const double ppm = GetParam();
    probegen::ModulatorOptions options;
    options.clockErrorPpm = ppm;
    probegen::Modulator m(options);
    std::vector<std::int16_t> out;
    constexpr int kBits = 120000;
    m.AppendIdle(kBits, out);
    const double expected = kBits * 10.0 / (1.0 + ppm * 1e-6);
    EXPECT_NEAR(static_cast<double>(out.size()), expected, 1.0);
    EXPECT_EQ(m.SamplesWritten(), static_cast<std::int64_t>(out.size()));
    EXPECT_EQ(m.BitsSent(), kBits);
}

INSTANTIATE_TEST_SUITE_P(Ppm, ClockError, ::testing::Values(0.0, 50.0, -50.0, 1000.0, -20000.0));

TEST(Modulator, WithoutClockErrorEveryBitIsTenSamples) {
    probegen::Modulator m;
    std::vector<std::int16_t> out;
    for (int bit = 0; bit < 1000; ++bit) {
        const std::size_t before = out.size();
        m.AppendBit(bit % 3 == 0, out);
        ASSERT_EQ(out.size() - before, 10u) << "bit " << bit;
    }
}

TEST(Modulator, EachBitCarriesItsToneAtTheGivenAmplitude) {
    probegen::ModulatorOptions options;
    options.amplitude = 5000;
    probegen::Modulator m(options);
    const std::vector<std::uint8_t> bits = {1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1};
    std::vector<std::int16_t> out;
    m.AppendBits(bits, out);
    for (std::size_t b = 0; b < bits.size(); ++b) {
        const std::int16_t* slot = out.data() + 10 * b;
        const double mark = PowerAt(slot, 10, probegen::kMarkHz);
        const double space = PowerAt(slot, 10, probegen::kSpaceHz);
        EXPECT_GT(bits[b] ? mark : space, 10 * (bits[b] ? space : mark)) << "bit " << b;
    }
    int peak = 0;
    for (std::int16_t s : out) peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_LE(peak, 5000);
    EXPECT_GE(peak, 4750);  // sin reaches 0.95 or more in a 10-sample slot
}

// Idle (bit 1) and zero bits over 100 bit slots each: which tone carries each, with the tones
// swapped and with the upper tone moved to 2200 Hz.
TEST(Modulator, UpperToneAndSwappedTones) {
    struct Case {
        double upperHz;
        bool swap;
        double oneHz, zeroHz, notHz;  // notHz: a tone neither bit may carry
    };
    for (const Case c : {Case{2400, false, 2400, 1200, 2200}, Case{2200, false, 2200, 1200, 2400},
                         Case{2400, true, 1200, 2400, 2200}, Case{2200, true, 1200, 2200, 2400}}) {
        probegen::ModulatorOptions options;
        options.upperHz = c.upperHz;
        options.swapTones = c.swap;
        probegen::Modulator m(options);
        std::vector<std::int16_t> ones, zeros;
        m.AppendIdle(100, ones);
        m.AppendBits(std::vector<std::uint8_t>(100, 0), zeros);
        for (const auto& [run, hz] : {std::pair{&ones, c.oneHz}, std::pair{&zeros, c.zeroHz}}) {
            const double want = PowerAt(run->data(), 1000, hz);
            const double other = run == &ones ? c.zeroHz : c.oneHz;
            EXPECT_GT(want, 100 * PowerAt(run->data(), 1000, c.notHz)) << c.upperHz << hz;
            EXPECT_GT(want, 100 * PowerAt(run->data(), 1000, other)) << c.upperHz << hz;
        }
    }
}

TEST(Modulator, PhaseRunsOnAcrossBitBoundaries) {
    // A continuous-phase signal never steps by more than the faster tone does in one sample.
    probegen::ModulatorOptions options;
    options.amplitude = 10000;
    probegen::Modulator m(options);
    std::vector<std::int16_t> out;
    for (int bit = 0; bit < 500; ++bit) m.AppendBit((bit * 7 / 3) % 2, out);
    const double maxStep = 2 * 10000 * std::sin(std::numbers::pi * probegen::kMarkHz / 12000) + 1;
    for (std::size_t i = 1; i < out.size(); ++i)
        ASSERT_LE(std::abs(out[i] - out[i - 1]), maxStep) << "sample " << i;
}

// A crystal 2 % off moves both tones and keeps the bit rate; two free-running oscillators break
// the phase at tone changes (and only there).
TEST(Modulator, ToneOffsetAndPhaseJumps) {
    for (double percent : {2.0, -2.0}) {
        probegen::ModulatorOptions options;
        options.toneOffsetPercent = percent;
        probegen::Modulator m(options);
        std::vector<std::int16_t> ones, zeros;
        m.AppendIdle(100, ones);
        m.AppendBits(std::vector<std::uint8_t>(100, 0), zeros);
        ASSERT_EQ(ones.size(), 1000u);  // ten samples a bit, as before
        const double f = 1 + percent / 100;
        EXPECT_GT(PowerAt(ones.data(), 1000, 2400 * f), 10 * PowerAt(ones.data(), 1000, 2400));
        EXPECT_GT(PowerAt(zeros.data(), 1000, 1200 * f), 10 * PowerAt(zeros.data(), 1000, 1200));
    }
    probegen::ModulatorOptions options;
    options.amplitude = 10000;
    options.phaseJumps = true;
    probegen::Modulator m(options);
    std::vector<std::int16_t> out;
    std::vector<std::uint8_t> bits;
    for (int bit = 0; bit < 500; ++bit)
        bits.push_back(static_cast<std::uint8_t>((bit * 7 / 3) % 2));
    m.AppendBits(bits, out);
    const double maxStep = 2 * 10000 * std::sin(std::numbers::pi * probegen::kMarkHz / 12000) + 1;
    int jumps = 0;
    for (std::size_t i = 1; i < out.size(); ++i) {
        if (std::abs(out[i] - out[i - 1]) <= maxStep) continue;
        ++jumps;
        EXPECT_EQ(i % 10, 0u) << "sample " << i;
        EXPECT_NE(bits[i / 10], bits[i / 10 - 1]) << "sample " << i;
    }
    EXPECT_GT(jumps, 20);
}

TEST(Modulator, NoiseHasTheRmsAskedFor) {
    probegen::ModulatorOptions clean;
    probegen::ModulatorOptions noisy;
    noisy.noiseRms = probegen::NoiseRmsForSnr(8000, 10);  // 8000 / sqrt(2) / sqrt(10)
    EXPECT_NEAR(noisy.noiseRms, 1788.85, 0.01);
    noisy.seed = 7;
    probegen::Modulator a(clean), b(noisy);
    std::vector<std::int16_t> x, y;
    a.AppendIdle(12000, x);
    b.AppendIdle(12000, y);
    double sum = 0;
    for (std::size_t i = 0; i < x.size(); ++i) sum += std::pow(y[i] - x[i], 2);
    EXPECT_NEAR(std::sqrt(sum / x.size()), noisy.noiseRms, noisy.noiseRms * 0.02);
}

TEST(Modulator, LoudNoiseClipsInsteadOfWrapping) {
    probegen::ModulatorOptions options;
    options.amplitude = 30000;
    options.noiseRms = 20000;
    probegen::Modulator m(options);
    std::vector<std::int16_t> out;
    m.AppendIdle(1000, out);
    int clippedHigh = 0;
    for (std::size_t i = 0; i < out.size(); ++i) clippedHigh += out[i] == 32767;
    EXPECT_GT(clippedHigh, 100);
}

TEST(RenderFrames, LeadGapsAndTailAreMarkTone) {
    probegen::SignalOptions options;
    options.leadMs = 100;  // 120 bits
    options.gapMs = 50;    // 60 bits
    options.tailMs = 10;   // 12 bits
    const auto out = probegen::RenderFrames({{0x00}, {0xFF, 0x55}}, options);
    EXPECT_EQ(out.size(), 10u * (120 + 10 + 60 + 20 + 12));
    EXPECT_EQ(probegen::IdleBitsForMs(-5), 0);
}

TEST(Modulator, LateFramesStartLateAndTheNextOnesKeepTheirTimes) {
    // Frame 2 of 3 is half a bit late; its first sample of space tone shows where it starts.
    probegen::SignalOptions o;
    o.lateEvery = 2;
    o.lateBits = 0.5;
    o.gapMs = 10;  // 12 idle bits
    o.leadMs = o.tailMs = 10;
    const std::vector<std::vector<std::uint8_t>> frames(3, std::vector<std::uint8_t>{0x00});
    const auto late = probegen::RenderFrames(frames, o);
    o.lateEvery = 0;
    const auto onTime = probegen::RenderFrames(frames, o);
    EXPECT_EQ(late.size(), onTime.size());
    // Each one-byte frame is 10 bits (100 samples) after 12 idle bits (120 samples).
    auto lowToneAt = [](const std::vector<std::int16_t>& s, int at) {
        return PowerAt(&s[at], 10, 1200) > 10 * PowerAt(&s[at], 10, 2400);
    };
    const int frame2 = 120 + 100 + 120;
    EXPECT_TRUE(lowToneAt(onTime, frame2));
    EXPECT_FALSE(lowToneAt(late, frame2));
    EXPECT_TRUE(lowToneAt(late, frame2 + 5));
    const int frame3 = frame2 + 100 + 120;
    EXPECT_TRUE(lowToneAt(late, frame3));
    EXPECT_EQ(std::vector<std::int16_t>(late.begin() + frame3, late.end()),
              std::vector<std::int16_t>(onTime.begin() + frame3, onTime.end()));
}

TEST(ReceiverAudioFilter, PassBandAndDeEmphasis) {
    const probegen::ReceiverAudioFilter f;
    auto dB = [&f](double hz) { return 20 * std::log10(f.GainAt(hz)); };
    EXPECT_NEAR(dB(1200), 0.0, 1e-9);
    // 6 dB/octave of de-emphasis, and about 1 dB of the low-pass edge near 3 kHz.
    EXPECT_NEAR(dB(2400) - dB(1200), -7.0, 0.5);
    EXPECT_NEAR(dB(600) - dB(1200), 5.0, 1.0);
    EXPECT_LT(dB(100), dB(600) - 12);    // below the band
    EXPECT_LT(dB(5000), dB(2400) - 15);  // above it
}

TEST(Modulator, InBandSnrCountsOnlyTheNoiseBetween300And3000Hz) {
    // White noise has 2700/6000 of its power in the band: 3.47 dB less than over 0..6000 Hz.
    EXPECT_NEAR(20 * std::log10(probegen::NoiseRmsForInBandSnr(8000, 10) /
                                probegen::NoiseRmsForSnr(8000, 10)),
                10 * std::log10(6000.0 / 2700.0), 1e-9);
}
