#include "station/demod/sensitive_demodulator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <numeric>

namespace demod {
namespace {

// Bit lengths tried per byte, in samples: the transmitter's clock may be off by a few per cent,
// and the ten bits of a byte then drift by up to two samples against a 10-sample grid.
constexpr int kPeriods = 3;
constexpr double kPeriodSamples[kPeriods] = {9.8, 10.0, 10.2};
constexpr int kNominalPeriod = 1;

// The statistic first leans to space about half a bit after the start edge; the start bit's
// matched-filter peak (its window wholly inside the bit) is then about five samples on. The
// peak is searched a little over a bit around that.
constexpr int kFirstPeakAfterEdge = -1, kLastPeakAfterEdge = 11;

// A byte that follows the last one is looked for this many samples either side of where it
// should start; the start and bit length then move by these gains of the offset found: large
// for the first bytes of a frame (a straight line fitted through their starts), never below
// the floors, which average the offsets of about five bytes.
constexpr int kFollowSpan = 8;
constexpr double kMinStartGain = 0.2, kMinPeriodGain = 0.02;
constexpr double kMinPeriod = 9.7, kMaxPeriod = 10.3;  // 3 % either way

struct BitOffsets {
    std::array<std::array<int, 10>, kPeriods> at{};
    constexpr BitOffsets() {
        for (int p = 0; p < kPeriods; ++p)
            for (int k = 0; k < 10; ++k) at[p][k] = static_cast<int>(k * kPeriodSamples[p] + 0.5);
    }
};
constexpr BitOffsets kBitOffsets;

// Per bit: the tone phase references follow a slow drift (clock error turns them a little
// each bit) and average the noise of about this many bits.
constexpr float kReferenceSmoothing = 1.0f / 12;
constexpr int kTrainingBits = 40;  // bits decided by energy before the references are used
// The references' fit to the signal, averaged over about this many tone changes, and
// below which the coherent decisions give way to energy ones until it recovers.
constexpr float kFitSmoothing = 1.0f / 16;
constexpr float kMinFit = 0.5f;

// std::llround without the library call (twenty a byte and slicer added up): exact for
// |x| < 2^62, as the fraction a - trunc(a) is exact.
std::int64_t RoundHalfAway(double x) noexcept {
    const double a = std::fabs(x);
    auto r = static_cast<std::int64_t>(a);
    if (a - static_cast<double>(r) >= 0.5) ++r;
    return x < 0 ? -r : r;
}

}  // namespace

SensitiveDemodulator::SensitiveDemodulator() {
    for (int i = 0; i < kSlicers; ++i) {
        slicers_[i].front = kSlicerFront[i];
        slicers_[i].coherent = kSlicerCoherent[i];
        slicers_[i].sync.SetHandler([this, i](const Frame& f) {
            if (handler_) handler_(f, i, byteEnd_);
        });
        slicers_[i].coherentSync.SetHandler([this, i](const Frame& f) {
            if (handler_) handler_(f, kSlicers + i, byteEnd_);
        });
    }
    SetTones(FskDemodulator::kLowToneHz, FskDemodulator::kStartHighToneHz);
}

void SensitiveDemodulator::MakeTable(Table& t, double hz) {
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
}

void SensitiveDemodulator::SetTones(double lowHz, double highHz) {
    if (lowHz == lowHz_ && highHz == highHz_) return;
    lowHz_ = lowHz;
    highHz_ = highHz;
    MakeTable(lowTable_, lowHz);
    MakeTable(highTable_, highHz);
    sums_ = {};
    auto wholeCyclesPerBit = [](double hz) {
        const double cycles = hz * kSamplesPerBit / kSampleRate;
        return std::abs(cycles - std::round(cycles)) < 1e-9;
    };
    coherentTones_ = wholeCyclesPerBit(lowHz) && wholeCyclesPerBit(highHz);
    for (Slicer& s : slicers_) {
        s.refLow = s.refHigh = {};
        s.trained = 0;
        s.fit = 0;
    }
}

// The per-sample work of the decoder, so where the processor has them (x86-64 with AVX2) it
// runs on four-lane vectors; elsewhere the same code runs on two-lane ones. No lane mixes
// with another and the compiler may not fuse a multiply and an add, so both versions give
// the same figures to the last bit.
#if defined(__x86_64__) && defined(__ELF__)
__attribute__((target_clones("avx2", "default")))
#endif
void SensitiveDemodulator::Correlate(const std::int16_t* samples, int count) noexcept {
    // A front's four sliding sums side by side in one vector (low re, low im, high re,
    // high im): each lane is the scalar sum it replaces, formed in the same order.
    using Quad = double __attribute__((vector_size(32)));
    using FloatQuad = float __attribute__((vector_size(16)));
    Quad sum[kFronts];
    for (int f = 0; f < kFronts; ++f) std::memcpy(&sum[f], sums_[f].sum.data(), sizeof(Quad));
    const double* lowRe = lowTable_.re.data();
    const double* lowIm = lowTable_.im.data();
    const double* highRe = highTable_.re.data();
    const double* highIm = highTable_.im.data();
    const int lowPeriod = static_cast<int>(lowTable_.re.size());
    const int highPeriod = static_cast<int>(highTable_.re.size());
    int lowAt = lowTable_.at, highAt = highTable_.at, pos = pos_;
    double previous = previous_;
    const float sign = markIsHigh_ ? 1.0f : -1.0f;
    for (int i = 0; i < count; ++i) {
        const double x = samples[i];
        const double emphasised = x - kPreEmphasisPole * previous;
        previous = x;
        const double inputs[kFronts] = {x, emphasised};
        const Quad phasor = {lowRe[lowAt], lowIm[lowAt], highRe[highAt], highIm[highAt]};
        lowAt = lowAt + 1 == lowPeriod ? 0 : lowAt + 1;
        highAt = highAt + 1 == highPeriod ? 0 : highAt + 1;
        const auto at = static_cast<std::size_t>((n_ + i) & kMask);
        double lowE[kFronts], highE[kFronts];
        for (int f = 0; f < kFronts; ++f) {
            // Sliding correlation over the last bit: add the newest product, drop the one a
            // bit old. The same stored value is added and later subtracted, so rounding
            // cannot pile up.
            double* old = sums_[f].ring[static_cast<std::size_t>(pos)].data();
            const Quad product = inputs[f] * phasor;
            Quad dropped;
            std::memcpy(&dropped, old, sizeof dropped);
            sum[f] += product - dropped;
            std::memcpy(old, &product, sizeof product);
            const Quad squares = sum[f] * sum[f];
            lowE[f] = squares[0] + squares[1];
            highE[f] = squares[2] + squares[3];
            const FloatQuad narrow = __builtin_convertvector(sum[f], FloatQuad);
            std::memcpy(fronts_[f][at].data(), &narrow, sizeof narrow);
        }
        pos = pos + 1 == kSamplesPerBit ? 0 : pos + 1;
#pragma GCC unroll 3
        for (int k = 0; k < kSlicers; ++k) {
            // Energies, not their ratio: the byte fit needs a statistic that peaks where the
            // one-bit window lies exactly on a bit (a ratio is flat near +-1 over most of a
            // bit), and within one byte the signal level hardly changes. The slicers' settings
            // are constants here, so the loop unrolls; the sign is exact after the rounding.
            const double lean =
                kUpperToneWeight[k] * highE[kSlicerFront[k]] - lowE[kSlicerFront[k]];
            slicers_[k].mark[at] = sign * static_cast<float>(lean);
        }
    }
    for (int f = 0; f < kFronts; ++f) std::memcpy(sums_[f].sum.data(), &sum[f], sizeof(Quad));
    lowTable_.at = lowAt;
    highTable_.at = highAt;
    pos_ = pos;
    previous_ = previous;
}

void SensitiveDemodulator::Process(const std::int16_t* samples, int count) noexcept {
    if (samples == nullptr) return;
    for (int first = 0; first < count; first += kBlock) {
        const int block = std::min(kBlock, count - first);
        Correlate(samples + first, block);
        for (Slicer& s : slicers_) std::copy_n(s.mark.begin(), kMirror, s.mark.begin() + kRing);
        // The slicers walk the block as if each sample had just come: a decision reads only
        // samples older than the one it is taken at, and frames leave in the same order.
        // Samples at which no slicer has anything to decide are passed over.
        const std::int64_t end = n_ + block;
        while (n_ < end) {
            std::int64_t due = end;
            for (const Slicer& s : slicers_) due = std::min(due, s.cursor + kDecisionDelay);
            n_ = std::max(n_ + 1, due);
            if (n_ > end) {
                n_ = end;
                break;
            }
            const std::int64_t decidable = n_ - kDecisionDelay;
            for (Slicer& s : slicers_)
                if (s.cursor <= decidable) Decide(s);
        }
    }
}

// Walks the slicer's cursor up to the newest sample whose byte could now be complete.
void SensitiveDemodulator::Decide(Slicer& s) noexcept {
    const std::int64_t last = n_ - kDecisionDelay;
    while (s.cursor <= last) {
        std::int64_t start = 0;
        std::array<int, 10> off;
        // Fitting each byte on its own places it within two or three samples at low SNR,
        // which costs every bit of it. Inside a frame the bytes follow each other at the
        // transmitter's steady rate, so the byte's place is taken from the line through the
        // starts before it. Outside a frame (noise, the idle line) every byte is fitted afresh.
        const bool inFrame = s.sync.FrameState() != 0 || s.coherentSync.FrameState() != 0;
        const double ahead = s.nextStart - static_cast<double>(s.cursor);
        if (s.mark[s.cursor & kMask] >= 0) {
            // No start edge up to where the next byte was due: a start bit lost in noise
            // inside a frame, or the idle line after it. The byte is taken unless it reads as
            // the idle line (all mark): a lost start bit does not cost the frame, and a
            // synchroniser still waiting for a frame whose end was lost does not keep the
            // slicer following the idle line into the next frame at the old frame's timing.
            const bool due = ahead < kFirstPeakAfterEdge && ahead >= kFirstPeakAfterEdge - 1;
            if (!inFrame || !due) {
                ++s.cursor;
                continue;
            }
            const double nextStart = s.nextStart, period = s.period;
            const int followed = s.followed;
            FollowByte(s, start, off);
            std::array<float, 8> unused;
            if (s.mark[start & kMask] >= 0 && PlainByte(s, start, off, unused) == 0xFF) {
                s.nextStart = nextStart;
                s.period = period;
                s.followed = followed;
                ++s.cursor;
                continue;
            }
        } else if (inFrame && ahead >= kFirstPeakAfterEdge && ahead <= kLastPeakAfterEdge) {
            FollowByte(s, start, off);
        } else {
            int period = 0;
            if (!FitByte(s, s.cursor, start, period)) {
                ++s.cursor;
                continue;
            }
            off = kBitOffsets.at[period];
            // The bit length a single byte suggests is too uncertain to follow: the frame's
            // bytes find it.
            s.period = kPeriodSamples[kNominalPeriod];
            s.followed = 0;
            s.nextStart = static_cast<double>(start) + 10 * s.period;
        }
        s.cursor = start + off[9] + 1;
        byteEnd_ = s.cursor;
        // A stop bit read as space still goes on: in a frame the next start follows at once,
        // and the checksum judges the byte.
        std::array<float, 8> reliability;
        const std::uint8_t plain = PlainByte(s, start, off, reliability);
        s.sync.OnByte(plain, reliability);
        if (s.coherent && coherent_ && coherentTones_) {
            const std::uint8_t coherent = CoherentByte(s, start, off, reliability);
            s.coherentSync.OnByte(coherent, reliability);
        }
    }
}

bool SensitiveDemodulator::FitByte(const Slicer& s, std::int64_t edge, std::int64_t& start,
                                   int& period) const noexcept {
    auto mark = [&s](std::int64_t t) { return s.mark[t & kMask]; };
    float bestScore = -1e30f;
    auto tryFit = [&](std::int64_t t0, int p) {
        const auto& off = kBitOffsets.at[p];
        // The bit before a start bit is a stop bit or the idle line: mark. Without that term a
        // byte ending in ones fits as well one bit late, as the idle line continues it.
        float score = mark(t0 - off[1]) - mark(t0) + mark(t0 + off[9]);
        for (int k = 1; k <= 8; ++k) score += std::fabs(mark(t0 + off[k]));
        if (score > bestScore) {
            bestScore = score;
            start = t0;
            period = p;
        }
    };
    // The start at the nominal bit length first; then the other lengths next to the best
    // start, which a clock error moves by a sample at most.
    for (int first = kFirstPeakAfterEdge; first <= kLastPeakAfterEdge; ++first)
        tryFit(edge + first, kNominalPeriod);
    const std::int64_t nominalStart = start;
    for (std::int64_t t0 = nominalStart - 1; t0 <= nominalStart + 1; ++t0)
        for (int p = 0; p < kPeriods; ++p)
            if (p != kNominalPeriod) tryFit(t0, p);
    return mark(start) < 0;
}

void SensitiveDemodulator::FollowByte(Slicer& s, std::int64_t& start,
                                      std::array<int, 10>& off) noexcept {
    const double expected = s.nextStart;
    // The bit before the start bit (the last stop bit), start, data bits, stop.
    std::array<std::int64_t, 11> at;
    for (int k = -1; k <= 9; ++k) at[k + 1] = RoundHalfAway(expected + k * s.period);
    // The scores of all offsets side by side, four to a vector (each lane adds the same
    // terms in the same order as one offset on its own would), read from the slicer's ring
    // where the window starts: its mirrored end keeps the window in one run.
    using Float4 = float __attribute__((vector_size(16)));
    using Int4 = std::int32_t __attribute__((vector_size(16)));
    constexpr int kVectors = (2 * kFollowSpan + 1 + 3) / 4;
    static_assert(4 * kVectors <= kMirror);
    auto window = [&s](std::int64_t t, int j) {
        Float4 v;
        std::memcpy(&v, &s.mark[static_cast<std::size_t>((t - kFollowSpan) & kMask)] + 4 * j,
                    sizeof v);
        return v;
    };
    std::array<float, 4 * kVectors> score;
    for (int j = 0; j < kVectors; ++j) {
        Float4 v = window(at[0], j) - window(at[1], j) + window(at[10], j);
        for (int k = 2; k <= 9; ++k)  // |m|: the sign bit cleared, as std::fabs does
            v += std::bit_cast<Float4>(std::bit_cast<Int4>(window(at[k], j)) & 0x7fffffff);
        std::memcpy(&score[static_cast<std::size_t>(4 * j)], &v, sizeof v);
    }
    int best = -kFollowSpan;
    float bestScore = score[0];
    for (int d = -kFollowSpan + 1; d <= kFollowSpan; ++d) {
        if (score[d + kFollowSpan] > bestScore) {
            bestScore = score[d + kFollowSpan];
            best = d;
        }
    }
    // The offset to a fraction of a sample, from a parabola through the best and its neighbours.
    double offset = best;
    if (best > -kFollowSpan && best < kFollowSpan) {
        const float before = score[best + kFollowSpan - 1], peak = score[best + kFollowSpan],
                    after = score[best + kFollowSpan + 1];
        const float curvature = 2 * peak - before - after;
        if (curvature > 0) offset += 0.5 * (after - before) / curvature;
    }
    // Recursive least squares of a line through the starts while they are few.
    const double n = ++s.followed;
    const double startGain = std::max(kMinStartGain, 2 * (2 * n + 1) / ((n + 1) * (n + 2)));
    const double periodGain = std::max(kMinPeriodGain, 6 / ((n + 1) * (n + 2)));
    const double t = expected + startGain * offset;
    start = RoundHalfAway(t);
    for (int k = 0; k < 10; ++k) off[k] = static_cast<int>(RoundHalfAway(t + k * s.period) - start);
    s.period = std::clamp(s.period + periodGain * offset / 10, kMinPeriod, kMaxPeriod);
    s.nextStart = t + 10 * s.period;
}

std::uint8_t SensitiveDemodulator::PlainByte(const Slicer& s, std::int64_t start,
                                             const std::array<int, 10>& off,
                                             std::array<float, 8>& reliability) const noexcept {
    unsigned b = 0;
    for (int k = 8; k >= 1; --k) {
        const float m = s.mark[(start + off[k]) & kMask];
        b = (b << 1) | (m > 0 ? 1u : 0u);
        reliability[static_cast<std::size_t>(k - 1)] = std::fabs(m);
    }
    return static_cast<std::uint8_t>(b);
}

// With tones of whole cycles per bit and a phase-continuous transmitter, each tone's one-bit
// correlation has the same phase in every bit that carries it. Knowing that phase (learnt from
// the bits already decided) the decision compares projections instead of energies, which
// leaves out half the noise: the maximum-likelihood choice between the two expected outputs.
std::uint8_t SensitiveDemodulator::CoherentByte(Slicer& s, std::int64_t start,
                                                const std::array<int, 10>& off,
                                                std::array<float, 8>& reliability) noexcept {
    const Correlations& c = fronts_[s.front];
    unsigned b = 0;
    for (int k = 0; k <= 9; ++k) {
        const int at = static_cast<int>((start + off[k]) & kMask);
        const Correlation& r = c[static_cast<std::size_t>(at)];
        const std::complex<float> low(r[0], r[1]), high(r[2], r[3]);
        bool bit;
        if (k == 0 || k == 9) {
            bit = k == 9;  // start and stop bits are known
        } else if (s.trained < kTrainingBits) {
            bit = s.mark[at] > 0;
            reliability[static_cast<std::size_t>(k - 1)] = std::fabs(s.mark[at]);
        } else {
            const float highScore = (high * std::conj(s.refHigh)).real() - std::norm(s.refHigh) / 2;
            const float lowScore = (low * std::conj(s.refLow)).real() - std::norm(s.refLow) / 2;
            bit = (highScore > lowScore) == markIsHigh_;
            // How well the bit's correlation lines up with its tone's reference: near 1 for a
            // phase-continuous transmitter on its tones, about 0 when the phase jumps at tone
            // changes or a tone off its frequency turns faster than the reference follows.
            // The tone is the energy decision's: the coherent one favours the tone that lines up.
            const bool energyHigh = (s.mark[at] > 0) == markIsHigh_;
            const std::complex<float> got = energyHigh ? high : low;
            const std::complex<float> ref = energyHigh ? s.refHigh : s.refLow;
            // One square root of the product of the norms (std::abs would call hypot twice).
            const float scale = std::sqrt(std::norm(got) * std::norm(ref));
            const float alignment = scale > 0 ? (got * std::conj(ref)).real() / scale : 0.0f;
            // Judged just after tone changes only: there a phase jump shows, and the fit
            // learnt in a frame holds across the idle line to the next one.
            if (energyHigh != s.lastHigh) s.fit += kFitSmoothing * (alignment - s.fit);
            if (s.fit < kMinFit) {
                bit = s.mark[at] > 0;  // the energy decision, as the plain slicer takes it
                reliability[static_cast<std::size_t>(k - 1)] = std::fabs(s.mark[at]);
            } else {
                reliability[static_cast<std::size_t>(k - 1)] = std::fabs(highScore - lowScore);
            }
            b |= (bit ? 1u : 0u) << (k - 1);
        }
        if (k >= 1 && k <= 8 && s.trained < kTrainingBits) b |= (bit ? 1u : 0u) << (k - 1);
        const bool highTone = bit == markIsHigh_;
        s.lastHigh = highTone;
        std::complex<float>& ref = highTone ? s.refHigh : s.refLow;
        ref += kReferenceSmoothing * ((highTone ? high : low) - ref);
        if (s.trained < kTrainingBits) ++s.trained;
    }
    return static_cast<std::uint8_t>(b);
}

}  // namespace demod
