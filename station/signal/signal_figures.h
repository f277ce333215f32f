// Signal figures of one frame, measured from the frame's own samples: in-band SNR and the
// offset of each tone from the frequency the demodulator expects. Plain C++, no Qt.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace station {

struct SignalFigures {
    // 10 log10(tone power / noise power), noise taken over 300-3000 Hz. Empty when the span
    // held too little of either tone to tell signal from noise.
    std::optional<double> snrDb;
    // Measured tone frequency minus the nominal one, Hz; empty when the tone was not seen.
    std::optional<double> lowOffsetHz;
    std::optional<double> highOffsetHz;
};

// "snr=15.2\tlow_offset=-3.0\thigh_offset=12.5"; an unknown figure leaves its value empty.
std::string SignalFieldsText(const SignalFigures& figures, char separator = '\t');
// The headless line after a frame's lines: "signal=N\t" then the fields above.
std::string HeadlessSignalLine(int frameNumber, const SignalFigures& figures);
// For the window: "SNR 15.2 dB   1200 Hz -3.0   2400 Hz +12.5" ("-" for an unknown figure).
std::string SignalFiguresCaption(const SignalFigures& figures, double lowHz, double highHz);

// Measures a span of 12000 samples/s audio holding two-tone FSK at nominal `lowHz`/`highHz`.
// Inside runs of one tone, a one-bit correlator at each tone gives that tone's power (the one
// in use) and the noise density near the tones (the other one, which the tone does not reach);
// the noise in 300-3000 Hz is that density over the band, so noise that is not flat over the
// band (a receiver's own filters) reads up to about 1 dB off. The tone offset comes from how
// far the tone's correlator output turns in one bit. Work buffers are sized once, for spans of
// up to kMaxSpan samples.
class SignalAnalyser {
  public:
    static constexpr int kSampleRate = 12000;
    static constexpr int kMaxSpan = 32768;  // samples; the longest frame is under 30000
    static constexpr double kBandLowHz = 300.0, kBandHighHz = 3000.0;
    // Tones that both make whole turns within at most this many samples are mixed down by a
    // table (1200 Hz with 2400 Hz take 10 samples, with 2200 Hz 60); others by turning
    // references.
    static constexpr int kMaxTablePeriod = 1200;

    SignalAnalyser();
    // Measures the newest kMaxSpan samples when given more.
    SignalFigures Measure(std::span<const std::int16_t> samples, double lowHz, double highHz);

  private:
    // Phasors of both tones over a period in which both make whole turns (see BuildTables).
    double tableHz_[2] = {0, 0};
    int period_ = 0;  // samples; 0: no such period, turning references instead
    std::vector<double> table_;
    // One-bit correlator outputs per sample as re, im pairs, and |high|^2 - |low|^2.
    std::vector<double> lowZ_, highZ_, balance_;
    std::vector<std::uint8_t> high_;  // the tone decision per sample: 1 the upper tone
};

// The newest samples of the capture (a bounded ring), so the frame that just ended can be
// measured. Sample numbers count from the first sample pushed.
class SignalMeter {
  public:
    static constexpr int kRingSamples = 1 << 16;  // 5.5 s: the longest frame and then some

    SignalMeter();
    void Push(std::span<const std::int16_t> samples) noexcept;
    // A capture buffer as it arrives: size / 2 native-order 16-bit samples.
    void Push(const char* buffer, int sizeBytes) noexcept;
    std::int64_t SamplesIn() const noexcept { return written_; }
    // Copies the newest samples into `out` (as many as fit and were pushed), oldest first;
    // returns the part of `out` filled.
    std::span<const std::int16_t> CopyNewest(std::span<std::int16_t> out) const noexcept;
    // Samples [first, end), clipped to what the ring still holds.
    SignalFigures Measure(std::int64_t first, std::int64_t end, double lowHz, double highHz);

  private:
    void CopyIn(const char* bytes, std::size_t count) noexcept;
    void CopyOut(std::int64_t first, std::size_t count, std::int16_t* out) const noexcept;

    std::vector<std::int16_t> ring_;
    std::vector<std::int16_t> span_;
    std::int64_t written_ = 0;
    SignalAnalyser analyser_;
};

}  // namespace station
