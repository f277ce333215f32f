// The second, more sensitive FSK decoder: tone energy over exactly one bit for both tones, and
// per slicer an asynchronous receiver that times a byte from its own start bit, fitting the
// whole byte (start, eight data bits, stop) to the sample grid before deciding any bit; inside a
// frame, where bytes follow each other without a gap, it follows the frame's byte timing. The
// slicers differ in what they look at: the audio as it comes, the audio with the 6 dB/octave
// de-emphasis of an FM receiver undone (which restores the tone balance and removes the smear
// the de-emphasis puts across bit edges), and the plain audio with the upper tone weighted up.
// Each slicer feeds its own frame synchroniser.
// State plus step: the constructor sizes everything; Process() never allocates.
#pragma once

#include <array>
#include <complex>
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
    // Slicers 0 and 1 also decide every byte they find a second time, by tone phase as well as
    // energy (see CoherentByte), into a synchroniser of their own, where the tones allow it.
    static constexpr int kSlicers = 3;
    enum Front { kPlain = 0, kPreEmphasised = 1, kFronts = 2 };
    static constexpr std::array<Front, kSlicers> kSlicerFront = {kPlain, kPreEmphasised, kPlain};
    static constexpr std::array<double, kSlicers> kUpperToneWeight = {1.0, 1.0, 3.0};
    static constexpr std::array<bool, kSlicers> kSlicerCoherent = {true, true, false};
    // Pre-emphasis x[n] - p x[n-1]: the inverse of a first-order de-emphasis with its corner at
    // 300 Hz, p = (1 - k) / (1 + k), k = tan(pi 300 / 12000).
    static constexpr double kPreEmphasisPole = 0.8540;

    // Bytes are decided this many samples after their start edge was seen: the fitted byte
    // (ten bits at up to +2 % bit length) plus the search span must lie in the past.
    static constexpr int kDecisionDelay = 128;  // samples

    // A frame from one slicer (0..kSlicers-1, or kSlicers + i for slicer i's coherent decisions)
    // and its end: the count of samples processed up to the end of its
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
    // Coherent decisions on (the default) or off. On, each coherent synchroniser falls back to
    // energy decisions wherever the signal does not fit them (phase jumps, tones off).
    void SetCoherent(bool on) noexcept { coherent_ = on; }
    bool Coherent() const noexcept { return coherent_; }
    double LowToneHz() const noexcept { return lowHz_; }
    double HighToneHz() const noexcept { return highHz_; }

    void Process(const std::int16_t* samples, int count) noexcept;
    // The soft bytes of the frame a slicer (numbered as for the handler) just completed; valid
    // while the handler runs.
    const SoftFrame& Soft(int slicer) const noexcept {
        return slicer < kSlicers ? slicers_[slicer].sync.Soft()
                                 : slicers_[slicer - kSlicers].coherentSync.Soft();
    }
    std::int64_t Samples() const noexcept { return n_; }

  private:
    // Samples are correlated a block at a time, then the slicers walk the block sample by
    // sample; the history must hold the block, the decision delay and a byte's look back.
    static constexpr int kBlock = 256;
    static constexpr int kRing = 512;  // history of per-sample statistics
    static constexpr int kMask = kRing - 1;
    static constexpr int kMirror = 32;
    static_assert(kRing >= kBlock + kDecisionDelay + 32);

    struct Slicer {
        Front front = kPlain;
        // Per sample: above 0 the mark tone wins. The ring's first kMirror samples follow
        // again after its end, so a window that wraps reads as one run.
        std::array<float, kRing + kMirror> mark{};
        std::int64_t cursor = 0;  // next sample examined for a start edge
        bool coherent = false;
        std::complex<float> refLow, refHigh;  // expected one-bit correlation of each tone
        int trained = 0;                      // bits that have gone into the references
        float fit = 0;         // running alignment of the bits with the references, -1..1; a
                               // signal earns coherent decisions by showing that it fits them
        bool lastHigh = true;  // the tone of the last bit decided
        // Inside a frame bytes follow each other without a gap: where the next one starts if
        // it does, the bit length followed through the frame, and the bytes followed so far.
        double nextStart = -1e9;
        double period = 10;
        int followed = 0;
        FrameSync sync;
        FrameSync coherentSync;
    };
    // The one-bit correlations of a front, per sample, for the coherent decisions.
    // Low re, low im, high re, high im.
    using Correlation = std::array<float, 4>;
    using Correlations = std::array<Correlation, kRing>;

    // The tone correlations, fronts and slicer statistics of samples n_ .. n_ + count - 1
    // (count <= kBlock) into the history; n_ itself is moved on by Process.
    void Correlate(const std::int16_t* samples, int count) noexcept;
    void Decide(Slicer& s) noexcept;
    // Finds where the byte whose start edge is near `edge` lies: its start bit's matched-filter
    // peak and its bit length. False when the best fit has no space start bit: no byte.
    bool FitByte(const Slicer& s, std::int64_t edge, std::int64_t& start,
                 int& period) const noexcept;
    // Places a byte that follows the last one at once (see Decide) and moves the estimate of
    // where the next one starts.
    void FollowByte(Slicer& s, std::int64_t& start, std::array<int, 10>& bitOffsets) noexcept;
    // The byte's data bits, and how far each decision lay from the threshold.
    std::uint8_t PlainByte(const Slicer& s, std::int64_t start,
                           const std::array<int, 10>& bitOffsets,
                           std::array<float, 8>& reliability) const noexcept;
    std::uint8_t CoherentByte(Slicer& s, std::int64_t start, const std::array<int, 10>& bitOffsets,
                              std::array<float, 8>& reliability) noexcept;

    // e^{-j w n} for n modulo the table's period, and the position of the next sample.
    struct Table {
        std::vector<double> re, im;
        int at = 0;
    };
    static void MakeTable(Table& t, double hz);
    // One front's correlations with both tones over the last bit: low re, low im, high re,
    // high im, and the products of the last bit that make them up.
    struct OneBitSums {
        alignas(32) std::array<double, 4> sum{};
        alignas(32) std::array<std::array<double, 4>, kSamplesPerBit> ring{};
    };

    FrameHandler handler_;
    bool markIsHigh_ = true;
    double lowHz_ = 0, highHz_ = 0;
    Table lowTable_, highTable_;
    std::array<OneBitSums, kFronts> sums_{};
    std::array<Correlations, kFronts> fronts_;
    bool coherentTones_ = false;  // both tones have whole cycles per bit
    bool coherent_ = true;
    double previous_ = 0;  // the last sample, for the pre-emphasis
    int pos_ = 0;          // ring position in the tones' one-bit product rings
    std::array<Slicer, kSlicers> slicers_;
    std::int64_t n_ = 0;
    std::int64_t byteEnd_ = 0;  // end of the byte being handed to a synchroniser
};

}  // namespace demod
