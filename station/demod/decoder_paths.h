// The station's decoding paths over one audio stream: the literal demodulator with its frame
// synchroniser, the sensitive demodulator with its own, and the combiner that makes one stream
// of frames of them. With the literal path alone frames go out exactly as that path completes
// them; the other modes go through the combiner.
#pragma once

#include <cstdint>
#include <functional>

#include "station/demod/frame_combiner.h"
#include "station/demod/frame_repair.h"
#include "station/demod/frame_sync.h"
#include "station/demod/fsk_demodulator.h"
#include "station/demod/sensitive_demodulator.h"

namespace demod {

class DecoderPaths {
  public:
    using Output = FrameCombiner::Output;

    // `literal` and `literalSync` stay the caller's (the window's controls act on them); they
    // are wired here. `mode` says which paths decode. Output must not throw.
    DecoderPaths(Decoder mode, FskDemodulator& literal, FrameSync& literalSync, Output output);
    DecoderPaths(const DecoderPaths&) = delete;
    DecoderPaths& operator=(const DecoderPaths&) = delete;

    // One capture buffer through every path in use. The literal demodulator always runs, for
    // the level bar and the scope; its bits reach its synchroniser unless the sensitive path
    // runs alone. Returns what the literal demodulator returns.
    bool ProcessBuffer(const std::int16_t* samples, int& sizeBytes) noexcept;
    // End of input: frames still held go out.
    void Flush();

    // Soft repair of the sensitive path's frames that fail their checksum (on unless turned
    // off; the literal path's frames are never repaired).
    void SetRepair(bool on) noexcept { repair_ = on; }
    bool RepairOn() const noexcept { return repair_; }
    void SetCoherent(bool on) noexcept { sensitive_.SetCoherent(on); }

    Decoder Mode() const noexcept { return mode_; }
    int GoodFrames(Decoder path) const noexcept;  // Literal or Sensitive, copies included
    const SensitiveDemodulator& Sensitive() const noexcept { return sensitive_; }

  private:
    void NoteGood(const Frame& f, std::int64_t end) noexcept;

    Decoder mode_;
    FskDemodulator& literal_;
    FrameCombiner combiner_;
    SensitiveDemodulator sensitive_;
    Output output_;
    int literalGood_ = 0;  // the literal path alone: its good frames
    std::int64_t samples_ = 0;
    bool repair_ = true;
    FrameRepair repairer_;
    std::int64_t lastGoodEnd_ = -FrameCombiner::kSameFrameSamples - 1;
};

}  // namespace demod
