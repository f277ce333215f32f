// Merges the frames of several decoding paths into one stream in which each transmitted frame
// appears once: a good frame goes out as soon as the other paths have had their chance to
// deliver it too (a few tens of ms), a bad one is held until 500 ms after its end in case a good
// copy turns up, and whatever the other paths find of a frame already out is dropped. Frames
// leave in the order of their ends. Plain C++; works per frame, never per sample.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>

#include "station/demod/frame_sync.h"

namespace demod {

enum class Decoder { Literal = 0, Sensitive = 1, Both = 2 };
const char* DecoderName(Decoder decoder) noexcept;  // "literal", "sensitive", "both"

class FrameCombiner {
  public:
    static constexpr int kSampleRate = 12000;
    // Two frames whose ends lie this close are the same transmission: frames last close to a
    // second, so two different ones end further apart.
    static constexpr std::int64_t kSameFrameSamples = kSampleRate / 2;  // 500 ms
    // How long a good frame waits for the other path's copy: the sensitive path decides a byte
    // about 11 ms after its stop bit, the literal one within a bit.
    static constexpr std::int64_t kSettleSamples = kSampleRate / 20;  // 50 ms

    // Called for every frame that goes out: the frame, which paths delivered it (Both when a
    // good frame came identically from both) and its end as offered. Must not throw.
    using Output = std::function<void(const Frame&, Decoder, std::int64_t endSample)>;

    // `paths`: which paths run (Literal, Sensitive or Both); a frame waits only for those.
    explicit FrameCombiner(Decoder paths, Output output = {});
    void SetOutput(Output output) { output_ = std::move(output); }

    // A frame as a path completed it; `endSample` counts samples from the start of the input.
    // Paths may report out of order by up to a buffer.
    void Offer(const Frame& frame, Decoder path, std::int64_t endSample);
    // Sends what is due by `nowSample` (every path has processed all samples before it).
    void AdvanceTo(std::int64_t nowSample);
    // End of input: sends everything still waiting.
    void Flush();

    // Good frames each path found, a frame found by both counted for both.
    int GoodFrames(Decoder path) const noexcept { return good_[static_cast<int>(path)]; }

  private:
    struct Pending {
        Frame frame;
        Decoder from = Decoder::Literal;
        std::int64_t end = 0;
        unsigned goodPaths = 0;  // bit per path that delivered this frame with a good checksum
        bool sent = false;
    };
    static bool SameContent(const Frame& a, const Frame& b) noexcept;
    bool Due(const Pending& p, std::int64_t now) const noexcept;
    void Send(Pending& p);

    Decoder paths_;
    unsigned allPaths_;
    Output output_;
    std::deque<Pending> pending_;  // in order of end; sent ones kept a while to catch copies
    std::array<int, 2> good_{};
};

}  // namespace demod
