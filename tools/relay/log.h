// The relay's log: one line per call on standard error, stamped with the UTC time.
#pragma once

#include <chrono>
#include <string>

namespace relay {

// "2024-07-27T12:34:56.789Z": ISO 8601, UTC, milliseconds.
std::string UtcStamp(std::chrono::system_clock::time_point time);

// Writes "<UtcStamp> relay: <text>\n" in one piece, so lines never interleave.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace relay
