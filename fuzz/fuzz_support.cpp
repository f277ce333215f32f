#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstring>

namespace fuzz {

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

Chunker::Chunker(std::string_view seedText, std::size_t limit) : limit_(limit) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : seedText) h = (h ^ c) * 1099511628211ull;
    state_ = h | 1;
}

std::size_t Chunker::Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return 1 + state_ % limit_;
}

bool ValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        int extra;
        std::uint32_t cp;
        if (c < 0x80) {
            ++p;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra) return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        p += extra + 1;
    }
    return true;
}

const char* LineFault(std::string_view line, const char* const* names, std::size_t fields,
                      bool endsWithLf) {
    if (endsWithLf) {
        if (line.empty() || line.back() != '\n') return "the line does not end with LF";
        line.remove_suffix(1);
    }
    if (!ValidUtf8(line)) return "the line is not valid UTF-8";
    std::size_t field = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        const auto c = i < line.size() ? static_cast<unsigned char>(line[i]) : '\t';
        if (c == '\t') {
            if (field >= fields) return "more fields than the line type has";
            const std::string_view f = line.substr(start, i - start);
            const std::size_t n = std::strlen(names[field]);
            if (f.size() <= n || f.substr(0, n) != names[field] || f[n] != '=')
                return "a field is missing or out of order";
            ++field;
            start = i + 1;
            continue;
        }
        if (c < 0x20 || c == 0x7F) return "a control character in the line";
        // C1 controls U+0080..U+009F are C2 80..C2 9F in UTF-8.
        if (c == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) < 0xA0)
            return "a C1 control character in the line";
    }
    if (field != fields) return "fewer fields than the line type has";
    return nullptr;
}

}  // namespace fuzz
