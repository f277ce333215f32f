#include "station/demod/sensitive_demodulator.h"

#include <cmath>
#include <numbers>
#include <numeric>

namespace demod {
namespace {

// Bit lengths tried per byte, in samples: the transmitter's clock may be off by a few per cent,
// and the ten bits of a byte then drift by up to two samples against a 10-sample grid.
constexpr int kPeriods = 3;
constexpr double kPeriodSamples[kPeriods] = {9.8, 10.0, 10.2};

// The statistic first leans to space about half a bit after the start edge; the start bit's
// matched-filter peak (its window wholly inside the bit) is then about five samples on. The
// peak is searched a little over a bit around that.
constexpr int kFirstPeakAfterEdge = -1, kLastPeakAfterEdge = 11;

struct BitOffsets {
    std::array<std::array<int, 10>, kPeriods> at{};
    constexpr BitOffsets() {
        for (int p = 0; p < kPeriods; ++p)
            for (int k = 0; k < 10; ++k) at[p][k] = static_cast<int>(k * kPeriodSamples[p] + 0.5);
    }
};
constexpr BitOffsets kBitOffsets;

constexpr double kLevelSmoothing = 1.0 / 64;  // per sample: a time constant of about six bits

}  // namespace

SensitiveDemodulator::SensitiveDemodulator() {
    for (int i = 0; i < kSlicers; ++i) {
        slicers_[i].front = kSlicerFront[i];
        slicers_[i].weight = kUpperToneWeight[i];
        slicers_[i].sync.SetHandler([this, i](const Frame& f) {
            if (handler_) handler_(f, i, byteEnd_);
        });
    }
    SetTones(FskDemodulator::kLowToneHz, FskDemodulator::kStartHighToneHz);
}

void SensitiveDemodulator::MakeTone(Tone& t, double hz) {
    // The table repeats after the tone's period in whole samples (10 for 1200 Hz, 5 for 2400 Hz,
    // 30 for 2200 Hz); other tones get a table a second long.
    const int whole = static_cast<int>(std::lround(hz));
    const int period = whole > 0 && std::abs(hz - whole) < 1e-9
                           ? kSampleRate / std::gcd(whole, kSampleRate)
                           : kSampleRate;
    t.re.resize(static_cast<std::size_t>(period));
    t.im.resize(static_cast<std::size_t>(period));
    for (int n = 0; n < period; ++n) {
        const double angle = 2 * std::numbers::pi * hz * n / kSampleRate;
        t.re[static_cast<std::size_t>(n)] = std::cos(angle);
        t.im[static_cast<std::size_t>(n)] = -std::sin(angle);
    }
    t.at = 0;
    t.ringRe.fill(0);
    t.ringIm.fill(0);
    t.sumRe = t.sumIm = 0;
}

void SensitiveDemodulator::SetTones(double lowHz, double highHz) {
    if (lowHz == lowHz_ && highHz == highHz_) return;
    lowHz_ = lowHz;
    highHz_ = highHz;
    for (Tone& t : low_) MakeTone(t, lowHz);
    for (Tone& t : high_) MakeTone(t, highHz);
}

// Sliding correlation over the last bit: add the newest product, drop the one a bit old. The
// same stored value is added and later subtracted, so rounding cannot pile up.
double SensitiveDemodulator::Energy(Tone& t, double x, int pos) noexcept {
    const double re = x * t.re[static_cast<std::size_t>(t.at)];
    const double im = x * t.im[static_cast<std::size_t>(t.at)];
    t.at = t.at + 1 == static_cast<int>(t.re.size()) ? 0 : t.at + 1;
    t.sumRe += re - t.ringRe[pos];
    t.sumIm += im - t.ringIm[pos];
    t.ringRe[pos] = re;
    t.ringIm[pos] = im;
    return t.sumRe * t.sumRe + t.sumIm * t.sumIm;
}

void SensitiveDemodulator::Process(const std::int16_t* samples, int count) noexcept {
    if (samples == nullptr) return;
    for (int i = 0; i < count; ++i) {
        const double x = samples[i];
        const double emphasised = x - kPreEmphasisPole * previous_;
        previous_ = x;
        const double inputs[kFronts] = {x, emphasised};
        double lowE[kFronts], highE[kFronts];
        for (int f = 0; f < kFronts; ++f) {
            lowE[f] = Energy(low_[f], inputs[f], pos_);
            highE[f] = Energy(high_[f], inputs[f], pos_);
        }
        pos_ = pos_ + 1 == kSamplesPerBit ? 0 : pos_ + 1;
        const int at = static_cast<int>(n_ & kMask);
        ++n_;
        for (Slicer& s : slicers_) {
            const double upper = s.weight * highE[s.front];
            const double lower = lowE[s.front];
            // Scaled by the recent mean energy, not by this sample's: the byte fit needs a
            // statistic that peaks where the one-bit window lies exactly on a bit, which a
            // per-sample ratio (flat near +-1 over most of a bit) does not.
            s.level += kLevelSmoothing * (upper + lower - s.level);
            // Silence gives 0: neither tone, so no start edge either.
            const double lean = s.level > 0 ? (upper - lower) / s.level : 0.0;
            s.mark[at] = static_cast<float>(markIsHigh_ ? lean : -lean);
            Decide(s);
        }
    }
}

// Walks the slicer's cursor up to the newest sample whose byte could now be complete.
void SensitiveDemodulator::Decide(Slicer& s) noexcept {
    const std::int64_t last = n_ - kDecisionDelay;
    while (s.cursor <= last) {
        if (s.mark[s.cursor & kMask] >= 0) {
            ++s.cursor;
            continue;
        }
        std::uint8_t byte = 0;
        std::int64_t stop = 0;
        if (FitByte(s, s.cursor, byte, stop)) {
            s.cursor = stop + 1;
            byteEnd_ = stop + 1;
            // A stop bit read as space still goes on: in a frame the next start follows at
            // once, and the checksum judges the byte.
            s.sync.OnByte(byte);
        } else {
            ++s.cursor;
        }
    }
}

bool SensitiveDemodulator::FitByte(const Slicer& s, std::int64_t edge, std::uint8_t& byte,
                                   std::int64_t& stopSample) const noexcept {
    auto mark = [&s](std::int64_t t) { return s.mark[t & kMask]; };
    float bestScore = -1e30f;
    std::int64_t bestStart = 0;
    int bestPeriod = 0;
    for (int first = kFirstPeakAfterEdge; first <= kLastPeakAfterEdge; ++first) {
        const std::int64_t t0 = edge + first;
        for (int p = 0; p < kPeriods; ++p) {
            const auto& off = kBitOffsets.at[p];
            // The bit before a start bit is a stop bit or the idle line: mark. Without that term a
            // byte ending in ones fits as well one bit late, as the idle line continues it.
            float score = mark(t0 - off[1]) - mark(t0) + mark(t0 + off[9]);
            for (int k = 1; k <= 8; ++k) score += std::fabs(mark(t0 + off[k]));
            if (score > bestScore) {
                bestScore = score;
                bestStart = t0;
                bestPeriod = p;
            }
        }
    }
    if (mark(bestStart) >= 0) return false;
    const auto& off = kBitOffsets.at[bestPeriod];
    unsigned b = 0;
    for (int k = 8; k >= 1; --k) b = (b << 1) | (mark(bestStart + off[k]) > 0 ? 1u : 0u);
    byte = static_cast<std::uint8_t>(b);
    stopSample = bestStart + off[9];
    return true;
}

}  // namespace demod
