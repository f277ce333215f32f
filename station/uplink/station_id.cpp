#include "station/uplink/station_id.h"

#include <cstdint>
#include <cstdio>

namespace station {

bool StationIdCharAllowed(char32_t c) noexcept {
    return c >= 0x20 && c <= 0x7E && c != U';' && c != U'#';
}

bool IsMaidenheadLocator(std::string_view locator) noexcept {
    const std::size_t n = locator.size();
    if (n != 4 && n != 6 && n != 8 && n != 10) return false;
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(locator[i]);
        const int pair = static_cast<int>(i / 2);
        if (pair % 2 == 1) {
            if (c < '0' || c > '9') return false;
            continue;
        }
        const char last = pair == 0 ? 'R' : 'X';
        const char up = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : static_cast<char>(c);
        if (up < 'A' || up > last) return false;
    }
    return true;
}

std::string AfterFirstWord(std::string_view field) {
    std::size_t at = field.find_first_not_of(' ');
    if (at == std::string_view::npos) return {};
    at = field.find(' ', at);
    if (at == std::string_view::npos) return {};
    at = field.find_first_not_of(' ', at);
    return at == std::string_view::npos ? std::string() : std::string(field.substr(at));
}

namespace {

constexpr const char* kNotUtf8 = "bytes that are not UTF-8 text";

// Decodes one UTF-8 sequence at `at`; false on a malformed one (overlong forms, surrogates and
// values above U+10FFFF included).
bool NextChar(std::string_view s, std::size_t& at, char32_t& c) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    const std::uint8_t b0 = byte(at);
    int extra = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        c = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        c = b0 & 0x1F, extra = 1, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        c = b0 & 0x0F, extra = 2, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        c = b0 & 0x07, extra = 3, min = 0x10000;
    } else {
        return false;
    }
    if (at + static_cast<std::size_t>(extra) >= s.size()) return false;
    for (int i = 1; i <= extra; ++i) {
        const std::uint8_t b = byte(at + static_cast<std::size_t>(i));
        if ((b & 0xC0) != 0x80) return false;
        c = (c << 6) | (b & 0x3F);
    }
    if (extra > 0 && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) return false;
    at += static_cast<std::size_t>(extra) + 1;
    return true;
}

std::string Describe(char32_t c) {
    char buf[48];
    if (c == U';' || c == U'#')
        std::snprintf(buf, sizeof buf, "'%c'", static_cast<char>(c));
    else if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        std::snprintf(buf, sizeof buf, "a control character (0x%02X)", static_cast<unsigned>(c));
    else
        std::snprintf(buf, sizeof buf, "U+%04X (not ASCII)", static_cast<unsigned>(c));
    return buf;
}

}  // namespace

bool CheckStationId(std::string_view utf8, std::string& latin1, std::string& problem) {
    latin1.clear();
    std::size_t at = 0;
    while (at < utf8.size()) {
        char32_t c = 0;
        if (!NextChar(utf8, at, c)) {
            problem = kNotUtf8;
            return false;
        }
        if (!StationIdCharAllowed(c)) {
            problem = Describe(c);
            return false;
        }
        latin1 += static_cast<char>(static_cast<unsigned char>(c));
    }
    return true;
}

std::string RefusalReason(const std::string& problem) {
    return problem == kNotUtf8 ? std::string() : ": it would break the records at the server";
}

std::string UpperLatin1(std::string_view latin1) {
    std::string out(latin1);
    for (char& ch : out) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
            ch = static_cast<char>(c - 0x20);
    }
    return out;
}

}  // namespace station
