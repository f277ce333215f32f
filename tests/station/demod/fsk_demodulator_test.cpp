#include "station/demod/fsk_demodulator.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/station/demod/demod_test_util.h"

using demod::FskDemodulator;
using demod::ToneSlicer;
using demod_test::Feed;
using demod_test::RecordingSink;

namespace {

std::vector<std::int16_t> Tone(double hz, int samples, double amplitude = 8000) {
    std::vector<std::int16_t> out;
    for (int i = 0; i < samples; ++i)
        out.push_back(static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / 12000))));
    return out;
}

// Runs one buffer of exactly these samples.
void Process(FskDemodulator& d, const std::vector<std::int16_t>& samples) {
    int bytes = static_cast<int>(samples.size() * 2);
    ASSERT_TRUE(d.ProcessBuffer(samples.data(), bytes));
}

// Sink that notes where in the scope ring each bit was taken.
struct ScopeIndexSink : demod::BitSink {
    const FskDemodulator* d = nullptr;
    std::vector<int> entries;  // 1-based entry written by the sample that closed the slot
    void OnBit(int) noexcept override {
        const int next = d->ScopeWriteIndex();
        entries.push_back(next == 1 ? FskDemodulator::kScopeSize : next - 1);
    }
};

// Sink that also notes where the demodulator says it is at each bit.
struct PositionSink : RecordingSink {
    const FskDemodulator* d = nullptr;
    std::vector<std::int64_t> samplesIn;
    std::vector<int> clocks;
    void OnBit(int bit) noexcept override {
        RecordingSink::OnBit(bit);
        samplesIn.push_back(d->SamplesIn());
        clocks.push_back(d->BitClock());
    }
};

}  // namespace

// ---- Bit clock in silence -------------------------------------------------------------------

class SilenceBlocks : public ::testing::TestWithParam<int> {};

TEST_P(SilenceBlocks, StillDeliversABitEveryTenSamplesWhateverTheBlockSize) {
    FskDemodulator d;
    PositionSink sink;
    sink.d = &d;
    d.SetBitSink(&sink);
    Feed(d, std::vector<std::int16_t>(3000, 0), GetParam());
    // The counter starts at 0, so the first slot closes on sample 11, then every 10 samples;
    // sample 2001 marks entry 1 again. The sink sees the demodulator as of the closing sample.
    ASSERT_EQ(sink.bits.size(), 299u);
    for (std::size_t j = 0; j < sink.bits.size(); ++j) {
        EXPECT_EQ(sink.samplesIn[j], static_cast<std::int64_t>(11 + 10 * j)) << "bit " << j;
        EXPECT_EQ(sink.clocks[j], 1) << "bit " << j;
    }
    EXPECT_EQ(d.SamplesIn(), 3000);
    for (std::uint8_t b : sink.bits) EXPECT_EQ(b, 0);
    EXPECT_EQ(d.ToneSign(), 0);
    EXPECT_EQ(d.PrevToneSign(), 0);
    for (int entry = 1; entry <= 2000; ++entry)
        EXPECT_EQ(d.Scope()[entry - 1].marker, entry % 10 == 1 ? 100000.0 : 0.0)
            << "entry " << entry;
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, SilenceBlocks, ::testing::Values(1, 7, 10, 1500, 3000));

TEST(FskDemodulator, SilenceAfterAToneKeepsDeliveringTheLastBit) {
    FskDemodulator d;
    RecordingSink sink;
    d.SetBitSink(&sink);
    Process(d, Tone(2400, 100));
    ASSERT_EQ(d.ToneSign(), 1);
    ASSERT_EQ(d.PrevToneSign(), 1);
    sink.bits.clear();
    Process(d, std::vector<std::int16_t>(200, 0));
    EXPECT_EQ(sink.bits.size(), 20u);
    for (std::uint8_t b : sink.bits) EXPECT_EQ(b, 1);
}

TEST(FskDemodulator, ToneDecidesTheBitByPolarity) {
    for (bool markIsHigh : {true, false}) {
        FskDemodulator d;
        d.SetMarkIsHigh(markIsHigh);
        Process(d, Tone(2400, 50));
        EXPECT_EQ(d.ToneSign(), 1);
        EXPECT_EQ(d.BitLevel(), markIsHigh ? 1 : 0);
        Process(d, Tone(1200, 50));
        EXPECT_EQ(d.ToneSign(), -1);
        EXPECT_EQ(d.BitLevel(), markIsHigh ? 0 : 1);
    }
}

// ---- Hysteresis and clock nudge --------------------------------------------------------------

struct DecisionCase {
    double settled;  // diff of the two samples before, deciding the starting tone
    double diff;
    int toneSign, prevToneSign, bitLevel;  // after the step
};

class Hysteresis : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(Hysteresis, DecidesOnlyBeyondEightHundred) {
    const DecisionCase& c = GetParam();
    ToneSlicer s;
    s.Step(c.settled, true);
    s.Step(c.settled, true);
    s.Step(c.diff, true);
    EXPECT_EQ(s.ToneSign(), c.toneSign);
    EXPECT_EQ(s.PrevToneSign(), c.prevToneSign);
    EXPECT_EQ(s.BitLevel(), c.bitLevel);
}

constexpr double kJustAbove = 800.0000000000001;

INSTANTIATE_TEST_SUITE_P(Band, Hysteresis,
                         ::testing::Values(DecisionCase{-5000, 800.0, -1, -1, 0},
                                           DecisionCase{5000, -800.0, 1, 1, 1},
                                           DecisionCase{5000, 0.0, 1, 1, 1},
                                           DecisionCase{-5000, kJustAbove, 1, -1, 1},
                                           DecisionCase{5000, -kJustAbove, -1, 1, 0},
                                           DecisionCase{5000, -1e6, -1, 1, 0}));

TEST(ToneSlicer, ExactlyMinusEightHundredAfterAFlipHoldsTheFlip) {
    ToneSlicer s;
    s.Step(-900, true);
    s.Step(900, true);
    s.Step(-800, true);
    EXPECT_EQ(s.ToneSign(), 1);
    EXPECT_EQ(s.PrevToneSign(), -1);
}

// Counter value before a flip sample -> counter after it.
class ClockNudge : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(ClockNudge, AFlipPullsTheCounterTowardsSixOrSeven) {
    const auto [before, after] = GetParam();
    ToneSlicer s;
    s.Step(-5000, true);  // counter 1, toneSign -1 (from 0: no flip)
    while (s.BitClock() != before) s.Step(-5000, true);
    const bool bit = s.Step(5000, true);
    EXPECT_EQ(s.BitClock(), after);
    EXPECT_FALSE(bit);
    // A second same-sign decision ends the pull: the clock runs freely again.
    s.Step(5000, true);
    EXPECT_EQ(s.BitClock(), after + 1);
}

INSTANTIATE_TEST_SUITE_P(Counter, ClockNudge,
                         ::testing::Values(std::pair{1, 3}, std::pair{4, 6}, std::pair{5, 6},
                                           std::pair{6, 7}, std::pair{7, 7}, std::pair{9, 9}));

TEST(ToneSlicer, AFlipAtTheEndOfASlotDelaysTheBitByOneSample) {
    ToneSlicer s;
    s.Step(-5000, true);
    while (s.BitClock() != 10) s.Step(-5000, true);
    EXPECT_FALSE(s.Step(5000, true));  // 11 -> 10: the flip holds the slot open
    EXPECT_EQ(s.BitClock(), 10);
    EXPECT_TRUE(s.Step(5000, true));
    EXPECT_EQ(s.BitLevel(), 1);
    EXPECT_EQ(s.BitClock(), 1);
}

TEST(ToneSlicer, AnUnconfirmedFlipKeepsPullingEverySample) {
    ToneSlicer s;
    s.Step(-5000, true);
    while (s.BitClock() != 2) s.Step(-5000, true);
    s.Step(5000, true);  // 3 -> 4
    EXPECT_EQ(s.BitClock(), 4);
    s.Step(0, true);  // 5 -> 6
    EXPECT_EQ(s.BitClock(), 6);
    for (int i = 0; i < 30; ++i) EXPECT_FALSE(s.Step(0, true));
    EXPECT_EQ(s.BitClock(), 7);
}

// ---- Buffers --------------------------------------------------------------------------------

struct SizeCase {
    int bytes;
    int samples;
};

class BufferSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BufferSize, TakesWholeSamplesOnly) {
    const SizeCase c = GetParam();
    std::vector<std::int16_t> buffer(1600, 100);
    if (c.samples < 1600) buffer[c.samples] = 30000;  // first sample not to be read
    FskDemodulator d;
    int bytes = c.bytes;
    EXPECT_TRUE(d.ProcessBuffer(buffer.data(), bytes));
    EXPECT_EQ(bytes, c.bytes);
    EXPECT_EQ(d.ScopeWriteIndex(), 1 + c.samples);
    EXPECT_EQ(d.LevelPeak(), c.samples > 0 ? 100 : 0);
}

INSTANTIATE_TEST_SUITE_P(Bytes, BufferSize,
                         ::testing::Values(SizeCase{3000, 1500}, SizeCase{3001, 1500},
                                           SizeCase{2999, 1499}, SizeCase{1, 0}, SizeCase{0, 0},
                                           SizeCase{-2, 0}, SizeCase{3200, 1600}));

TEST(FskDemodulator, NullBufferIsNothing) {
    FskDemodulator d;
    int bytes = 3000;
    EXPECT_TRUE(d.ProcessBuffer(nullptr, bytes));
    EXPECT_EQ(d.ScopeWriteIndex(), 1);
}

TEST(FskDemodulator, LongerBufferDemodulatesInFullAndMetersItsFirst1500Samples) {
    FskDemodulator d;
    RecordingSink sink;
    d.SetBitSink(&sink);
    std::vector<std::int16_t> buffer(2000, 0);
    buffer[1499] = 1234;
    buffer[1500] = 20000;
    Process(d, buffer);
    EXPECT_EQ(d.LevelPeak(), 1234);
    EXPECT_EQ(sink.bits.size(), 199u);
    EXPECT_EQ(d.ScopeWriteIndex(), 1);
}

// ---- Scope ring -----------------------------------------------------------------------------

TEST(ScopeRing, WrapsFrom2000To1) {
    FskDemodulator d;
    Process(d, std::vector<std::int16_t>(1999, 0));
    EXPECT_EQ(d.ScopeWriteIndex(), 2000);
    Process(d, std::vector<std::int16_t>(1, 0));
    EXPECT_EQ(d.ScopeWriteIndex(), 1);
    Process(d, Tone(2400, 1));
    EXPECT_EQ(d.ScopeWriteIndex(), 2);
    EXPECT_EQ(d.Scope()[0].diff, d.LastDiff());
}

TEST(ScopeRing, EveryBitMarksItsEntryIncludingEntry2000) {
    // Where the bits fall depends on the clock phase; shifting the first tone flip by 0..9
    // samples moves the bits across all ten positions.
    bool entry2000Marked = false;
    for (int shift = 0; shift < 10; ++shift) {
        FskDemodulator d;
        ScopeIndexSink sink;
        sink.d = &d;
        d.SetBitSink(&sink);
        std::vector<std::int16_t> signal(static_cast<std::size_t>(shift), 0);
        for (int bit = 0; bit < 40; ++bit) {
            const auto tone = Tone(bit % 2 ? 2400 : 1200, 10);
            signal.insert(signal.end(), tone.begin(), tone.end());
        }
        const auto mark = Tone(2400, 2000 - static_cast<int>(signal.size()));
        signal.insert(signal.end(), mark.begin(), mark.end());
        ASSERT_EQ(signal.size(), 2000u);
        Feed(d, signal);
        ASSERT_EQ(d.ScopeWriteIndex(), 1);

        std::vector<bool> marked(2001, false);
        for (int e : sink.entries) marked[static_cast<std::size_t>(e)] = true;
        for (int e = 1; e <= 2000; ++e)
            EXPECT_EQ(d.Scope()[static_cast<std::size_t>(e - 1)].marker,
                      marked[static_cast<std::size_t>(e)] ? 100000.0 : 0.0)
                << "shift " << shift << " entry " << e;
        entry2000Marked = entry2000Marked || marked[2000];
    }
    EXPECT_TRUE(entry2000Marked);
}

// ---- Level bar ------------------------------------------------------------------------------

struct LevelCase {
    std::int16_t sample;
    int peak;
    bool red;
};

class LevelColour : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LevelColour, RedOnlyAbove16000) {
    const LevelCase c = GetParam();
    FskDemodulator d;
    std::vector<std::int16_t> buffer(1500, 0);
    buffer[700] = c.sample;
    Process(d, buffer);
    EXPECT_EQ(d.LevelPeak(), c.peak);
    EXPECT_EQ(d.LevelIsRed(), c.red);
    EXPECT_DOUBLE_EQ(d.LevelDb(), 20 * std::log10(c.peak + 1.0));
}

INSTANTIATE_TEST_SUITE_P(Peaks, LevelColour,
                         ::testing::Values(LevelCase{16000, 16000, false},
                                           LevelCase{16001, 16001, true},
                                           LevelCase{-16000, 16000, false},
                                           LevelCase{-16001, 16001, true},
                                           LevelCase{-32768, 32768, true}, LevelCase{0, 0, false}));

TEST(LevelBar, DecaysByHalfTowardsALowerPeakAndJumpsUp) {
    // Each buffer's largest |sample| -> the peak shown after it.
    const std::pair<int, int> steps[] = {{10000, 10000}, {0, 5000},      {3001, 4000},
                                         {4000, 4000},   {20000, 20000}, {19999, 19999},
                                         {0, 9999},      {0, 4999},      {1, 2500}};
    FskDemodulator d;
    for (auto [input, peak] : steps) {
        std::vector<std::int16_t> buffer(1500, 0);
        buffer[1499] = static_cast<std::int16_t>(input);
        Process(d, buffer);
        EXPECT_EQ(d.LevelPeak(), peak) << "input " << input;
    }
}

TEST(LevelBar, ShortBufferStillMetersAll1500Entries) {
    FskDemodulator d;
    std::vector<std::int16_t> loud(1500, 0);
    loud[1200] = 9000;
    Process(d, loud);
    Process(d, std::vector<std::int16_t>(100, 0));
    EXPECT_EQ(d.LevelPeak(), 9000);
}

TEST(LevelBar, LabelAndBarTop) {
    FskDemodulator d;
    std::vector<std::int16_t> buffer(1500, 0);
    buffer[0] = 16000;
    Process(d, buffer);
    EXPECT_EQ(d.LevelLabel(), 84);  // 20 log10(16001) = 84.08
    EXPECT_EQ(FskDemodulator::LevelBarTop(d.LevelDb(), 90), 5);
    EXPECT_EQ(FskDemodulator::LevelBarTop(0.0, 120), 120);
    EXPECT_EQ(FskDemodulator::LevelBarTop(45.0, 120), 60);
    EXPECT_EQ(FskDemodulator::LevelBarTop(44.99, 100), 50);  // truncated, not rounded
}

// ---- Tables and the window switch -------------------------------------------------------------

TEST(ToneTables, StartUpUses1200And2400HzWith628) {
    FskDemodulator d;
    for (int k = 0; k < 10; ++k) {
        const int n = k - 5;
        EXPECT_NEAR(d.LowSin()[k], std::sin(n * 1200 * 6.28 / 12000), 1e-15);
        EXPECT_NEAR(d.LowCos()[k], std::cos(n * 1200 * 6.28 / 12000), 1e-15);
        EXPECT_NEAR(d.HighSin()[k], std::sin(n * 2400 * 6.28 / 12000), 1e-15);
        EXPECT_NEAR(d.HighCos()[k], std::cos(n * 2400 * 6.28 / 12000), 1e-15);
    }
    // 6.28 is not 2*pi: the last tap differs from a true sine by about 8e-4.
    EXPECT_GT(std::fabs(d.HighSin()[9] - std::sin(4 * 2400 * 2 * std::numbers::pi / 12000)), 5e-4);
}

TEST(WindowSwitch, AlternatesRectangularAndHamming1200And2200Hz) {
    FskDemodulator d;
    const char* captions[] = {"RECHTECK", "HAMMING", "RECHTECK", "HAMMING"};
    for (int press = 0; press < 4; ++press) {
        EXPECT_EQ(d.SwitchWindow(), captions[press]);
        const bool hamming = press % 2 == 1;
        for (int k = 0; k < 10; ++k) {
            const int n = k - 5;
            const double w = hamming ? 0.54 - 0.46 * std::cos((n + 5) * 6.28 / 10) : 1.0;
            EXPECT_DOUBLE_EQ(d.LowSin()[k], std::sin(n * 7536.0 / 12000) * w) << press << k;
            EXPECT_DOUBLE_EQ(d.LowCos()[k], std::cos(n * 7536.0 / 12000) * w) << press << k;
            EXPECT_DOUBLE_EQ(d.HighSin()[k], std::sin(n * 13816.0 / 12000) * w) << press << k;
            EXPECT_DOUBLE_EQ(d.HighCos()[k], std::cos(n * 13816.0 / 12000) * w) << press << k;
        }
    }
}

TEST(WindowSwitch, HammingWeightsTaperTheEnds) {
    FskDemodulator d;
    d.SwitchWindow();
    d.SwitchWindow();
    EXPECT_NEAR(d.LowCos()[0], -0.08, 1e-6);  // n = -5: weight 0.08, cos(-3.14)
    EXPECT_NEAR(d.LowCos()[5], 1.0, 1e-6);    // n = 0: weight 0.54 + 0.46 (nearly)
    EXPECT_NEAR(d.HighSin()[5], 0.0, 1e-15);
}

// ---- Correlators ----------------------------------------------------------------------------

TEST(ToneCorrelator, FirstTapMeetsTheNewestSampleAndTheRingWraps) {
    demod::ToneTable coef{};
    for (int k = 0; k < 10; ++k) coef[k] = 1 << k;  // each sample's weight names its age
    demod::ToneCorrelator c;
    for (int i = 1; i <= 25; ++i) {
        const double got = c.Step(i, coef);
        double want = 0;
        for (int k = 0; k < 10 && i - k >= 1; ++k) want += coef[k] * (i - k);
        ASSERT_EQ(got, want) << "sample " << i;
    }
}

namespace {

// The bank's taps: the four tables side by side, tap k of each.
demod::ToneCorrelatorBank::Taps TapsOf(const demod::ToneTable (&tables)[4]) {
    demod::ToneCorrelatorBank::Taps taps{};
    for (int k = 0; k < 10; ++k)
        for (int t = 0; t < 4; ++t) taps[k][t] = tables[t][k];
    return taps;
}

}  // namespace

TEST(ToneCorrelatorBank, GivesExactlyTheFourSingleCorrelatorSums) {
    FskDemodulator d;
    d.SwitchWindow();
    d.SwitchWindow();  // Hamming tables: no symmetry to hide an ordering fault
    const demod::ToneTable tables[4] = {d.LowSin(), d.LowCos(), d.HighSin(), d.HighCos()};
    const demod::ToneCorrelatorBank::Taps taps = TapsOf(tables);
    demod::ToneCorrelatorBank bank;
    demod::ToneCorrelator single[4];
    std::uint32_t x = 12345;
    for (int i = 0; i < 1000; ++i) {
        x = x * 1664525u + 1013904223u;
        const double sample = static_cast<std::int16_t>(x >> 16);
        const auto sums = bank.Step(sample, taps);
        for (int t = 0; t < 4; ++t) ASSERT_EQ(sums[t], single[t].Step(sample, tables[t])) << i;
    }
}

// The demodulator correlates a block at a time, several samples side by side, in the widest
// vectors the processor has or in portable ones: every sum, and every tone difference made from
// them, must still be the plain correlator's, bit for bit, for blocks of any length and across
// block edges.
TEST(ToneCorrelatorBank, BlocksGiveExactlyThePlainSums) {
    using Vectors = demod::ToneCorrelatorBank::Vectors;
    EXPECT_FALSE(demod::ToneCorrelatorBank(Vectors::kPortable).Wide());
    for (const Vectors vectors : {Vectors::kWidest, Vectors::kPortable}) {
        for (const int windowSwitches : {0, 2}) {  // start-up tables, then Hamming ones
            FskDemodulator d;
            for (int s = 0; s < windowSwitches; ++s) d.SwitchWindow();
            const demod::ToneTable tables[4] = {d.LowSin(), d.LowCos(), d.HighSin(), d.HighCos()};
            const demod::ToneCorrelatorBank::Taps taps = TapsOf(tables);
            demod::ToneCorrelatorBank bank(vectors), diffBank(vectors);
            const std::string what = bank.Wide() ? "wide" : "portable";
            demod::ToneCorrelator single[4];
            demod::ToneCorrelatorBank::BlockSums out{};
            demod::ToneCorrelatorBank::BlockDiffs diffs{};
            std::uint32_t x = 987654321;
            int sample = 0;
            for (const int count : {1, 3, 4, 5, 256, 9, 255, 8, 100, 256, 2, 7, 13}) {
                std::vector<std::int16_t> block;
                for (int i = 0; i < count; ++i) {
                    x = x * 1664525u + 1013904223u;
                    block.push_back(static_cast<std::int16_t>(x >> 16));
                }
                bank.Run(block.data(), count, taps, out);
                diffBank.RunDiffs(block.data(), count, taps, diffs);
                for (int i = 0; i < count; ++i, ++sample) {
                    double want[4];
                    for (int t = 0; t < 4; ++t) {
                        want[t] = single[t].Step(block[i], tables[t]);
                        ASSERT_EQ(std::memcmp(&out[t][i], &want[t], sizeof want[t]), 0)
                            << what << " sample " << sample << " table " << t << ": " << out[t][i]
                            << " != " << want[t];
                    }
                    const double sinHigh = 2 * want[2], cosHigh = 2 * want[3];
                    const double wantDiff = std::sqrt(sinHigh * sinHigh + cosHigh * cosHigh) -
                                            std::sqrt(want[0] * want[0] + want[1] * want[1]);
                    ASSERT_EQ(std::memcmp(&diffs[i], &wantDiff, sizeof wantDiff), 0)
                        << what << " sample " << sample << ": " << diffs[i] << " != " << wantDiff;
                }
            }
        }
    }
}
