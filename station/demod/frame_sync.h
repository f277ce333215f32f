// Frame synchroniser: asynchronous bytes from the demodulator's bits, then the probe frame
// (five sync bytes, GPS sentence up to "*" and two characters, 32 data bytes, CRC-16/ARC).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "station/demod/fsk_demodulator.h"

namespace demod {

// One completed frame as the telemetry decoder receives it.
struct Frame {
    std::string gps;                        // sentence including "*" and its two digits
    std::array<std::uint16_t, 16> words{};  // big-endian words from data bytes 1..32
    std::uint16_t received = 0;             // checksum carried by the frame
    std::uint16_t computed = 0;             // CRC-16/ARC over everything after the sync
    bool checksumOk = false;
    int repairedBits = 0;  // bits flipped to make the checksum match; 0: as received
};

// A frame's bytes after the sync (sentence, data, checksum) and how sure the demodulator was of
// each of their data bits (larger: surer; bit k of a byte at [k]), for repairing the frame.
struct SoftFrame {
    static constexpr std::size_t kMaxBytes = 255 + 3 + 34;  // longest sentence, data, checksum
    std::array<std::uint8_t, kMaxBytes> bytes{};
    std::array<std::array<float, 8>, kMaxBytes> reliability{};
    std::size_t size = 0;
};

// Colour values of the checksum label, as 0xBBGGRR.
inline constexpr std::uint32_t kLabel3Green = 0x008000;
inline constexpr std::uint32_t kLabel3Red = 0x0000FF;

// "12AB    12AB": received first, four blanks, computed.
std::string Label3Text(std::uint16_t received, std::uint16_t computed);

class FrameSync final : public BitSink {
  public:
    // A frame whose "*" was lost would otherwise swallow the stream into its sentence for
    // ever; a GGA sentence is far shorter, so past this many characters the frame is abandoned.
    static constexpr std::size_t kMaxSentence = 255;
    static constexpr std::uint8_t kSync[5] = {0xD3, 0x3D, 0x83, 0x71, 0xEB};

    // Called for every completed frame, good or bad, inside the bit that completed it.
    // It must not throw.
    using FrameHandler = std::function<void(const Frame&)>;

    explicit FrameSync(FrameHandler handler = {});
    void SetHandler(FrameHandler handler) { handler_ = std::move(handler); }

    void OnBit(
        int bit) noexcept override;  // byte assembly: start bit, 8 data bits LSB first, stop bit
    void OnByte(std::uint8_t b) noexcept;  // frame machine, one completed byte
    // The same with each data bit's reliability, kept for the frame; Soft() holds the frame's
    // bytes while the handler runs.
    void OnByte(std::uint8_t b, const std::array<float, 8>& reliability) noexcept;
    const SoftFrame& Soft() const noexcept { return soft_; }

    int BitState() const noexcept { return bitState_; }
    int FrameState() const noexcept { return frameState_; }

  private:
    FrameHandler handler_;
    int bitState_ = 0;
    std::uint8_t shift_ = 0;
    int frameState_ = 0;
    std::uint16_t crc_ = 0;
    int dataIndex_ = 1;  // 1-based, as the data bytes are numbered
    std::array<std::uint8_t, 35> data_{};
    Frame frame_;
    SoftFrame soft_;
};

}  // namespace demod
