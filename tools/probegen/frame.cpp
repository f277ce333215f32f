#include "tools/probegen/frame.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "station/demod/crc16.h"

namespace probegen {
namespace {

// Non-negative value as text with `decimals` decimals, rounded; snprintf("%f") would follow the
// process locale, integers do not.
std::string Fixed(double value, int decimals) {
    long long scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    const bool negative = value < 0;
    const long long scaled = std::llround(std::fabs(value) * static_cast<double>(scale));
    std::string text = std::to_string(scaled / scale);
    if (decimals > 0) {
        std::string fraction = std::to_string(scaled % scale);
        text += '.' + std::string(decimals - fraction.size(), '0') + fraction;
    }
    return negative && scaled != 0 ? '-' + text : text;
}

// |degrees| as degrees and minutes with four decimals of minutes, degrees `degreeDigits` wide.
std::string DegreesMinutes(double degrees, int degreeDigits) {
    const long long tenThousandthsOfMinutes = std::llround(std::fabs(degrees) * 60.0 * 10000.0);
    const long long wholeDegrees = tenThousandthsOfMinutes / 600000;
    const long long rest = tenThousandthsOfMinutes % 600000;
    char text[32];
    std::snprintf(text, sizeof text, "%0*lld%02lld.%04lld", degreeDigits, wholeDegrees,
                  rest / 10000, rest % 10000);
    return text;
}

}  // namespace

std::string NmeaChecksum(std::string_view body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char text[3];
    std::snprintf(text, sizeof text, "%02X", sum & 0xFF);
    return text;
}

std::string GgaSentence(const Fix& fix) {
    const int seconds = ((fix.secondsOfDay % 86400) + 86400) % 86400;
    char time[16];
    std::snprintf(time, sizeof time, "%02d%02d%02d.00", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    char sats[8];
    std::snprintf(sats, sizeof sats, "%02d", fix.satellites);
    std::string body = "GPGGA,";
    body += time;
    body += ',' + DegreesMinutes(fix.latitudeDeg, 2) + (fix.latitudeDeg < 0 ? ",S," : ",N,");
    body += DegreesMinutes(fix.longitudeDeg, 3) + (fix.longitudeDeg < 0 ? ",W," : ",E,");
    body += std::to_string(fix.quality) + ',' + sats + ',' + Fixed(fix.hdop, 1) + ',';
    body += Fixed(fix.altitudeM, 1) + ",M," + Fixed(fix.geoidSeparationM, 1) + ",M,,";
    return '$' + body + '*' + NmeaChecksum(body);
}

std::vector<std::uint8_t> BuildFrame(std::string_view sentence, const Words& words) {
    const auto star = sentence.find('*');
    if (star == std::string_view::npos || star + 3 != sentence.size())
        throw std::invalid_argument("GPS sentence must end in '*' and two checksum characters");
    std::vector<std::uint8_t> frame(kSyncBytes.begin(), kSyncBytes.end());
    frame.reserve(kSyncBytes.size() + sentence.size() + 2 * kDataWords + 2);
    for (char c : sentence) frame.push_back(static_cast<std::uint8_t>(c));
    for (std::uint16_t w : words) {
        frame.push_back(static_cast<std::uint8_t>(w >> 8));
        frame.push_back(static_cast<std::uint8_t>(w & 0xFF));
    }
    std::uint16_t crc = 0;
    for (std::size_t i = kSyncBytes.size(); i < frame.size(); ++i)
        crc = demod::Crc16ArcUpdate(crc, frame[i]);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return frame;
}

void AppendByteBits(std::uint8_t byte, std::vector<std::uint8_t>& bits) {
    bits.push_back(0);
    for (int i = 0; i < 8; ++i) bits.push_back((byte >> i) & 1);
    bits.push_back(1);
}

std::vector<std::uint8_t> BytesToBits(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> bits;
    bits.reserve(bytes.size() * 10);
    for (std::uint8_t b : bytes) AppendByteBits(b, bits);
    return bits;
}

}  // namespace probegen
