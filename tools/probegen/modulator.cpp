#include "tools/probegen/modulator.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace probegen {

double NoiseRmsForSnr(double amplitude, double snrDb) {
    return amplitude / std::sqrt(2.0) / std::pow(10.0, snrDb / 20.0);
}

double NoiseRmsForInBandSnr(double amplitude, double snrDb) {
    const double fullBandHz = kSampleRate / 2.0;
    return NoiseRmsForSnr(amplitude, snrDb) *
           std::sqrt(fullBandHz / (kInBandHighHz - kInBandLowHz));
}

namespace {

constexpr double kDeemphasisHz = 300.0;
constexpr double kUnityGainHz = 1200.0;

// Bilinear-transform (RBJ cookbook) coefficients, normalised by a0.
void SetBiquad(double& b0, double& b1, double& b2, double& a1, double& a2, double hz, double q,
               bool highPass) {
    const double w = 2 * std::numbers::pi * hz / kSampleRate;
    const double alpha = std::sin(w) / (2 * q), c = std::cos(w);
    const double a0 = 1 + alpha;
    const double edge = highPass ? (1 + c) / 2 : (1 - c) / 2;
    b0 = edge / a0;
    b1 = (highPass ? -2 * edge : 2 * edge) / a0;
    b2 = edge / a0;
    a1 = -2 * c / a0;
    a2 = (1 - alpha) / a0;
}

}  // namespace

double ReceiverAudioFilter::Biquad::Step(double x) noexcept {
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
}

ReceiverAudioFilter::ReceiverAudioFilter() {
    auto set = [](Biquad& s, double hz, double q, bool highPass) {
        SetBiquad(s.b0, s.b1, s.b2, s.a1, s.a2, hz, q, highPass);
    };
    set(sections_[0], kInBandLowHz, std::numbers::sqrt2 / 2, true);
    set(sections_[1], kInBandHighHz, 0.54119610, false);  // 4th-order Butterworth pole pairs
    set(sections_[2], kInBandHighHz, 1.30656296, false);
    // De-emphasis: first-order low-pass at 300 Hz, by the bilinear transform with pre-warping.
    const double k = std::tan(std::numbers::pi * kDeemphasisHz / kSampleRate);
    Biquad& d = sections_[3];
    d.b0 = d.b1 = k / (1 + k);
    d.b2 = 0;
    d.a1 = (k - 1) / (1 + k);
    d.a2 = 0;
    scale_ = 1.0 / GainAt(kUnityGainHz);
}

double ReceiverAudioFilter::Step(double x) noexcept {
    for (Biquad& s : sections_) x = s.Step(x);
    return x * scale_;
}

double ReceiverAudioFilter::GainAt(double hz) const noexcept {
    const std::complex<double> z = std::polar(1.0, 2 * std::numbers::pi * hz / kSampleRate);
    const std::complex<double> zi = 1.0 / z, zi2 = zi * zi;
    double gain = scale_;
    for (const Biquad& s : sections_)
        gain *= std::abs((s.b0 + s.b1 * zi + s.b2 * zi2) / (1.0 + s.a1 * zi + s.a2 * zi2));
    return gain;
}

Modulator::Modulator(const ModulatorOptions& options)
    : options_(options),
      samplesPerBit_(kSampleRate / (kBaud * (1.0 + options.clockErrorPpm * 1e-6))),
      rng_(options.seed),
      jumpRng_(options.seed + 1) {}

void Modulator::AppendBit(int bit, std::vector<std::int16_t>& out) {
    constexpr double kTwoPi = 2 * std::numbers::pi;
    const bool upper = (bit != 0) != options_.swapTones;
    const double step = kTwoPi * (upper ? options_.upperHz : kSpaceHz) *
                        (1.0 + options_.toneOffsetPercent / 100) / kSampleRate;
    if (options_.phaseJumps && lastTone_ >= 0 && lastTone_ != static_cast<int>(upper))
        phase_ = std::uniform_real_distribution<double>(0.0, kTwoPi)(jumpRng_);
    lastTone_ = static_cast<int>(upper);
    ++bitsSent_;
    // Computed from the bit count, not accumulated, so the timing does not drift.
    const double bitEnd = static_cast<double>(bitsSent_) * samplesPerBit_ + shiftSamples_;
    while (static_cast<double>(samplesWritten_) < bitEnd) {
        double value = options_.amplitude * std::sin(phase_);
        if (options_.noiseRms > 0) value += options_.noiseRms * noise_(rng_);
        if (options_.fmAudio) value = receiver_.Step(value);
        out.push_back(static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L)));
        phase_ += step;
        if (phase_ >= kTwoPi) phase_ -= kTwoPi;
        ++samplesWritten_;
    }
}

void Modulator::ShiftTiming(double bits, std::vector<std::int16_t>& out) {
    shiftSamples_ += bits * samplesPerBit_;
    if (bits <= 0) return;
    // The extra mark tone: a bit slot that ends where the shifted grid puts the last one.
    --bitsSent_;
    AppendBit(1, out);
}

void Modulator::AppendBits(const std::vector<std::uint8_t>& bits, std::vector<std::int16_t>& out) {
    for (std::uint8_t b : bits) AppendBit(b, out);
}

void Modulator::AppendBytes(const std::vector<std::uint8_t>& bytes,
                            std::vector<std::int16_t>& out) {
    for (std::uint8_t byte : bytes) {
        AppendBit(0, out);
        for (int i = 0; i < 8; ++i) AppendBit((byte >> i) & 1, out);
        AppendBit(1, out);
    }
}

void Modulator::AppendIdle(int bits, std::vector<std::int16_t>& out) {
    for (int i = 0; i < bits; ++i) AppendBit(1, out);
}

bool IsLateFrame(int index, int lateEvery) {
    return lateEvery > 0 && (index + 1) % lateEvery == 0;
}

int IdleBitsForMs(double ms) {
    return ms > 0 ? static_cast<int>(std::lround(ms * kBaud / 1000.0)) : 0;
}

std::vector<std::int16_t> RenderFrames(const std::vector<std::vector<std::uint8_t>>& frames,
                                       const SignalOptions& options) {
    Modulator modulator(options.modulator);
    std::vector<std::int16_t> out;
    modulator.AppendIdle(IdleBitsForMs(options.leadMs), out);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (i > 0) modulator.AppendIdle(IdleBitsForMs(options.gapMs), out);
        const bool late = IsLateFrame(static_cast<int>(i), options.lateEvery);
        if (late) modulator.ShiftTiming(options.lateBits, out);
        modulator.AppendBytes(frames[i], out);
        if (late) modulator.ShiftTiming(-options.lateBits, out);
    }
    modulator.AppendIdle(IdleBitsForMs(options.tailMs), out);
    return out;
}

}  // namespace probegen
