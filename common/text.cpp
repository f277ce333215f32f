#include "common/text.h"

#include <algorithm>

namespace common {

std::string ExtractField(std::string_view text, int n, char sep) {
    if (n < 1) return {};
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        const std::size_t pos = text.find(sep, start);
        if (pos == std::string_view::npos) return {};
        start = pos + 1;
    }
    const std::size_t end = text.find(sep, start);
    return std::string(
        text.substr(start, end == std::string_view::npos ? text.size() - start : end - start));
}

std::string CharSlice(std::string_view text, int a, int b) {
    if (a < 1) a = 1;
    const int len = static_cast<int>(text.size());
    if (a > len || b < a) return {};
    b = std::min(b, len);
    return std::string(
        text.substr(static_cast<std::size_t>(a - 1), static_cast<std::size_t>(b - a + 1)));
}

namespace {
constexpr std::size_t kMaxWord = 255;
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
}  // namespace

std::string FirstWord(std::string_view text) {
    const auto begin = std::find_if_not(text.begin(), text.end(), IsBlank);
    const auto end = std::find_if(begin, text.end(), IsBlank);
    const auto len = std::min<std::size_t>(static_cast<std::size_t>(end - begin), kMaxWord);
    return std::string(begin, begin + static_cast<std::ptrdiff_t>(len));
}

std::string CleanText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= 26 && code <= 126) out.push_back(c);
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace common
