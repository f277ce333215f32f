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

// Two doubles side by side: a complex value as re, im, or two lanes of one sum. GCC and Clang
// keep one in an SSE2 register on x86-64 and split it where there is no vector unit.
using Pair = double __attribute__((vector_size(16)));

Pair Load(const double* p) noexcept {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store(double* p, Pair v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

// Table phasors are rounded to multiples of 2^-32: a product with a 16-bit sample then takes
// 48 bits and a one-bit sum of them 52, so the running sums are exact in any grouping.
constexpr double kPhasorStep = 0x1p-32;

// e^{-j w k} of both tones for the shortest period in which both make whole turns, led by the
// kBit phasors of the period's end (the sample leaving a one-bit sum is kBit samples older than
// the one entering it, so its phasors sit kBit entries before): low re, im, high re, im per
// entry. Returns the period, 0 (and no table) when that is longer than kMaxTablePeriod.
// Looked up, the phasors of a clean tone repeat exactly and so do its sums: its offset reads
// exactly zero, where a turning reference's drift reads as some 1e-15 Hz, which headless would
// print as "-0.0" were it negative.
int BuildTables(double lowHz, double highHz, std::vector<double>& table) {
    table.clear();
    constexpr double rate = SignalAnalyser::kSampleRate;
    for (int period = 1; period <= SignalAnalyser::kMaxTablePeriod; ++period) {
        if (std::fmod(lowHz * period, rate) != 0 || std::fmod(highHz * period, rate) != 0) continue;
        for (int i = -kBit; i < period; ++i) {
            const int k = (i + kBit * period) % period;
            for (const double hz : {lowHz, highHz}) {
                // Whole turns taken out before the sine keep the phase exact.
                const double phase = -2 * kPi * std::fmod(hz * k, rate) / rate;
                table.push_back(std::round(std::cos(phase) / kPhasorStep) * kPhasorStep);
                table.push_back(std::round(std::sin(phase) / kPhasorStep) * kPhasorStep);
            }
        }
        return period;
    }
    return 0;
}

// |high|^2 - |low|^2 of two samples' sums, as two lanes.
Pair Balances(Pair low0, Pair low1, Pair high0, Pair high1) noexcept {
    const Pair l0 = low0 * low0, l1 = low1 * low1, h0 = high0 * high0, h1 = high1 * high1;
    return (Pair{h0[0], h1[0]} + Pair{h0[1], h1[1]}) - (Pair{l0[0], l1[0]} + Pair{l0[1], l1[1]});
}

// The one-bit sums z[2m], z[2m + 1] = sum over k in (m - kBit, m] of y[k] e^{-j w k} for
// m in [from, to) of consecutive blocks, mixed down on an absolute phase reference so that a
// steady tone gives a steady output and its turning rate is the tone's offset. Both tones in
// one pass over the samples, and each sample's balance while its sums are at hand.
// kBitOfPeriods: the period divides kBit (1200 with 2400 Hz), so the samples entering and
// leaving a sum share their phasors and their difference is mixed once.
template <bool kBitOfPeriods>
void MixByTables(const std::int16_t* y, int from, int to, const double* table, int period,
                 double* lowZ, double* highZ, double* balance) noexcept {
    Pair sumLow{0, 0}, sumHigh{0, 0};
    if (from > 0) {
        sumLow = Load(lowZ + 2 * (from - 1));
        sumHigh = Load(highZ + 2 * (from - 1));
    }
    int p = from % period;
    // What enters the sums less what leaves them.
    auto change = [&](int m, Pair& low, Pair& high) {
        const double* now = table + 4 * (p + kBit);
        const int in = y[m], out = m >= kBit ? y[m - kBit] : 0;
        if constexpr (kBitOfPeriods) {
            const double d = in - out;
            low = Pair{d, d} * Load(now);
            high = Pair{d, d} * Load(now + 2);
        } else {
            const double* then = table + 4 * p;
            const double a = in, b = out;
            low = Pair{a, a} * Load(now) - Pair{b, b} * Load(then);
            high = Pair{a, a} * Load(now + 2) - Pair{b, b} * Load(then + 2);
        }
        if (++p == period) p = 0;
    };
    int m = from;
    // Two samples a step: each running sum then waits for one addition every two samples, not
    // every one. Exact, so grouping the changes does not alter the sums.
    for (; m + 1 < to; m += 2) {
        Pair low0, low1, high0, high1;
        change(m, low0, high0);
        change(m + 1, low1, high1);
        const Pair firstLow = sumLow + low0, firstHigh = sumHigh + high0;
        sumLow += low0 + low1;
        sumHigh += high0 + high1;
        Store(lowZ + 2 * m, firstLow);
        Store(highZ + 2 * m, firstHigh);
        Store(lowZ + 2 * m + 2, sumLow);
        Store(highZ + 2 * m + 2, sumHigh);
        Store(balance + m, Balances(firstLow, sumLow, firstHigh, sumHigh));
    }
    if (m < to) {
        Pair low, high;
        change(m, low, high);
        sumLow += low;
        sumHigh += high;
        Store(lowZ + 2 * m, sumLow);
        Store(highZ + 2 * m, sumHigh);
        balance[m] = Balances(sumLow, sumLow, sumHigh, sumHigh)[0];
    }
}

// Tones without a table: each reference turns by a fixed step per sample, a complex multiply
// instead of a sine, a cosine and a remainder (over 30000 samples the rounding stays near
// 1e-12). The running sums are not exact here: a ring keeps the kBit mixed samples they still
// need. Both tones in one loop, so that the two chains of turns overlap.
class TurningTones {
  public:
    TurningTones(double lowHz, double highHz, double* lowZ, double* highZ)
        : tones_{Tone(lowHz, lowZ), Tone(highHz, highZ)} {}

    void Mix(const std::int16_t* y, int from, int to) noexcept {
        // In locals: the stores to z could otherwise alias them.
        Tone low = tones_[0], high = tones_[1];
        for (int m = from; m < to; ++m) {
            const double ym = y[m];
            low.Step(ym, m);
            high.Step(ym, m);
        }
        tones_[0] = low;
        tones_[1] = high;
    }

  private:
    struct Tone {
        Tone(double hz, double* z) : z(z) {
            const double w = 2 * kPi * hz / SignalAnalyser::kSampleRate;
            stepRe = std::cos(w);
            stepIm = -std::sin(w);
        }
        void Step(double y, int m) noexcept {
            const double re = y * refRe, im = y * refIm;
            const double turnedRe = refRe * stepRe - refIm * stepIm;
            refIm = refRe * stepIm + refIm * stepRe;
            refRe = turnedRe;
            double* slot = &old[static_cast<std::size_t>(2 * (m % kBit))];
            sumRe += re - slot[0];
            sumIm += im - slot[1];
            slot[0] = re;
            slot[1] = im;
            z[2 * m] = sumRe;
            z[2 * m + 1] = sumIm;
        }
        double* z;
        double stepRe, stepIm, refRe = 1, refIm = 0, sumRe = 0, sumIm = 0;
        std::array<double, 2 * kBit> old{};
    };
    Tone tones_[2];
};

// Per tone T: sums over the usable samples of T's runs.
struct ToneSums {
    double own = 0, other = 0;  // |Z_T|^2, |Z_other|^2
    // Z_T(n) conj(Z_T(n - lag)) for the lags of kLags: windows that share no sample, so no
    // noise in common.
    std::array<std::complex<double>, std::size(kLags)> turn{};
    std::array<long, std::size(kLags)> turns{};
    long used = 0, decided = 0;
};

// Adds the usable samples [a, b) of one run to `s`: `own` and `other` hold the pairs of the
// run's tone and of the other one.
void AddRun(ToneSums& s, const double* own, const double* other, int a, int b) noexcept {
    s.used += b - a;
    for (std::size_t l = 0; l < std::size(kLags); ++l) s.turns[l] += std::max(0, b - a - kLags[l]);
    // Lanes: own and other as re^2, im^2; a turn's real part as re re', im im' and its
    // imaginary part as re im', im re'. Named rather than in arrays so that they stay in
    // registers.
    static_assert(std::size(kLags) == 3);
    Pair ownSum{0, 0}, otherSum{0, 0}, re0{0, 0}, im0{0, 0}, re1{0, 0}, im1{0, 0}, re2{0, 0},
        im2{0, 0};
    auto turn = [&](Pair z, int m, int lag, Pair& re, Pair& im) {
        const Pair back = Load(own + 2 * (m - lag));
        re += z * back;
        im += z * Pair{back[1], back[0]};
    };
    int m = a;
    // The lags a sample has behind it inside the run: none for the first bit, then one more
    // each bit.
    auto through = [&]<int kCount>(int end) {
        for (; m < end; ++m) {
            const Pair z = Load(own + 2 * m), o = Load(other + 2 * m);
            ownSum += z * z;
            otherSum += o * o;
            if constexpr (kCount >= 1) turn(z, m, kLags[0], re0, im0);
            if constexpr (kCount >= 2) turn(z, m, kLags[1], re1, im1);
            if constexpr (kCount >= 3) turn(z, m, kLags[2], re2, im2);
        }
    };
    through.template operator()<0>(std::min(b, a + kLags[0]));
    through.template operator()<1>(std::min(b, a + kLags[1]));
    through.template operator()<2>(std::min(b, a + kLags[2]));
    through.template operator()<3>(b);
    s.own += ownSum[0] + ownSum[1];
    s.other += otherSum[0] + otherSum[1];
    const Pair re[] = {re0, re1, re2}, im[] = {im0, im1, im2};
    for (std::size_t l = 0; l < std::size(kLags); ++l)
        s.turn[l] += std::complex<double>(re[l][0] + re[l][1], im[l][1] - im[l][0]);
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
    : lowZ_(2 * kMaxSpan), highZ_(2 * kMaxSpan), balance_(kMaxSpan), high_(kMaxSpan) {}

SignalFigures SignalAnalyser::Measure(std::span<const std::int16_t> samples, double lowHz,
                                      double highHz) {
    if (samples.size() > static_cast<std::size_t>(kMaxSpan))
        samples = samples.last(static_cast<std::size_t>(kMaxSpan));
    const int n = static_cast<int>(samples.size());
    SignalFigures out;
    const int first = kBit - 1;  // the first sample with a whole bit behind it
    if (n - first < 4 * kMinRun || lowHz <= 0 || highHz <= lowHz) return out;

    if (tableHz_[0] != lowHz || tableHz_[1] != highHz) {
        tableHz_[0] = lowHz;
        tableHz_[1] = highHz;
        period_ = BuildTables(lowHz, highHz, table_);
    }
    const std::int16_t* y = samples.data();
    double* const lowZ = lowZ_.data();
    double* const highZ = highZ_.data();
    double* const balance = balance_.data();
    TurningTones turning(lowHz, highHz, lowZ, highZ);
    auto mix = [&](int from, int to) {
        if (period_ > 0 && kBit % period_ == 0) {
            MixByTables<true>(y, from, to, table_.data(), period_, lowZ, highZ, balance);
            return;
        }
        if (period_ > 0) {
            MixByTables<false>(y, from, to, table_.data(), period_, lowZ, highZ, balance);
            return;
        }
        turning.Mix(y, from, to);
        for (int i = from; i < to; ++i) {
            const Pair h = Load(highZ + 2 * i), l = Load(lowZ + 2 * i);
            balance[i] = Balances(l, l, h, h)[0];
        }
    };
    std::uint8_t* const high = high_.data();  // the tone decision per sample: 1 the upper tone
    auto edgeHigh = [&](int i) {
        double sum = 0;
        for (int k = std::max(first, i - kDecisionSpread);
             k <= std::min(n - 1, i + kDecisionSpread); ++k)
            sum += balance[k];
        return sum > 0;
    };

    ToneSums sums[2];
    auto endRun = [&](int start, int end, bool upper) {
        ToneSums& s = sums[upper ? 1 : 0];
        s.decided += end - start;
        if (end - start >= kMinRun)
            AddRun(s, upper ? highZ : lowZ, upper ? lowZ : highZ, start + kRunTrim, end - kRunTrim);
    };
    // Block by block, so that a run is summed while its samples are still in the cache.
    constexpr int kBlock = 1024;
    int runStart = first, next = first;
    bool runHigh = false;
    for (int from = 0; from < n; from += kBlock) {
        const int to = std::min(n, from + kBlock);
        mix(from, to);
        // The tone decision looks at a few neighbouring samples, so that noise splits fewer
        // runs: the sum of five balances, two samples at a time; near the ends the same sum in
        // the same order over the ones that are there.
        const int decidable = to == n ? n : to - kDecisionSpread;
        const int innerEnd = std::min(decidable, n - kDecisionSpread);
        int i = next;
        for (; i < std::min(innerEnd, first + kDecisionSpread); ++i) high[i] = edgeHigh(i);
        static_assert(kDecisionSpread == 2);
        for (; i + 1 < innerEnd; i += 2) {
            const double* b = balance + i - kDecisionSpread;
            const Pair sum = Load(b) + Load(b + 1) + Load(b + 2) + Load(b + 3) + Load(b + 4);
            high[i] = sum[0] > 0;
            high[i + 1] = sum[1] > 0;
        }
        for (; i < decidable; ++i) high[i] = edgeHigh(i);
        // Runs of one decision: the next change found by memchr rather than a test per sample.
        if (next == first) runHigh = high[first] != 0;
        while (next < decidable) {
            const void* change = std::memchr(high + next, runHigh ? 0 : 1,
                                             static_cast<std::size_t>(decidable - next));
            if (change == nullptr) {
                next = decidable;
                break;
            }
            next = static_cast<int>(static_cast<const std::uint8_t*>(change) - high);
            endRun(runStart, next, runHigh);
            runStart = next;
            runHigh = !runHigh;
        }
    }
    endRun(runStart, n, runHigh);

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

// Whole pieces rather than a sample at a time: up to the ring's end, then on from its start.
void SignalMeter::CopyIn(const char* bytes, std::size_t count) noexcept {
    if (count > ring_.size()) {  // only the newest fit
        const std::size_t skipped = count - ring_.size();
        bytes += skipped * sizeof(std::int16_t);
        count -= skipped;
        written_ += static_cast<std::int64_t>(skipped);
    }
    while (count > 0) {
        const auto pos = static_cast<std::size_t>(written_ % kRingSamples);
        const std::size_t piece = std::min(count, ring_.size() - pos);
        std::memcpy(&ring_[pos], bytes, piece * sizeof(std::int16_t));
        bytes += piece * sizeof(std::int16_t);
        count -= piece;
        written_ += static_cast<std::int64_t>(piece);
    }
}

void SignalMeter::CopyOut(std::int64_t first, std::size_t count, std::int16_t* out) const noexcept {
    if (count == 0) return;  // `out` may then be null, which memcpy must not be given
    const auto pos = static_cast<std::size_t>(first % kRingSamples);
    const std::size_t piece = std::min(count, ring_.size() - pos);
    std::memcpy(out, &ring_[pos], piece * sizeof(std::int16_t));
    std::memcpy(out + piece, ring_.data(), (count - piece) * sizeof(std::int16_t));
}

void SignalMeter::Push(std::span<const std::int16_t> samples) noexcept {
    CopyIn(reinterpret_cast<const char*>(samples.data()), samples.size());
}

void SignalMeter::Push(const char* buffer, int sizeBytes) noexcept {
    if (buffer == nullptr || sizeBytes < 2) return;
    CopyIn(buffer, static_cast<std::size_t>(sizeBytes / 2));
}

std::span<const std::int16_t> SignalMeter::CopyNewest(std::span<std::int16_t> out) const noexcept {
    const std::int64_t count =
        std::min({static_cast<std::int64_t>(out.size()), written_, std::int64_t{kRingSamples}});
    CopyOut(written_ - count, static_cast<std::size_t>(count), out.data());
    return out.first(static_cast<std::size_t>(count));
}

SignalFigures SignalMeter::Measure(std::int64_t first, std::int64_t end, double lowHz,
                                   double highHz) {
    end = std::min(end, written_);
    first = std::max({first, written_ - kRingSamples, std::int64_t{0}});
    if (end <= first) return {};
    const auto count = static_cast<std::size_t>(end - first);
    CopyOut(first, count, span_.data());
    return analyser_.Measure(std::span<const std::int16_t>(span_.data(), count), lowHz, highHz);
}

}  // namespace station
