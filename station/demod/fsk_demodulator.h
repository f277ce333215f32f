// Two-tone FSK demodulator for the probe's 1200-baud signal: 16-bit samples at 12000 samples/s in,
// one bit per 10-sample bit slot out. Four 10-tap tone correlators, a hysteresis slicer, a bit
// clock pulled towards the middle of each bit by tone flips, a scope ring and an input level meter.
// State plus step: everything is sized in the constructor; the per-sample path never allocates.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace demod {

// Receives one bit per bit slot, in sample order. The frame synchroniser implements it.
class BitSink {
  public:
    virtual ~BitSink() = default;
    virtual void OnBit(int bit) noexcept = 0;
};

struct ScopeEntry {
    double diff = 0;    // high-tone minus low-tone magnitude of the sample
    double marker = 0;  // kBitMarker on the sample where a bit was taken, else 0
};

constexpr int kTaps = 10;  // correlator length in samples: one bit at 1200 baud, 12000 samples/s
using ToneTable = std::array<double, kTaps>;

// Fills sin/cos tables for n = -5..4 (index k = n + 5): sin(n * radiansPerSecond / sampleRate),
// where radiansPerSecond is the tone times the demodulator's own 6.28 (not 2*pi: received
// signals are matched against tables made this way). `hamming` multiplies each tap by
// 0.54 - 0.46 * cos((n + 5) * 6.28 / taps).
void FillToneTables(ToneTable& sinTable, ToneTable& cosTable, double radiansPerSecond,
                    int sampleRate, bool hamming) noexcept;

// One tap-delay line and its write position; correlates the newest kTaps samples with a table.
class ToneCorrelator {
  public:
    // Stores x, then returns sum over k of coef[k] * sample(k), where sample(0) is x and
    // sample(k) the one k samples older.
    double Step(double x, const ToneTable& coef) noexcept;

  private:
    // The ring of the last kTaps samples, stored twice over so that the newest-first walk
    // delay_[pos + kTaps - k], k = 0..kTaps-1, never wraps.
    std::array<double, 2 * kTaps> delay_{};
    int pos_ = 0;  // ring position of the next sample, 0..kTaps-1
};

// The four correlators of the demodulator in one pass: they see the same samples, so one delay
// line serves all four, and each sum is formed in the same order as ToneCorrelator::Step forms
// it (identical results, about a quarter of the work).
class ToneCorrelatorBank {
  public:
    // Tap k of the four tables side by side: low sin, low cos, high sin, high cos.
    using Taps = std::array<std::array<double, 4>, kTaps>;
    using Sums = std::array<double, 4>;  // same order as a tap
    static constexpr int kBlock = 256;   // samples a Run takes at most
    // Per table (in tap order), the sum of each sample of a block.
    using BlockSums = std::array<std::array<double, kBlock>, 4>;
    using BlockDiffs = std::array<double, kBlock>;

    // The vectors Run works with: 256-bit ones where the processor has them (x86-64 with AVX2),
    // else 128-bit ones. Either gives the same sums.
    enum class Vectors { kWidest, kPortable };
    explicit ToneCorrelatorBank(Vectors vectors = Vectors::kWidest) noexcept;
    bool Wide() const noexcept { return wide_; }

    // One sample.
    Sums Step(double x, const Taps& taps) noexcept;
    // `count` samples (at most kBlock): out[t][i] is what Step would return for sample i, bit
    // for bit. Several samples are summed side by side, each sum still adding the same
    // products in the same order, so the wide instructions change no rounding. Entries past
    // `count` are scratch.
    void Run(const std::int16_t* samples, int count, const Taps& taps, BlockSums& out) noexcept;
    // As Run, but per sample the demodulator's tone difference: the high tone's magnitude
    // (its two sums doubled) minus the low tone's, each the sqrt of its sums' squares.
    void RunDiffs(const std::int16_t* samples, int count, const Taps& taps,
                  BlockDiffs& out) noexcept;

  private:
    // The last kTaps - 1 samples (oldest first), then the block being correlated.
    std::array<double, kTaps - 1 + kBlock> line_{};
    bool wide_ = false;
    int Load(const std::int16_t* samples, int count) noexcept;
    void Keep(int count) noexcept;
};

// Hysteresis decision on the tone difference plus the bit clock (counter 1..10, a bit per
// wrap). A tone flip nudges the counter towards 6..7, so bits are taken mid-bit.
class ToneSlicer {
  public:
    static constexpr double kHysteresis = 800.0;  // |diff| must exceed this to decide
    static constexpr int kSamplesPerBit = 10;

    // One sample's difference (high-tone minus low-tone magnitude). Returns true when this sample
    // closes a bit slot; the bit is then BitLevel().
    bool Step(double diff, bool markIsHigh) noexcept {
        ++counter_;
        if (diff > kHysteresis) {
            prevToneSign_ = toneSign_;
            toneSign_ = 1;
            bitLevel_ = markIsHigh ? 1 : 0;
        } else if (diff < -kHysteresis) {
            prevToneSign_ = toneSign_;
            toneSign_ = -1;
            bitLevel_ = markIsHigh ? 0 : 1;
        }
        // Until a second decision confirms a flip, pull the clock one step per sample towards
        // 6..7 so that the bit is sampled about half a bit after the tone changed.
        if (prevToneSign_ * toneSign_ < 0) {
            if (counter_ > 7) --counter_;
            if (counter_ < 6) ++counter_;
        }
        if (counter_ <= kSamplesPerBit) return false;
        counter_ = 1;
        return true;
    }

    int ToneSign() const noexcept { return toneSign_; }
    int PrevToneSign() const noexcept { return prevToneSign_; }
    int BitLevel() const noexcept { return bitLevel_; }
    int BitClock() const noexcept { return counter_; }

  private:
    int toneSign_ = 0;  // +1 high tone, -1 low tone, 0 before the first decision
    int prevToneSign_ = 0;
    int bitLevel_ = 0;
    int counter_ = 0;
};

class FskDemodulator {
  public:
    static constexpr int kSampleRate = 12000, kTaps = demod::kTaps, kScopeSize = 2000,
                         kLevelSize = 1500;
    static constexpr double kBitMarker = 100000.0;
    static constexpr int kRedAbovePeak = 16000;    // level bar turns red above this peak
    static constexpr double kLevelScaleDb = 90.0;  // full height of the level bar
    static constexpr double kPeakDecay = 0.5;      // weight of the old peak when the level falls
    static constexpr double kTwoPi = 6.28;
    static constexpr double kLowToneHz = 1200.0, kStartHighToneHz = 2400.0,
                            kSwitchHighToneHz = 2200.0;
    // The window switch's tones, 1200 Hz and 2200 Hz, as radians per second (6.28 * f).
    static constexpr double kSwitchLowRadPerS = 7536.0, kSwitchHighRadPerS = 13816.0;

    FskDemodulator();  // the start-up state and tables (1200/2400 Hz, rectangular)

    void SetBitSink(BitSink* sink) noexcept { sink_ = sink; }

    // sizeBytes / 2 samples (an odd trailing byte is ignored; a negative size or a null buffer
    // is nothing), then one level-bar update. Returns true always, so the buffer goes back to
    // the capture. Bits reach the sink during the call.
    bool ProcessBuffer(const std::int16_t* samples, int& sizeBytes) noexcept;

    // Level bar after the last buffer.
    int LevelPeak() const noexcept { return peak_; }
    double LevelDb() const noexcept { return levelDb_; }
    bool LevelIsRed() const noexcept { return peak_ > kRedAbovePeak; }
    int LevelLabel() const noexcept;
    // Top y of the bar in an image `height` pixels high (bar runs from there to the bottom).
    static int LevelBarTop(double dB, int height) noexcept;

    // Samples processed since start; during a bit sink's call, the number of the sample that
    // closed the bit plus one.
    std::int64_t SamplesIn() const noexcept { return samplesIn_; }

    bool MarkIsHigh() const noexcept { return markIsHigh_; }
    void SetMarkIsHigh(bool markIsHigh) noexcept { markIsHigh_ = markIsHigh; }

    // The window switch: rebuilds the four tables for 1200/2200 Hz, rectangular when the window
    // flag is clear, Hamming when set, then inverts the flag. Returns the caption naming the
    // window now in use ("RECHTECK" or "HAMMING").
    std::string SwitchWindow();
    bool HammingNext() const noexcept { return windowFlag_; }
    // The tone pair the tables are made for: 1200/2400 Hz at start, 1200/2200 Hz after a switch.
    double LowToneHz() const noexcept { return kLowToneHz; }
    double HighToneHz() const noexcept { return switched_ ? kSwitchHighToneHz : kStartHighToneHz; }

    const std::array<ScopeEntry, kScopeSize>& Scope() const noexcept { return scope_; }
    int ScopeWriteIndex() const noexcept { return scopeWrite_ + 1; }  // 1..kScopeSize

    ToneTable LowSin() const noexcept { return Table(kLowSin); }
    ToneTable LowCos() const noexcept { return Table(kLowCos); }
    ToneTable HighSin() const noexcept { return Table(kHighSin); }
    ToneTable HighCos() const noexcept { return Table(kHighCos); }

    int ToneSign() const noexcept { return slicer_.ToneSign(); }
    int PrevToneSign() const noexcept { return slicer_.PrevToneSign(); }
    int BitLevel() const noexcept { return slicer_.BitLevel(); }
    int BitClock() const noexcept { return slicer_.BitClock(); }
    double LastDiff() const noexcept { return lastDiff_; }

  private:
    enum TableIndex { kLowSin, kLowCos, kHighSin, kHighCos };
    ToneTable Table(TableIndex which) const noexcept;
    void SetTables(double lowRadPerS, double highRadPerS, bool hamming) noexcept;
    void Slice(int count) noexcept;
    void UpdateLevel() noexcept;

    int sampleRate_ = kSampleRate;
    ToneCorrelatorBank::Taps taps_{};  // the four tone tables
    ToneCorrelatorBank correlators_;
    ToneCorrelatorBank::BlockDiffs diffs_{};  // the block being demodulated
    ToneSlicer slicer_;
    bool markIsHigh_ = true;
    bool windowFlag_ = false;  // set: the next switch installs Hamming tables
    bool switched_ = false;    // the tables are for 1200/2200 Hz
    double lastDiff_ = 0;
    std::int64_t samplesIn_ = 0;

    std::array<ScopeEntry, kScopeSize> scope_{};
    int scopeWrite_ = 0;  // 0-based slot of the next entry

    std::array<int, kLevelSize> level_{};  // |sample| by position in the current buffer
    int peak_ = 0;
    double levelDb_ = 0;

    BitSink* sink_ = nullptr;
};

}  // namespace demod
