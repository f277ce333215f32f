#include "station/demod/fsk_demodulator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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
        const double weight = hamming ? 0.54 - 0.46 * std::cos((n - kFirstN) * kTwoPi / kTaps) : 1.0;
        sinTable[k] = std::sin(angle) * weight;
        cosTable[k] = std::cos(angle) * weight;
    }
}

double ToneCorrelator::Step(double x, const ToneTable& coef) noexcept {
    const int p = pos_;
    delay_[p] = x;
    pos_ = p + 1 > kTaps - 1 ? 0 : p + 1;
    // Newest first: k = 0..p reads delay_[p..0], then the ring wraps to the older end.
    double sum = 0;
    for (int k = 0; k <= p; ++k) sum += coef[k] * delay_[p - k];
    for (int k = p + 1; k < kTaps; ++k) sum += coef[k] * delay_[p - k + kTaps];
    return sum;
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
    FillToneTables(lowSin_, lowCos_, kLowToneHz * kTwoPi, sampleRate_, false);
    FillToneTables(highSin_, highCos_, kStartHighToneHz * kTwoPi, sampleRate_, false);
}

bool FskDemodulator::ProcessBuffer(const std::int16_t* samples, int& sizeBytes) noexcept {
    const int count = samples != nullptr && sizeBytes > 0 ? sizeBytes / 2 : 0;
    for (int i = 0; i < count; ++i) ProcessSample(samples[i], i);
    UpdateLevel();
    return true;
}

void FskDemodulator::ProcessSample(std::int16_t sample, int position) noexcept {
    const double x = sample;
    // A buffer longer than the level array still demodulates in full; only the first
    // kLevelSize samples count for the level.
    if (position < kLevelSize) level_[position] = std::abs(static_cast<int>(sample));

    const double sinLow = corrLowSin_.Step(x, lowSin_);
    const double cosLow = corrLowCos_.Step(x, lowCos_);
    const double sinHigh = 2 * corrHighSin_.Step(x, highSin_);
    const double cosHigh = 2 * corrHighCos_.Step(x, highCos_);
    const double lowMag = std::sqrt(sinLow * sinLow + cosLow * cosLow);
    const double highMag = std::sqrt(sinHigh * sinHigh + cosHigh * cosHigh);
    const double diff = highMag - lowMag;
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

int FskDemodulator::LevelLabel() const noexcept { return static_cast<int>(std::lround(levelDb_)); }

int FskDemodulator::LevelBarTop(double dB, int height) noexcept {
    return static_cast<int>(height - dB / kLevelScaleDb * height);
}

std::string FskDemodulator::SwitchWindow() {
    const bool hamming = windowFlag_;
    FillToneTables(lowSin_, lowCos_, kSwitchLowRadPerS, sampleRate_, hamming);
    FillToneTables(highSin_, highCos_, kSwitchHighRadPerS, sampleRate_, hamming);
    windowFlag_ = !windowFlag_;
    return hamming ? "HAMMING" : "RECHTECK";
}

}  // namespace demod
