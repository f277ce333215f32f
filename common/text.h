// Text helpers shared by both programs: fields of separated records, character slices,
// the first word of an edit field, and the cleaning applied before anything leaves the station.
#pragma once

#include <string>
#include <string_view>

namespace common {

// Field n (1-based) of `text` split at `sep`. With fewer than n-1 separators, or n < 1,
// the field is empty. The end of the text ends the last field.
std::string ExtractField(std::string_view text, int n, char sep);

// Characters a..b (1-based, inclusive); b is clipped to the length, a beyond the length
// gives an empty text.
std::string CharSlice(std::string_view text, int a, int b);

// The first run of non-blank characters, at most 255 of them; empty if there is none.
std::string FirstWord(std::string_view text);

// Drops every byte whose code is outside 26..126 (control characters, CR LF, 8-bit bytes).
std::string CleanText(std::string_view text);

// The text without leading and trailing blanks and tabs.
std::string_view Trim(std::string_view text);

}  // namespace common
