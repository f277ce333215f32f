// Helpers shared by the demodulator tests: a sink that records bits with their sample position,
// and asynchronous byte assembly (start bit 0, eight bits LSB first, stop bit 1) over them.
#pragma once

#include <cstdint>
#include <vector>

#include "station/demod/fsk_demodulator.h"

namespace demod_test {

struct RecordingSink : demod::BitSink {
    std::vector<std::uint8_t> bits;
    void OnBit(int bit) noexcept override { bits.push_back(static_cast<std::uint8_t>(bit)); }
};

// Feeds the samples in capture-sized blocks (1500 samples; the last one shorter).
inline void Feed(demod::FskDemodulator& d, const std::vector<std::int16_t>& samples,
                 int blockSamples = 1500) {
    for (std::size_t at = 0; at < samples.size(); at += static_cast<std::size_t>(blockSamples)) {
        const std::size_t n = std::min(samples.size() - at, static_cast<std::size_t>(blockSamples));
        int bytes = static_cast<int>(n * 2);
        d.ProcessBuffer(samples.data() + at, bytes);
    }
}

// Bytes framed by a 0 start bit and a 1 stop bit; a byte whose stop bit is 0 is dropped and the
// search for a start bit goes on after it, as a receiver would do.
inline std::vector<std::uint8_t> AssembleBytes(const std::vector<std::uint8_t>& bits) {
    std::vector<std::uint8_t> bytes;
    int state = 0;
    unsigned shift = 0;
    for (std::uint8_t bit : bits) {
        if (state == 0) {
            if (bit == 0) {
                shift = 0;
                state = 1;
            }
        } else if (state <= 8) {
            shift = (shift >> 1) | (bit ? 0x80u : 0u);
            ++state;
        } else {
            if (bit == 1) bytes.push_back(static_cast<std::uint8_t>(shift));
            state = 0;
        }
    }
    return bytes;
}

inline std::vector<std::uint8_t> Demodulate(const std::vector<std::int16_t>& samples,
                                            bool markIsHigh = true) {
    demod::FskDemodulator d;
    d.SetMarkIsHigh(markIsHigh);
    RecordingSink sink;
    d.SetBitSink(&sink);
    Feed(d, samples);
    return sink.bits;
}

}  // namespace demod_test
