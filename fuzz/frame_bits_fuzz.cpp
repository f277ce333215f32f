// Bits into the frame synchroniser. The first input byte chooses how the rest becomes bits:
// even, every byte gives eight raw bits (noise as the demodulator would decide it); odd, every
// byte is sent as an asynchronous character (start bit, eight data bits, stop bit) with
// input-derived idle bits between, and the synchroniser must then find exactly the frames it
// finds when fed the same bytes directly.
#include <cstddef>
#include <cstdint>

#include "fuzz/frame_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool framed = data[0] & 1;
    ++data;
    --size;

    fuzz::Frames fromBits;
    demod::FrameSync bits([&fromBits](const demod::Frame& f) { fromBits.push_back(f); });
    if (!framed) {
        for (std::size_t i = 0; i < size; ++i)
            for (int b = 0; b < 8; ++b) bits.OnBit((data[i] >> b) & 1);
        for (const auto& f : fromBits) fuzz::DecodeAndCheck(f);
        return 0;
    }

    fuzz::Frames fromBytes;
    demod::FrameSync bytes([&fromBytes](const demod::Frame& f) { fromBytes.push_back(f); });
    fuzz::Chunker idle(std::string_view(reinterpret_cast<const char*>(data), size), 4);
    for (std::size_t i = 0; i < size; ++i) {
        bytes.OnByte(data[i]);
        bits.OnBit(0);
        for (int b = 0; b < 8; ++b) bits.OnBit((data[i] >> b) & 1);
        bits.OnBit(1);
        // The idle line between characters is mark (1), for none to a few bit times.
        for (std::size_t n = idle.Next() % 3; n > 0; --n) bits.OnBit(1);
    }
    fuzz::Check(fuzz::SameFrames(fromBits, fromBytes), "bits and bytes gave different frames");
    for (const auto& f : fromBits) fuzz::DecodeAndCheck(f);
    return 0;
}
