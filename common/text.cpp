#include "common/text.h"

#include <algorithm>
#include <charconv>

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

std::string EscapeReceived(std::string_view bytes, std::size_t maxBytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const bool cut = maxBytes > 0 && bytes.size() > maxBytes;
    if (cut) bytes = bytes.substr(0, maxBytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || (b >= 0x7F && b <= 0x9F) || b == '\\') {
            out += "\\x";
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0x0F]);
        } else if (b >= 0xA0) {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        } else {
            out.push_back(c);
        }
    }
    if (cut) out += "...";
    return out;
}

namespace {
bool ParsePort(std::string_view text, int& port) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}
}  // namespace

bool SplitHostPort(std::string_view text, HostPort& out) {
    text = Trim(text);
    out = {};
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        out.host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !ParsePort(rest.substr(1), out.port)))
            return false;
        return !out.host.empty();
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
        if (!ParsePort(text.substr(colon + 1), out.port)) return false;
        text = text.substr(0, colon);
    }
    // Two or more colons without brackets: a bare IPv6 literal, which carries no port.
    out.host = std::string(text);
    return !out.host.empty();
}

}  // namespace common
