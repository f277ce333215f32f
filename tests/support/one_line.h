// Checks for text meant as one line of output: valid UTF-8, no control characters.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace test_support {

// True when `text` is valid UTF-8 (shortest forms, no surrogates) and holds no C0 or C1 control
// character and no DEL.
inline bool IsCleanUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) return false;
        if (b < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        char32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(extra) >= text.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x80 && cp <= 0x9F) return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

// The tab-separated fields of one output line, each checked with IsCleanUtf8; empty when the
// line holds anything else (a control character, a line end, broken UTF-8).
inline std::vector<std::string_view> CleanFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        const std::string_view field = line.substr(
            start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (!IsCleanUtf8(field)) return {};
        fields.push_back(field);
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

}  // namespace test_support
