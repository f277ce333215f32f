// Arbitrary bytes into the frame synchroniser, every completed frame through telemetry decoding
// and the upload text. Besides what the sanitizers catch: each frame is well formed (see
// frame_checks.h), and a copy of the synchroniser taken half-way continues exactly as the
// original does, so no state lives outside the object.
#include <cstddef>
#include <cstdint>

#include "fuzz/frame_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Frames frames;
    demod::FrameSync sync([&frames](const demod::Frame& f) { frames.push_back(f); });
    const std::size_t half = size / 2;
    for (std::size_t i = 0; i < half; ++i) sync.OnByte(data[i]);

    fuzz::Frames copied;
    demod::FrameSync copy = sync;
    copy.SetHandler([&copied](const demod::Frame& f) { copied.push_back(f); });
    const std::size_t before = frames.size();
    for (std::size_t i = half; i < size; ++i) {
        sync.OnByte(data[i]);
        copy.OnByte(data[i]);
    }
    fuzz::Check(fuzz::SameFrames(
                    fuzz::Frames(frames.begin() + static_cast<long>(before), frames.end()), copied),
                "a copy of the synchroniser went its own way");
    for (const auto& f : frames) fuzz::DecodeAndCheck(f);
    return 0;
}
