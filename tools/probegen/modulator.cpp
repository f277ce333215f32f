#include "tools/probegen/modulator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace probegen {

double NoiseRmsForSnr(double amplitude, double snrDb) {
    return amplitude / std::sqrt(2.0) / std::pow(10.0, snrDb / 20.0);
}

Modulator::Modulator(const ModulatorOptions& options)
    : options_(options),
      samplesPerBit_(kSampleRate / (kBaud * (1.0 + options.clockErrorPpm * 1e-6))),
      rng_(options.seed) {}

void Modulator::AppendBit(int bit, std::vector<std::int16_t>& out) {
    constexpr double kTwoPi = 2 * std::numbers::pi;
    const bool upper = (bit != 0) != options_.swapTones;
    const double step = kTwoPi * (upper ? options_.upperHz : kSpaceHz) / kSampleRate;
    ++bitsSent_;
    // Computed from the bit count, not accumulated, so the timing does not drift.
    const double bitEnd = static_cast<double>(bitsSent_) * samplesPerBit_;
    while (static_cast<double>(samplesWritten_) < bitEnd) {
        double value = options_.amplitude * std::sin(phase_);
        if (options_.noiseRms > 0) value += options_.noiseRms * noise_(rng_);
        out.push_back(static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L)));
        phase_ += step;
        if (phase_ >= kTwoPi) phase_ -= kTwoPi;
        ++samplesWritten_;
    }
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
        modulator.AppendBytes(frames[i], out);
    }
    modulator.AppendIdle(IdleBitsForMs(options.tailMs), out);
    return out;
}

}  // namespace probegen
