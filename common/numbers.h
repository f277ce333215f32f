// Numbers as text with "." as the decimal separator, whatever the process locale
// (Qt sets the C library's locale from the environment, so printf/strtod are not safe).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace common {

// A finite decimal number, optionally signed, with optional fraction and exponent.
// Blanks around it are accepted; anything else (empty, "1,5", "nan", "12abc") is not.
std::optional<double> ParseDouble(std::string_view text);

// A decimal integer, optionally signed, blanks around it accepted.
std::optional<std::int64_t> ParseInt(std::string_view text);

// Fixed-point text: the value is first rounded to `precision` significant digits, then
// written with exactly `decimals` decimals (12.34, precision 3, decimals 2 -> "12.30").
// A value that rounds to zero is written without a minus sign.
std::string FormatFixed(double value, int precision, int decimals);

// Whole degrees Celsius from a probe's temperature value: its low byte is a signed count of
// half degrees, halved toward zero (-1 -> 0, -3 -> -1); the rest of the value is not part of it.
int HalfDegreesToCelsius(std::int64_t raw);

// The message for a received field that should be a number and is not. The field is quoted
// escaped and cut to its first 40 bytes, since it may hold any byte.
std::string NotANumberText(std::string_view what, std::string_view received);
inline constexpr std::size_t kQuotedReceivedBytes = 40;

}  // namespace common
