// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR, LSB first.
// The probe's frame checksum; "123456789" gives 0xBB3D.
#pragma once

#include <cstdint>
#include <string_view>

namespace demod {

constexpr std::uint16_t Crc16ArcUpdate(std::uint16_t crc, std::uint8_t b) noexcept {
    for (int i = 0; i < 8; ++i) {
        crc = ((crc ^ b) & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                              : static_cast<std::uint16_t>(crc >> 1);
        b >>= 1;
    }
    return crc;
}

constexpr std::uint16_t Crc16Arc(std::string_view bytes, std::uint16_t crc = 0) noexcept {
    for (char c : bytes) crc = Crc16ArcUpdate(crc, static_cast<std::uint8_t>(c));
    return crc;
}

}  // namespace demod
