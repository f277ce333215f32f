// Call sign and locator enter the station from the fields, the command line and tavrin.ini and
// leave it in every login line and upload text: ';' and '#' would end fields and records at the
// server, control characters would break the monitors' lines, and the wire carries Latin-1.
#pragma once

#include <string>
#include <string_view>

namespace station {

// True for a character a call sign or locator may hold: Latin-1 without ';', '#' and the
// control characters 0x00-0x1F and 0x7F-0x9F.
bool StationIdCharAllowed(char32_t c) noexcept;

// Checks UTF-8 text (as typed on a command line or stored in tavrin.ini). True with `latin1`
// holding the text as Latin-1 bytes; false with `problem` naming the first refused character
// (or saying the text is not UTF-8).
bool CheckStationId(std::string_view utf8, std::string& latin1, std::string& problem);

// Why a refused character may not pass, for messages; empty when the text was not UTF-8.
std::string RefusalReason(const std::string& problem);

// Latin-1 text in upper case, the way the fields force it. Letters whose capital lies outside
// Latin-1 (0xB5, 0xDF, 0xFF) stay as they are.
std::string UpperLatin1(std::string_view latin1);

}  // namespace station
