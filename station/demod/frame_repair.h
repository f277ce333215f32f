// Soft repair of a frame that failed its checksum: near the sensitivity limit most such frames
// miss by one or two bits, mostly bits the demodulator was least sure of. Flipping those, one at
// a time and then in pairs, and letting the checksums judge gets them back. Every candidate is
// a chance for noise to pass CRC-16, so the set is small and a repair must pass every check the
// frame carries besides: one candidate alone matches, the GPS sentence's own "*hh" and form,
// and its time follows the last good frame's.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "station/demod/frame_sync.h"

namespace demod {

// The sentence's "*hh" matches the XOR of the text between "$" and "*", and its fields have
// the form of a GGA fix: digits where digits belong, hemisphere letters, printable text only.
// Empty fields (no fix yet) pass.
bool GpsSentenceSound(std::string_view sentence);
// UTC of the fix (field 2, hhmmss), or nothing when the field is empty or malformed.
std::optional<int> GpsSecondsOfDay(std::string_view sentence);

class FrameRepair {
  public:
    static constexpr int kSampleRate = 12000;
    // Bits considered: single flips among the weakest kWeakBits of the frame, pairs among the
    // weakest kPairBits (pairs wrong where one bit lies further down are rare, and every pair
    // tried is another chance for a wrong frame to match).
    static constexpr int kWeakBits = 16;
    static constexpr int kPairBits = 12;
    // A good frame this recent (audio time) vouches for the next one's GPS time.
    static constexpr std::int64_t kRecentSamples = 60 * kSampleRate;
    // GPS time may run ahead of the audio time by this much (rounding to whole seconds, a
    // frame sent late).
    static constexpr int kTimeSlackS = 2;

    // A frame that arrived good: the reference for the time check.
    void NoteGood(const Frame& frame, std::int64_t endSample);
    // The repaired frame (checksumOk, repairedBits set), or nothing. `bad` is the frame as its
    // synchroniser completed it, `soft` its bytes and reliabilities.
    std::optional<Frame> Repair(const Frame& bad, const SoftFrame& soft,
                                std::int64_t endSample) const;

    int Attempts() const noexcept { return attempts_; }

  private:
    std::optional<int> lastGoodTime_;
    std::int64_t lastGoodEnd_ = 0;
    mutable int attempts_ = 0;
};

}  // namespace demod
