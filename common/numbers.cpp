#include "common/numbers.h"

#include <charconv>
#include <cmath>

#include "common/text.h"

namespace common {

std::optional<double> ParseDouble(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    // from_chars would also take "inf", "nan" and hex; a telemetry field is never one of those.
    for (char c : text) {
        const bool ok =
            (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
        if (!ok) return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> ParseInt(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string FormatFixed(double value, int precision, int decimals) {
    if (!std::isfinite(value)) return "0";
    if (precision < 1) precision = 1;
    if (decimals < 0) decimals = 0;
    char buf[400];
    // Round to the significant digits first, through the decimal text, so the result is
    // the one a reader of the scientific form would expect.
    auto [sciEnd, ec1] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
    double rounded = value;
    if (ec1 == std::errc()) std::from_chars(buf, sciEnd, rounded);
    if (rounded == 0) rounded = 0;  // no "-0.0"
    auto [end, ec2] =
        std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, decimals);
    if (ec2 != std::errc()) return "0";
    std::string out(buf, end);
    if (out.front() == '-' && out.find_first_not_of("-0.") == std::string::npos) out.erase(0, 1);
    return out;
}

int HalfDegreesToCelsius(std::int64_t raw) {
    return static_cast<std::int8_t>(static_cast<std::uint8_t>(raw & 0xFF)) / 2;
}

std::string NotANumberText(std::string_view what, std::string_view received) {
    return std::string(what) + " \"" + EscapeReceived(received, kQuotedReceivedBytes) +
           "\" is not a valid number";
}

}  // namespace common
