// The probe's frame as bytes and as asynchronous bits: five sync bytes, a GGA fix sentence ending
// in "*hh", 16 big-endian data words, and a big-endian CRC-16/ARC over everything after the sync.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace probegen {

inline constexpr std::array<std::uint8_t, 5> kSyncBytes = {0xD3, 0x3D, 0x83, 0x71, 0xEB};
inline constexpr int kDataWords = 16;
using Words = std::array<std::uint16_t, kDataWords>;

// One GPS fix as the probe reports it. Southern and western positions are written with their
// hemisphere letters; the station ignores those letters.
struct Fix {
    int secondsOfDay = 0;  // UTC, 0..86399 (taken modulo a day)
    double latitudeDeg = 0;
    double longitudeDeg = 0;
    int quality = 1;  // 0 no fix, 1 GPS fix
    int satellites = 0;
    double hdop = 1.0;
    double altitudeM = 0;
    double geoidSeparationM = 47.0;
};

// The NMEA checksum of a sentence body (the text between "$" and "*"): XOR of its bytes, as
// two upper-case hex digits.
std::string NmeaChecksum(std::string_view body);

// "$GPGGA,hhmmss.00,ddmm.mmmm,N,dddmm.mmmm,E,q,ss,h.h,a.a,M,g.g,M,,*hh". Locale-independent.
std::string GgaSentence(const Fix& fix);

// Sync bytes, the sentence (which must end in "*" and two characters and hold no other "*"),
// the words high byte first, then the CRC high byte first.
std::vector<std::uint8_t> BuildFrame(std::string_view sentence, const Words& words);

// The bits of asynchronous bytes as sent: per byte a start bit 0, eight data bits least
// significant first, a stop bit 1.
void AppendByteBits(std::uint8_t byte, std::vector<std::uint8_t>& bits);
std::vector<std::uint8_t> BytesToBits(const std::vector<std::uint8_t>& bytes);

}  // namespace probegen
