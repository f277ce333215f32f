#include "station/signal/signal_figures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "common/numbers.h"

namespace station {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kBit = 10;  // samples per bit at 1200 baud: the correlator length and the lag
// A run of one tone's decisions shorter than this is a transition or noise, not a tone.
constexpr int kMinRun = 20;
// Samples dropped at each end of a run: the correlator window straddles the tone change there.
constexpr int kRunTrim = 6;
// Neighbours on each side that the tone decision of a sample takes in.
constexpr int kDecisionSpread = 2;
// Lags of the turn measurement, samples: one bit first, longer ones for precision.
constexpr int kLags[] = {kBit, 2 * kBit, 3 * kBit};
// White noise of unit variance over 0-6000 Hz has this much of its power in 300-3000 Hz.
constexpr double kBandShareOfWhite =
    (SignalAnalyser::kBandHighHz - SignalAnalyser::kBandLowHz) / (SignalAnalyser::kSampleRate / 2);

std::string Figure(const std::optional<double>& v) {
    return v ? common::FormatFixed(*v, 15, 1) : std::string();
}

std::string SignedFigure(const std::optional<double>& v) {
    if (!v) return "-";
    std::string text = Figure(v);
    return text[0] == '-' || text == "0.0" ? text : "+" + text;
}

// Mean over a uniform phase of |sum_k sin(wSignal k + phi) e^{-j wRef k}|^2, k = 0..kBit-1:
// what a one-bit correlator at wRef sees of a unit-amplitude tone at wSignal.
double ToneResponse(double wSignal, double wRef) {
    std::complex<double> plus, minus;
    for (int k = 0; k < kBit; ++k) {
        plus += std::polar(1.0, (wSignal - wRef) * k);
        minus += std::polar(1.0, -(wSignal + wRef) * k);
    }
    return (std::norm(plus) + std::norm(minus)) / 4;
}

}  // namespace

std::string SignalFieldsText(const SignalFigures& f, char separator) {
    return "snr=" + Figure(f.snrDb) + separator + "low_offset=" + Figure(f.lowOffsetHz) +
           separator + "high_offset=" + Figure(f.highOffsetHz);
}

std::string HeadlessSignalLine(int frameNumber, const SignalFigures& f) {
    return "signal=" + std::to_string(frameNumber) + "\t" + SignalFieldsText(f);
}

std::string SignalFiguresCaption(const SignalFigures& f, double lowHz, double highHz) {
    return "SNR " + (f.snrDb ? Figure(f.snrDb) + " dB" : std::string("-")) + "   " +
           common::FormatFixed(lowHz, 15, 0) + " Hz " + SignedFigure(f.lowOffsetHz) + "   " +
           common::FormatFixed(highHz, 15, 0) + " Hz " + SignedFigure(f.highOffsetHz);
}

SignalAnalyser::SignalAnalyser()
    : lowZ_(kMaxSpan), highZ_(kMaxSpan), balance_(kMaxSpan), high_(kMaxSpan) {}

SignalFigures SignalAnalyser::Measure(std::span<const std::int16_t> samples, double lowHz,
                                      double highHz) {
    if (samples.size() > static_cast<std::size_t>(kMaxSpan))
        samples = samples.last(static_cast<std::size_t>(kMaxSpan));
    const int n = static_cast<int>(samples.size());
    SignalFigures out;
    const int first = kBit - 1;  // the first sample with a whole bit behind it
    if (n - first < 4 * kMinRun || lowHz <= 0 || highHz <= lowHz) return out;

    // Correlators on an absolute phase reference, so a steady tone gives a steady output
    // and its turning rate is the tone's offset: mix down, then one-bit sums.
    // The reference turns by a fixed step per sample: a complex multiply instead of a sine, a
    // cosine and a remainder per sample and tone (over a frame's 30000 samples the rounding
    // stays near 1e-12), which made this the larger part of a fast headless decode.
    const double wLow = 2 * kPi * lowHz / kSampleRate, wHigh = 2 * kPi * highHz / kSampleRate;
    const std::complex<double> stepLow = std::polar(1.0, -wLow), stepHigh = std::polar(1.0, -wHigh);
    // Spelled out: std::complex's operator* checks for infinities on every call.
    auto turn = [](std::complex<double>& ref, std::complex<double> step) {
        ref = {ref.real() * step.real() - ref.imag() * step.imag(),
               ref.real() * step.imag() + ref.imag() * step.real()};
    };
    // One-bit sums by a running sum over the mixed samples, in place: a ring keeps the kBit
    // mixed samples the sum still needs after their slots hold sums.
    std::complex<double> refLow = 1.0, refHigh = 1.0, sumLow, sumHigh;
    std::array<std::complex<double>, kBit> oldLow{}, oldHigh{};
    for (int m = 0; m < n; ++m) {
        const double y = samples[static_cast<std::size_t>(m)];
        const std::complex<double> zl = y * refLow, zh = y * refHigh;
        turn(refLow, stepLow);
        turn(refHigh, stepHigh);
        auto& slotLow = oldLow[static_cast<std::size_t>(m % kBit)];
        auto& slotHigh = oldHigh[static_cast<std::size_t>(m % kBit)];
        sumLow += zl - slotLow;
        sumHigh += zh - slotHigh;
        slotLow = zl;
        slotHigh = zh;
        lowZ_[static_cast<std::size_t>(m)] = m >= first ? sumLow : zl;
        highZ_[static_cast<std::size_t>(m)] = m >= first ? sumHigh : zh;
    }

    // Per tone T (0 low, 1 high): sums over the usable samples of T's runs.
    struct ToneSums {
        double own = 0, other = 0;  // |Z_T|^2, |Z_other|^2
        // Z_T(n) conj(Z_T(n - lag)) for the lags of kLags: windows that share no sample,
        // so no noise in common.
        std::array<std::complex<double>, std::size(kLags)> turn{};
        std::array<long, std::size(kLags)> turns{};
        long used = 0, decided = 0;
    } sums[2];
    // The tone decision looks at a few neighbouring samples, so that noise splits fewer runs.
    // Each sample's balance is formed once; every decision reads five of them.
    for (int i = first; i < n; ++i)
        balance_[static_cast<std::size_t>(i)] = std::norm(highZ_[static_cast<std::size_t>(i)]) -
                                                std::norm(lowZ_[static_cast<std::size_t>(i)]);
    auto edgeHigh = [&](int i) {
        double sum = 0;
        for (int k = std::max(first, i - kDecisionSpread);
             k <= std::min(n - 1, i + kDecisionSpread); ++k)
            sum += balance_[static_cast<std::size_t>(k)];
        return sum > 0;
    };
    // Away from the ends all five neighbours are there: the same sum in the same order, without
    // the bounds (the larger part of this function's time when they were worked out per sample).
    const int innerEnd = std::max(first, n - kDecisionSpread);
    for (int i = first; i < n; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (i - kDecisionSpread < first || i >= innerEnd) {
            high_[at] = edgeHigh(i);
            continue;
        }
        const double* b = &balance_[at - kDecisionSpread];
        static_assert(kDecisionSpread == 2);
        high_[at] = b[0] + b[1] + b[2] + b[3] + b[4] > 0;
    }
    auto isHigh = [&](int i) { return high_[static_cast<std::size_t>(i)] != 0; };
    int runStart = first;
    bool runHigh = isHigh(first);
    for (int i = first + 1; i <= n; ++i) {
        const bool high = i < n && isHigh(i);
        if (i < n && high == runHigh) continue;
        const int tone = runHigh ? 1 : 0;
        const auto& own = tone ? highZ_ : lowZ_;
        const auto& other = tone ? lowZ_ : highZ_;
        ToneSums& s = sums[tone];
        s.decided += i - runStart;
        if (i - runStart >= kMinRun) {
            const int a = runStart + kRunTrim, b = i - kRunTrim;  // usable: [a, b)
            for (int m = a; m < b; ++m) {
                s.own += std::norm(own[static_cast<std::size_t>(m)]);
                s.other += std::norm(other[static_cast<std::size_t>(m)]);
                ++s.used;
                for (std::size_t l = 0; l < std::size(kLags); ++l) {
                    if (m - kLags[l] < a) break;
                    s.turn[l] += own[static_cast<std::size_t>(m)] *
                                 std::conj(own[static_cast<std::size_t>(m - kLags[l])]);
                    ++s.turns[l];
                }
            }
        }
        runStart = i;
        runHigh = high;
    }

    // The offset from the shortest lag (unambiguous to +-600 Hz), then refined with the longer
    // ones, each unwrapped around the estimate so far and weighted by its pairs times the
    // lag squared (a longer lag measures the same phase noise over a longer time).
    const double nominal[2] = {lowHz, highHz};
    double toneHz[2] = {lowHz, highHz};
    for (int t = 0; t < 2; ++t) {
        double estimate = 0, weights = 0;  // radians per sample
        for (std::size_t l = 0; l < std::size(kLags); ++l) {
            const auto& turn = sums[t].turn[l];
            if (sums[t].turns[l] == 0 || std::abs(turn) == 0) break;
            const double angle = std::arg(turn);
            const double lag = kLags[l];
            const double unwrapped =
                weights == 0 ? angle
                             : angle + 2 * kPi * std::round((estimate * lag - angle) / (2 * kPi));
            const double weight = static_cast<double>(sums[t].turns[l]) * lag * lag;
            estimate = (estimate * weights + unwrapped / lag * weight) / (weights + weight);
            weights += weight;
        }
        if (weights == 0) continue;
        const double offset = estimate * kSampleRate / (2 * kPi);
        toneHz[t] = nominal[t] + offset;
        (t ? out.highOffsetHz : out.lowOffsetHz) = offset;
    }

    // Noise is taken as flat over 0-6000 Hz: a one-bit correlator then sees kBit times its
    // variance, of which kBandShareOfWhite lies in the band.
    const double noiseGain = kBit / kBandShareOfWhite;
    // What a correlator sees of a unit-amplitude tone: own[t] at its own correlator, leak[t]
    // at the other one (none for 1200/2400 Hz, some for 1200/2200 Hz or shifted tones).
    double own[2], leak[2];
    for (int t = 0; t < 2; ++t) {
        const double w = 2 * kPi * toneHz[t] / kSampleRate;
        own[t] = ToneResponse(w, 2 * kPi * nominal[t] / kSampleRate);
        leak[t] = ToneResponse(w, 2 * kPi * nominal[1 - t] / kSampleRate);
    }
    // Means: own = A_t^2 own[t] + N gain; other = A_t^2 leak[t] + N gain. Solved for the
    // squared tone amplitudes A_t^2 and the in-band noise N by a few substitutions (the leak
    // is small, so this settles at once).
    double ampSq[2] = {0, 0};
    double noise = 0;
    for (int round = 0; round < 4; ++round) {
        double weighted = 0;
        long weights = 0;
        for (int t = 0; t < 2; ++t) {
            const ToneSums& s = sums[t];
            if (s.used == 0) continue;
            ampSq[t] = std::max(0.0, (s.own / s.used - noise * noiseGain) / own[t]);
            weighted += s.used * (s.other / s.used - ampSq[t] * leak[t]) / noiseGain;
            weights += s.used;
        }
        if (weights == 0) return out;
        noise = weighted / weights;
    }
    // Tone power: each tone's A^2 / 2 by the share of time it was on.
    double power = 0;
    long decided = 0;
    for (int t = 0; t < 2; ++t) {
        if (sums[t].used == 0) continue;
        power += sums[t].decided * ampSq[t] / 2;
        decided += sums[t].decided;
    }
    // Below the rounding of 16-bit samples (1/12 of a step squared, spread over 0-6000 Hz) the
    // estimate only measures arithmetic: a clean signal would otherwise show hundreds of dB.
    noise = std::max(noise, kBandShareOfWhite / 12);
    if (decided > 0 && power > 0) out.snrDb = 10 * std::log10(power / decided / noise);
    return out;
}

SignalMeter::SignalMeter() : ring_(kRingSamples), span_(kRingSamples) {}

void SignalMeter::Push(std::span<const std::int16_t> samples) noexcept {
    std::size_t pos = static_cast<std::size_t>(written_ % kRingSamples);
    for (std::int16_t s : samples) {
        ring_[pos] = s;
        pos = pos + 1 == ring_.size() ? 0 : pos + 1;
    }
    written_ += static_cast<std::int64_t>(samples.size());
}

void SignalMeter::Push(const char* buffer, int sizeBytes) noexcept {
    if (buffer == nullptr || sizeBytes < 2) return;
    std::size_t pos = static_cast<std::size_t>(written_ % kRingSamples);
    const int count = sizeBytes / 2;
    for (int i = 0; i < count; ++i) {
        std::memcpy(&ring_[pos], buffer + 2 * i, sizeof(std::int16_t));
        pos = pos + 1 == ring_.size() ? 0 : pos + 1;
    }
    written_ += count;
}

std::span<const std::int16_t> SignalMeter::CopyNewest(std::span<std::int16_t> out) const noexcept {
    const std::int64_t count =
        std::min({static_cast<std::int64_t>(out.size()), written_, std::int64_t{kRingSamples}});
    for (std::int64_t i = 0; i < count; ++i)
        out[static_cast<std::size_t>(i)] =
            ring_[static_cast<std::size_t>((written_ - count + i) % kRingSamples)];
    return out.first(static_cast<std::size_t>(count));
}

SignalFigures SignalMeter::Measure(std::int64_t first, std::int64_t end, double lowHz,
                                   double highHz) {
    end = std::min(end, written_);
    first = std::max({first, written_ - kRingSamples, std::int64_t{0}});
    if (end <= first) return {};
    const auto count = static_cast<std::size_t>(end - first);
    for (std::size_t i = 0; i < count; ++i)
        span_[i] =
            ring_[static_cast<std::size_t>((first + static_cast<std::int64_t>(i)) % kRingSamples)];
    return analyser_.Measure(std::span<const std::int16_t>(span_.data(), count), lowHz, highHz);
}

}  // namespace station
