#include "station/demod/frame_repair.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/gga.h"
#include "station/demod/crc16.h"

namespace demod {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits with at most one ".", a leading sign where `signedOk`; empty passes.
bool Number(std::string_view f, bool signedOk) {
    if (signedOk && !f.empty() && f[0] == '-') f.remove_prefix(1);
    int dots = 0;
    for (char c : f) {
        if (c == '.') {
            ++dots;
        } else if (!IsDigit(c)) {
            return false;
        }
    }
    return dots <= 1 && f != ".";
}

bool OneOf(std::string_view f, std::string_view letters) {
    return f.empty() || (f.size() == 1 && letters.find(f[0]) != std::string_view::npos);
}

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr int kDay = 24 * 3600;
// More fields than a GGA sentence and a receiver's additions can have: not a fix.
constexpr std::size_t kMaxGgaFields = 20;

}  // namespace

bool GpsSentenceSound(std::string_view s) {
    const std::size_t star = s.find('*');
    if (s.size() < 4 || s[0] != '$' || star != s.size() - 3) return false;
    const int hi = HexValue(s[star + 1]), lo = HexValue(s[star + 2]);
    if (hi < 0 || lo < 0) return false;
    unsigned sum = 0;
    for (std::size_t i = 1; i < star; ++i) {
        if (s[i] < 0x20 || s[i] > 0x7E) return false;
        sum ^= static_cast<unsigned char>(s[i]);
    }
    if (sum != static_cast<unsigned>(hi * 16 + lo)) return false;

    const common::GgaSentence g = common::ReadGga(s.substr(0, star));
    const std::size_t count = g.fields.size();
    if (count < 10 || count > kMaxGgaFields) return false;
    const std::string& tag = g.Field(1);
    for (std::size_t i = 1; i < tag.size(); ++i)
        if (!IsDigit(tag[i]) && (tag[i] < 'A' || tag[i] > 'Z')) return false;
    if (!g.Time().empty() && !common::StrictWholeSecondsOfDay(g.Time())) return false;
    auto digits = [](std::string_view v) { return std::all_of(v.begin(), v.end(), IsDigit); };
    bool ok = Number(g.Latitude(), false) && OneOf(g.LatHemisphere(), "NS") &&
              Number(g.Longitude(), false) && OneOf(g.LonHemisphere(), "EW") &&
              digits(g.Quality()) && digits(g.Satellites()) && Number(g.Hdop(), false) &&
              Number(g.Altitude(), true) && OneOf(g.AltitudeUnit(), "M") &&
              Number(g.GeoidSeparation(), true) && OneOf(g.GeoidUnit(), "M");
    // What a receiver adds after the geoid separation (age and station of a correction).
    for (std::size_t n = 14; n <= count; ++n) ok = ok && Number(g.Field(n), false);
    return ok;
}

std::optional<int> GpsSecondsOfDay(std::string_view s) {
    const common::GgaSentence g = common::ReadGga(s.substr(0, s.find('*')));
    if (g.Time().empty()) return std::nullopt;
    return common::StrictWholeSecondsOfDay(g.Time());
}

void FrameRepair::NoteGood(const Frame& frame, std::int64_t endSample) {
    if (auto t = GpsSecondsOfDay(frame.gps)) {
        lastGoodTime_ = t;
        lastGoodEnd_ = endSample;
    }
}

std::optional<Frame> FrameRepair::Repair(const Frame& bad, const SoftFrame& soft,
                                         std::int64_t endSample) const {
    const std::size_t n = soft.size;
    constexpr std::size_t kChecksumBytes = 2, kDataBytes = 32;
    if (bad.checksumOk || n != bad.gps.size() + kDataBytes + kChecksumBytes) return std::nullopt;
    ++attempts_;

    // The weakest bits, weakest first.
    struct Bit {
        float reliability;
        std::uint16_t byte;
        std::uint8_t bit;
    };
    std::array<Bit, kWeakBits> weak{};
    int found = 0;
    for (std::size_t i = 0; i < n; ++i)
        for (int k = 0; k < 8; ++k) {
            const Bit b{soft.reliability[i][static_cast<std::size_t>(k)],
                        static_cast<std::uint16_t>(i), static_cast<std::uint8_t>(k)};
            if (found == kWeakBits && b.reliability >= weak[kWeakBits - 1].reliability) continue;
            int at = found < kWeakBits ? found++ : kWeakBits - 1;
            for (; at > 0 && weak[at - 1].reliability > b.reliability; --at)
                weak[at] = weak[at - 1];
            weak[at] = b;
        }

    // CRC-16/ARC is linear with no initial value or final XOR: flipping a bit of the covered
    // bytes changes the computed checksum by the CRC of that bit alone with the bytes after it
    // zero; flipping a bit of the carried checksum changes the received value by that bit. A
    // set of flips repairs the frame when its changes add up to the mismatch.
    const std::size_t covered = n - kChecksumBytes;
    std::array<std::uint16_t, kWeakBits> change{};
    for (int w = 0; w < found; ++w) {
        const Bit& b = weak[w];
        if (b.byte >= covered) {
            change[w] = static_cast<std::uint16_t>((1u << b.bit) << (b.byte == covered ? 8 : 0));
            continue;
        }
        std::uint16_t crc = Crc16ArcUpdate(0, static_cast<std::uint8_t>(1u << b.bit));
        for (std::size_t i = b.byte + 1; i < covered; ++i) crc = Crc16ArcUpdate(crc, 0);
        change[w] = crc;
    }
    const auto received =
        static_cast<std::uint16_t>(soft.bytes[covered] << 8 | soft.bytes[covered + 1]);
    const std::uint16_t mismatch = bad.computed ^ received;

    int matches = 0;
    std::pair<int, int> flips{-1, -1};
    for (int a = 0; a < found; ++a) {
        if (change[a] == mismatch) {
            ++matches;
            flips = {a, -1};
        }
    }
    const int pairBits = std::min(found, kPairBits);
    for (int a = 0; a < pairBits; ++a)
        for (int b = a + 1; b < pairBits; ++b)
            if ((change[a] ^ change[b]) == mismatch) {
                ++matches;
                flips = {a, b};
            }
    if (matches != 1) return std::nullopt;

    SoftFrame fixed = soft;
    for (int w : {flips.first, flips.second})
        if (w >= 0) fixed.bytes[weak[w].byte] ^= static_cast<std::uint8_t>(1u << weak[w].bit);
    Frame f;
    const std::size_t sentence = n - kDataBytes - kChecksumBytes;
    f.gps.assign(fixed.bytes.begin(), fixed.bytes.begin() + static_cast<std::ptrdiff_t>(sentence));
    if (!GpsSentenceSound(f.gps)) return std::nullopt;
    for (std::size_t k = 0; k < 16; ++k)
        f.words[k] = static_cast<std::uint16_t>(fixed.bytes[sentence + 2 * k] << 8 |
                                                fixed.bytes[sentence + 2 * k + 1]);
    f.received = static_cast<std::uint16_t>(fixed.bytes[covered] << 8 | fixed.bytes[covered + 1]);
    f.computed =
        Crc16Arc(std::string_view(reinterpret_cast<const char*>(fixed.bytes.data()), covered));
    if (f.computed != f.received) return std::nullopt;  // cannot happen: the sums say it matches
    f.checksumOk = true;
    f.repairedBits = flips.second >= 0 ? 2 : 1;

    // GPS time has moved on by about the audio time since the last good frame.
    if (lastGoodTime_ && endSample - lastGoodEnd_ <= kRecentSamples) {
        const auto t = GpsSecondsOfDay(f.gps);
        if (!t) return std::nullopt;
        const int moved = ((*t - *lastGoodTime_) % kDay + kDay) % kDay;
        const auto elapsed = static_cast<int>((endSample - lastGoodEnd_) / kSampleRate);
        if (moved == 0 || moved > elapsed + kTimeSlackS) return std::nullopt;
    }
    return f;
}

}  // namespace demod
