#include "station/demod/fsk_demodulator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace demod {
namespace {

constexpr double kTwoPi = FskDemodulator::kTwoPi;
constexpr int kFirstN = -kTaps / 2;  // table index k stands for n = k + kFirstN

}  // namespace

void FillToneTables(ToneTable& sinTable, ToneTable& cosTable, double radiansPerSecond,
                    int sampleRate, bool hamming) noexcept {
    for (int k = 0; k < kTaps; ++k) {
        const int n = k + kFirstN;
        const double angle = n * radiansPerSecond / sampleRate;
        const double weight =
            hamming ? 0.54 - 0.46 * std::cos((n - kFirstN) * kTwoPi / kTaps) : 1.0;
        sinTable[k] = std::sin(angle) * weight;
        cosTable[k] = std::cos(angle) * weight;
    }
}

double ToneCorrelator::Step(double x, const ToneTable& coef) noexcept {
    const int p = pos_;
    delay_[p] = x;
    delay_[p + kTaps] = x;
    pos_ = p + 1 > kTaps - 1 ? 0 : p + 1;
    // coef[0] meets the newest sample, coef[k] the one k samples older (ring index p - k,
    // wrapping below 0 to the top of the ring).
    const double* newest = &delay_[p + kTaps];
    double sum = 0;
    for (int k = 0; k < kTaps; ++k) sum += coef[k] * newest[-k];
    return sum;
}

namespace {

using Taps = ToneCorrelatorBank::Taps;

template <int kLanes>
struct Vector;
template <>
struct Vector<2> {
    using Type = double __attribute__((vector_size(16)));
};
template <>
struct Vector<4> {
    using Type = double __attribute__((vector_size(32)));
};

// The high tone's magnitude (its sums doubled) minus the low tone's, lane by lane.
template <int kLanes, class Vec>
[[gnu::always_inline]] inline void StoreDiff(const Vec& ls, const Vec& lc, const Vec& hs,
                                             const Vec& hc, double* out) noexcept {
    const Vec sinHigh = 2.0 * hs, cosHigh = 2.0 * hc;
    Vec low = ls * ls + lc * lc, high = sinHigh * sinHigh + cosHigh * cosHigh;
    for (int j = 0; j < kLanes; ++j) {
        low[j] = std::sqrt(low[j]);
        high[j] = std::sqrt(high[j]);
    }
    const Vec diff = high - low;
    std::memcpy(out, &diff, sizeof diff);
}

// Correlates line[0..count) (line[i - k] is the sample k older than line[i]) with the four
// tables, 2 * kLanes samples a step: eight independent sums in flight hide the latency of the
// adds, which a single sample's chain of ten waits out. Each sum adds the same products in the
// same order as the one-sample correlator. Whole steps only: up to 2 * kLanes - 1 samples past
// `count` are computed too, from stale line entries into scratch outputs. kDiffs: the tone
// difference per sample into diffs; else the four sums into sums[0..3].
template <int kLanes, bool kDiffs>
[[gnu::always_inline]] inline void Correlate(const double* line, int count, const Taps& taps,
                                             double* const* sums, double* diffs) noexcept {
    using Vec = typename Vector<kLanes>::Type;
    for (int i = 0; i < count; i += 2 * kLanes) {
        Vec ls0 = {}, ls1 = {}, lc0 = {}, lc1 = {}, hs0 = {}, hs1 = {}, hc0 = {}, hc1 = {};
        for (int k = 0; k < kTaps; ++k) {
            Vec a, b;
            std::memcpy(&a, line + i - k, sizeof a);
            std::memcpy(&b, line + i - k + kLanes, sizeof b);
            const auto& tap = taps[k];
            ls0 += tap[0] * a;
            ls1 += tap[0] * b;
            lc0 += tap[1] * a;
            lc1 += tap[1] * b;
            hs0 += tap[2] * a;
            hs1 += tap[2] * b;
            hc0 += tap[3] * a;
            hc1 += tap[3] * b;
        }
        if constexpr (kDiffs) {
            StoreDiff<kLanes>(ls0, lc0, hs0, hc0, diffs + i);
            StoreDiff<kLanes>(ls1, lc1, hs1, hc1, diffs + i + kLanes);
        } else {
            auto store = [&](int t, const Vec& first, const Vec& second) {
                std::memcpy(sums[t] + i, &first, sizeof first);
                std::memcpy(sums[t] + i + kLanes, &second, sizeof second);
            };
            store(0, ls0, ls1);
            store(1, lc0, lc1);
            store(2, hs0, hs1);
            store(3, hc0, hc1);
        }
    }
}

template <bool kDiffs>
void CorrelatePortable(const double* line, int count, const Taps& taps, double* const* sums,
                       double* diffs) noexcept {
    Correlate<2, kDiffs>(line, count, taps, sums, diffs);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define DEMOD_HAVE_WIDE 1
// AVX2 alone, never FMA: a fused multiply-add rounds once where the sums above round twice.
template <bool kDiffs>
__attribute__((target("avx2"))) void CorrelateWide(const double* line, int count, const Taps& taps,
                                                   double* const* sums, double* diffs) noexcept {
    Correlate<4, kDiffs>(line, count, taps, sums, diffs);
}
#endif

template <bool kDiffs>
void CorrelateBlock(bool wide, const double* line, int count, const Taps& taps, double* const* sums,
                    double* diffs) noexcept {
#ifdef DEMOD_HAVE_WIDE
    if (wide) return CorrelateWide<kDiffs>(line, count, taps, sums, diffs);
#else
    (void)wide;
#endif
    CorrelatePortable<kDiffs>(line, count, taps, sums, diffs);
}

}  // namespace

ToneCorrelatorBank::ToneCorrelatorBank(Vectors vectors) noexcept {
#ifdef DEMOD_HAVE_WIDE
    wide_ = vectors == Vectors::kWidest && __builtin_cpu_supports("avx2");
#else
    (void)vectors;
#endif
}

ToneCorrelatorBank::Sums ToneCorrelatorBank::Step(double x, const Taps& taps) noexcept {
    line_[kTaps - 1] = x;
    const double* newest = &line_[kTaps - 1];
    Sums s{0, 0, 0, 0};
    for (int k = 0; k < kTaps; ++k) {
        const double v = newest[-k];
        for (int t = 0; t < 4; ++t) s[t] += taps[k][t] * v;
    }
    std::copy(line_.begin() + 1, line_.begin() + kTaps, line_.begin());
    return s;
}

int ToneCorrelatorBank::Load(const std::int16_t* samples, int count) noexcept {
    count = std::clamp(count, 0, kBlock);
    double* line = line_.data() + kTaps - 1;
    for (int i = 0; i < count; ++i) line[i] = samples[i];
    return count;
}

// The block's last kTaps - 1 samples become the older ones of the next.
void ToneCorrelatorBank::Keep(int count) noexcept {
    if (count > 0) std::memmove(line_.data(), line_.data() + count, (kTaps - 1) * sizeof(double));
}

void ToneCorrelatorBank::Run(const std::int16_t* samples, int count, const Taps& taps,
                             BlockSums& out) noexcept {
    count = Load(samples, count);
    double* const sums[4] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
    CorrelateBlock<false>(wide_, line_.data() + kTaps - 1, count, taps, sums, nullptr);
    Keep(count);
}

void ToneCorrelatorBank::RunDiffs(const std::int16_t* samples, int count, const Taps& taps,
                                  BlockDiffs& out) noexcept {
    count = Load(samples, count);
    CorrelateBlock<true>(wide_, line_.data() + kTaps - 1, count, taps, nullptr, out.data());
    Keep(count);
}

FskDemodulator::FskDemodulator() {
    SetTables(kLowToneHz * kTwoPi, kStartHighToneHz * kTwoPi, false);
}

void FskDemodulator::SetTables(double lowRadPerS, double highRadPerS, bool hamming) noexcept {
    ToneTable lowSin, lowCos, highSin, highCos;
    FillToneTables(lowSin, lowCos, lowRadPerS, sampleRate_, hamming);
    FillToneTables(highSin, highCos, highRadPerS, sampleRate_, hamming);
    for (int k = 0; k < kTaps; ++k) taps_[k] = {lowSin[k], lowCos[k], highSin[k], highCos[k]};
}

ToneTable FskDemodulator::Table(TableIndex which) const noexcept {
    ToneTable table;
    for (int k = 0; k < kTaps; ++k) table[k] = taps_[k][which];
    return table;
}

bool FskDemodulator::ProcessBuffer(const std::int16_t* samples, int& sizeBytes) noexcept {
    const int count = samples != nullptr && sizeBytes > 0 ? sizeBytes / 2 : 0;
    // A buffer longer than the level array still demodulates in full; only the first
    // kLevelSize samples count for the level.
    const int metered = std::min(count, kLevelSize);
    for (int i = 0; i < metered; ++i) level_[i] = std::abs(static_cast<int>(samples[i]));
    constexpr int kBlock = ToneCorrelatorBank::kBlock;
    for (int first = 0; first < count; first += kBlock) {
        const int n = std::min(kBlock, count - first);
        correlators_.RunDiffs(samples + first, n, taps_, diffs_);
        Slice(n);
    }
    UpdateLevel();
    return true;
}

// Scope ring and slicer over a block's differences, their state kept in locals between bits.
void FskDemodulator::Slice(int count) noexcept {
    ToneSlicer slicer = slicer_;
    int write = scopeWrite_;
    const std::int64_t first = samplesIn_;
    for (int i = 0; i < count; ++i) {
        const double diff = diffs_[i];
        ScopeEntry& entry = scope_[write];
        entry = ScopeEntry{diff, 0.0};
        write = write + 1 == kScopeSize ? 0 : write + 1;
        if (!slicer.Step(diff, markIsHigh_)) continue;
        entry.marker = kBitMarker;
        if (sink_ == nullptr) continue;
        // The sink may look at the demodulator: it sees it as of this sample.
        slicer_ = slicer;
        scopeWrite_ = write;
        samplesIn_ = first + i + 1;
        lastDiff_ = diff;
        sink_->OnBit(slicer.BitLevel());
    }
    slicer_ = slicer;
    scopeWrite_ = write;
    samplesIn_ = first + count;
    if (count > 0) lastDiff_ = diffs_[count - 1];
}

void FskDemodulator::UpdateLevel() noexcept {
    int m = 0;  // levels are never negative; a plain loop the compiler vectorises
    for (const int level : level_) m = std::max(m, level);
    if (m < peak_) m = static_cast<int>(kPeakDecay * peak_ + (1 - kPeakDecay) * m);
    peak_ = m;
    levelDb_ = std::log10(peak_ + 1.0) * 20;
}

int FskDemodulator::LevelLabel() const noexcept {
    return static_cast<int>(std::lround(levelDb_));
}

int FskDemodulator::LevelBarTop(double dB, int height) noexcept {
    return static_cast<int>(height - dB / kLevelScaleDb * height);
}

std::string FskDemodulator::SwitchWindow() {
    const bool hamming = windowFlag_;
    SetTables(kSwitchLowRadPerS, kSwitchHighRadPerS, hamming);
    windowFlag_ = !windowFlag_;
    switched_ = true;
    return hamming ? "HAMMING" : "RECHTECK";
}

}  // namespace demod
