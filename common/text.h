// Text helpers shared by both programs: fields of separated records, character slices,
// the first word of an edit field, and the cleaning applied before anything leaves the station.
#pragma once

#include <cstddef>
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

// Received bytes (frames, records) made safe for one line of UTF-8 output: bytes 0x00-0x1F,
// 0x7F-0x9F and the backslash become \xNN (upper-case hex), 0xA0-0xFF their Latin-1 characters
// in UTF-8, everything else stays. With maxBytes > 0, at most that many received bytes are
// quoted and "..." marks the cut.
std::string EscapeReceived(std::string_view bytes, std::size_t maxBytes = 0);

// "host", "host:port", "[v6]:port", "[v6]" or a bare IPv6 literal ("::1", no port). The host
// comes back without brackets; port is 0 when none was given. False when a port is given but
// is not 1..65535, or the host is empty.
struct HostPort {
    std::string host;
    int port = 0;
};
bool SplitHostPort(std::string_view text, HostPort& out);

}  // namespace common
