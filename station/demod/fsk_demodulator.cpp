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

void ToneCorrelatorBank::Run(const std::int16_t* samples, int count, const Taps& taps,
                             BlockSums& out) noexcept {
    count = std::clamp(count, 0, kBlock);
    double* line = line_.data() + kTaps - 1;  // line[i]: sample i, line[i - k]: k older
    for (int i = 0; i < count; ++i) line[i] = samples[i];
    // Four samples at a time, two to a vector: eight independent sums in flight hide the
    // latency of the adds, which a single sample's chain of ten waits out.
    using Pair = double __attribute__((vector_size(16)));
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        Pair ls0 = {}, ls1 = {}, lc0 = {}, lc1 = {}, hs0 = {}, hs1 = {}, hc0 = {}, hc1 = {};
        for (int k = 0; k < kTaps; ++k) {
            Pair a, b;
            std::memcpy(&a, line + i - k, sizeof a);
            std::memcpy(&b, line + i - k + 2, sizeof b);
            const auto& tap = taps[k];
            const Pair cls = {tap[0], tap[0]}, clc = {tap[1], tap[1]}, chs = {tap[2], tap[2]},
                       chc = {tap[3], tap[3]};
            ls0 += cls * a;
            ls1 += cls * b;
            lc0 += clc * a;
            lc1 += clc * b;
            hs0 += chs * a;
            hs1 += chs * b;
            hc0 += chc * a;
            hc1 += chc * b;
        }
        auto store = [&](int t, const Pair& first, const Pair& second) {
            std::memcpy(&out[t][i], &first, sizeof first);
            std::memcpy(&out[t][i + 2], &second, sizeof second);
        };
        store(0, ls0, ls1);
        store(1, lc0, lc1);
        store(2, hs0, hs1);
        store(3, hc0, hc1);
    }
    for (; i < count; ++i) {
        double s[4] = {0, 0, 0, 0};
        for (int k = 0; k < kTaps; ++k)
            for (int t = 0; t < 4; ++t) s[t] += taps[k][t] * line[i - k];
        for (int t = 0; t < 4; ++t) out[t][i] = s[t];
    }
    std::copy(line + count - (kTaps - 1), line + count, line_.begin());
}

bool ToneSlicer::Step(double diff, bool markIsHigh) noexcept {
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
    // Until a second decision confirms a flip, pull the clock one step per sample towards 6..7
    // so that the bit is sampled about half a bit after the tone changed.
    if (prevToneSign_ * toneSign_ < 0) {
        if (counter_ > 7) --counter_;
        if (counter_ < 6) ++counter_;
    }
    if (counter_ <= kSamplesPerBit) return false;
    counter_ = 1;
    return true;
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
    constexpr int kBlock = ToneCorrelatorBank::kBlock;
    for (int first = 0; first < count; first += kBlock) {
        const int n = std::min(kBlock, count - first);
        correlators_.Run(samples + first, n, taps_, sums_);
        for (int i = 0; i < n; ++i) {
            const double sinLow = sums_[kLowSin][i];
            const double cosLow = sums_[kLowCos][i];
            const double sinHigh = 2 * sums_[kHighSin][i];
            const double cosHigh = 2 * sums_[kHighCos][i];
            const double lowMag = std::sqrt(sinLow * sinLow + cosLow * cosLow);
            const double highMag = std::sqrt(sinHigh * sinHigh + cosHigh * cosHigh);
            diffs_[i] = highMag - lowMag;
        }
        for (int i = 0; i < n; ++i) ProcessSample(samples[first + i], first + i, diffs_[i]);
    }
    UpdateLevel();
    return true;
}

void FskDemodulator::ProcessSample(std::int16_t sample, int position, double diff) noexcept {
    ++samplesIn_;
    // A buffer longer than the level array still demodulates in full; only the first
    // kLevelSize samples count for the level.
    if (position < kLevelSize) level_[position] = std::abs(static_cast<int>(sample));
    lastDiff_ = diff;

    ScopeEntry& entry = scope_[scopeWrite_];
    entry = ScopeEntry{diff, 0.0};
    scopeWrite_ = scopeWrite_ + 1 == kScopeSize ? 0 : scopeWrite_ + 1;

    if (slicer_.Step(diff, markIsHigh_)) {
        entry.marker = kBitMarker;
        if (sink_ != nullptr) sink_->OnBit(slicer_.BitLevel());
    }
}

void FskDemodulator::UpdateLevel() noexcept {
    int m = *std::max_element(level_.begin(), level_.end());
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
