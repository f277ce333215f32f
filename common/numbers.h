// Numbers as text with "." as the decimal separator, whatever the process locale
// (Qt sets the C library's locale from the environment, so printf/strtod are not safe).
#pragma once

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

}  // namespace common
