// The second, more sensitive FSK decoder: tone energy over exactly one bit for both tones, and
// per slicer an asynchronous receiver that times every byte from its own start bit, fitting the
// whole byte (start, eight data bits, stop) to the sample grid before deciding any bit. The
// slicers differ in what they look at: the audio as it comes, the audio with the 6 dB/octave
// de-emphasis of an FM receiver undone (which restores the tone balance and removes the smear
// the de-emphasis puts across bit edges), and the plain audio with the upper tone weighted up.
// Each slicer feeds its own frame synchroniser.
// State plus step: the constructor sizes everything; Process() never allocates.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "station/demod/frame_sync.h"

namespace demod {

class SensitiveDemodulator {
  public:
    static constexpr int kSampleRate = 12000;
    static constexpr int kSamplesPerBit = 10;  // one bit at 1200 baud
    // What each slicer looks at: the audio as it comes or with the receiver's de-emphasis
    // undone, and the weight of the upper tone's energy against the lower one's.
    static constexpr int kSlicers = 3;
    enum Front { kPlain = 0, kPreEmphasised = 1, kFronts = 2 };
    static constexpr std::array<Front, kSlicers> kSlicerFront = {kPlain, kPreEmphasised, kPlain};
    static constexpr std::array<double, kSlicers> kUpperToneWeight = {1.0, 1.0, 3.0};
    // Pre-emphasis x[n] - p x[n-1]: the inverse of a first-order de-emphasis with its corner at
    // 300 Hz, p = (1 - k) / (1 + k), k = tan(pi 300 / 12000).
    static constexpr double kPreEmphasisPole = 0.8540;

    // Bytes are decided this many samples after their start edge was seen: the fitted byte
    // (ten bits at up to +2 % bit length) plus the search span must lie in the past.
    static constexpr int kDecisionDelay = 128;  // samples

    // A frame from one slicer and its end: the count of samples processed up to the end of its
    // last stop bit. It is handed over kDecisionDelay samples or so later. Must not throw.
    using FrameHandler = std::function<void(const Frame&, int slicer, std::int64_t sample)>;

    SensitiveDemodulator();
    SensitiveDemodulator(const SensitiveDemodulator&) = delete;  // the synchronisers point back
    SensitiveDemodulator& operator=(const SensitiveDemodulator&) = delete;
    void SetFrameHandler(FrameHandler handler) { handler_ = std::move(handler); }

    // Which tone means bit 1, and the tone pair; the literal path's settings are followed.
    void SetMarkIsHigh(bool markIsHigh) noexcept { markIsHigh_ = markIsHigh; }
    bool MarkIsHigh() const noexcept { return markIsHigh_; }
    void SetTones(double lowHz, double highHz);  // rebuilds the tone tables when they change
    double LowToneHz() const noexcept { return lowHz_; }
    double HighToneHz() const noexcept { return highHz_; }

    void Process(const std::int16_t* samples, int count) noexcept;
    std::int64_t Samples() const noexcept { return n_; }

  private:
    static constexpr int kRing = 256;  // history of per-sample statistics, > kDecisionDelay
    static constexpr int kMask = kRing - 1;

    struct Slicer {
        Front front = kPlain;
        double weight = 1.0;
        double level = 0;                 // mean weighted energy of both tones
        std::array<float, kRing> mark{};  // per sample, in -1..1: above 0 the mark tone wins
        std::int64_t cursor = 0;          // next sample examined for a start edge
        FrameSync sync;
    };

    void Decide(Slicer& s) noexcept;
    // Fits a byte whose start bit's matched-filter peak lies near `edge`; false when the best
    // fit does not look like a byte at all (start bit not space).
    bool FitByte(const Slicer& s, std::int64_t edge, std::uint8_t& byte,
                 std::int64_t& stopSample) const noexcept;

    struct Tone {
        std::vector<double> re, im;  // e^{-j w n} for n modulo the table's period
        int at = 0;                  // table position of the next sample
        std::array<double, kSamplesPerBit> ringRe{}, ringIm{};  // the last bit's products
        double sumRe = 0, sumIm = 0;
    };
    static void MakeTone(Tone& t, double hz);
    static double Energy(Tone& t, double x, int pos) noexcept;

    FrameHandler handler_;
    bool markIsHigh_ = true;
    double lowHz_ = 0, highHz_ = 0;
    std::array<Tone, kFronts> low_, high_;
    double previous_ = 0;  // the last sample, for the pre-emphasis
    int pos_ = 0;          // ring position in the tones' one-bit product rings
    std::array<Slicer, kSlicers> slicers_;
    std::int64_t n_ = 0;
    std::int64_t byteEnd_ = 0;  // end of the byte being handed to a synchroniser
};

}  // namespace demod
