// Phase-continuous two-tone FSK at 1200 baud into 16-bit samples at 12000 samples/s:
// bit 1 (mark) on the upper tone (2400 Hz), bit 0 (space) on 1200 Hz, unless told otherwise.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace probegen {

inline constexpr int kSampleRate = 12000;  // samples/s
inline constexpr double kBaud = 1200.0;    // bits/s, 10 samples per bit
inline constexpr double kMarkHz = 2400.0, kSpaceHz = 1200.0;

struct ModulatorOptions {
    double amplitude = 8000.0;  // tone peak, sample units (full scale 32767)
    // Transmitter bit-rate error in ppm: +1000 sends 1201.2 bits/s. Tones are not shifted.
    double clockErrorPpm = 0.0;
    // White Gaussian noise, RMS in sample units over the whole 0..6000 Hz band. See NoiseRmsForSnr.
    double noiseRms = 0.0;
    std::uint32_t seed = 1;
    double upperHz = kMarkHz;  // the upper tone; the lower one is always kSpaceHz
    bool swapTones = false;    // mark on the lower tone, space on the upper one
    // Pass tones and noise through an FM receiver's audio chain (ReceiverAudioFilter).
    bool fmAudio = false;
    // Both tones shifted by this many per cent (a crystal off its frequency); the bit rate
    // stays as it is.
    double toneOffsetPercent = 0.0;
    // Two free-running oscillators, one per tone, instead of one phase-continuous one: the
    // phase jumps to a random value at every tone change.
    bool phaseJumps = false;
};

// The noise RMS that gives `snrDb` = 10 log10(tone power / noise power), both over the full
// 0..6000 Hz band, for a tone of peak `amplitude` (tone power amplitude^2 / 2).
double NoiseRmsForSnr(double amplitude, double snrDb);

// The same with the noise power counted in the 300..3000 Hz band only, where a receiver's audio
// lives (white noise puts 2700/6000 of its power there). Eb/N0 = this SNR + 3.52 dB.
inline constexpr double kInBandLowHz = 300.0, kInBandHighHz = 3000.0;
double NoiseRmsForInBandSnr(double amplitude, double snrDb);

// An FM receiver's audio chain: a 300..3000 Hz band-pass (2nd-order high-pass, 4th-order
// low-pass, Butterworth) and a 6 dB/octave de-emphasis above 300 Hz, scaled to unity gain at
// 1200 Hz: the 2400 Hz tone comes out about 6 dB below the 1200 Hz one.
class ReceiverAudioFilter {
  public:
    ReceiverAudioFilter();
    double Step(double x) noexcept;
    // Gain at a frequency, computed from the coefficients (for tests).
    double GainAt(double hz) const noexcept;

  private:
    struct Biquad {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double z1 = 0, z2 = 0;
        double Step(double x) noexcept;
    };
    static constexpr int kSections = 4;  // high-pass, two low-pass, de-emphasis (first order)
    Biquad sections_[kSections];
    double scale_ = 1.0;
};
class Modulator {
  public:
    explicit Modulator(const ModulatorOptions& options = {});

    // Appends the samples of one bit slot: those sample instants that fall before the bit's
    // end on the transmitter clock (10 per bit without clock error, 9 or 11 now and then with).
    void AppendBit(int bit, std::vector<std::int16_t>& out);
    void AppendBits(const std::vector<std::uint8_t>& bits, std::vector<std::int16_t>& out);
    // Start bit, eight data bits LSB first, stop bit.
    void AppendBytes(const std::vector<std::uint8_t>& bytes, std::vector<std::int16_t>& out);
    // Mark tone (idle line) for `bits` bit slots.
    void AppendIdle(int bits, std::vector<std::int16_t>& out);
    // Moves every later bit boundary by `bits` bit lengths (a fraction is fine): positive adds
    // that much mark tone now, so the next bit starts late; negative shortens the next bit.
    void ShiftTiming(double bits, std::vector<std::int16_t>& out);

    std::int64_t BitsSent() const noexcept { return bitsSent_; }
    std::int64_t SamplesWritten() const noexcept { return samplesWritten_; }

  private:
    ModulatorOptions options_;
    double samplesPerBit_;
    double phase_ = 0;         // radians, kept in [0, 2*pi)
    double shiftSamples_ = 0;  // sum of ShiftTiming, samples
    ReceiverAudioFilter receiver_;
    std::int64_t bitsSent_ = 0;
    std::int64_t samplesWritten_ = 0;
    std::mt19937 rng_;
    std::normal_distribution<double> noise_{0.0, 1.0};
    std::mt19937 jumpRng_;  // apart from the noise's, so the noise stays as it was
    int lastTone_ = -1;     // 1 upper, 0 lower, -1 none yet
};

// Idle bit slots for a duration (rounded to whole bits, at least 0).
int IdleBitsForMs(double ms);

struct SignalOptions {
    ModulatorOptions modulator;
    double leadMs = 200.0;  // mark tone before the first frame
    double gapMs = 80.0;    // mark tone between frames
    double tailMs = 200.0;  // mark tone after the last frame
    // Frames lateEvery, 2 * lateEvery, ... (counted from 1; 0: none) start lateBits bit lengths
    // late; the frames after them keep their times.
    int lateEvery = 0;
    double lateBits = 0.5;
};

// Whether frame `index` (0-based) is one of the late ones.
bool IsLateFrame(int index, int lateEvery);

// Lead, frames separated by gaps, tail: the whole transmission as samples.
std::vector<std::int16_t> RenderFrames(const std::vector<std::vector<std::uint8_t>>& frames,
                                       const SignalOptions& options);

}  // namespace probegen
