// Call sign and locator enter the station from the fields, the command line and tavrin.ini and
// leave it in every login line and upload text: ';' and '#' would end fields and records at the
// server, and the server drops a record holding any byte outside 26..126, so a control
// character or a letter beyond ASCII would cost every record the station sends.
#pragma once

#include <string>
#include <string_view>

namespace station {

// True for a character a call sign or locator may hold: printable ASCII (blank to '~')
// without ';' and '#'.
bool StationIdCharAllowed(char32_t c) noexcept;

// Checks UTF-8 text (as typed on a command line or stored in tavrin.ini). True with `latin1`
// holding the text as bytes (ASCII, so one per character); false with `problem` naming the
// first refused character (or saying the text is not UTF-8).
bool CheckStationId(std::string_view utf8, std::string& latin1, std::string& problem);

// Why a refused character may not pass, for messages; empty when the text was not UTF-8.
std::string RefusalReason(const std::string& problem);

// Latin-1 text in upper case, the way the fields force it. Letters whose capital lies outside
// Latin-1 (0xB5, 0xDF, 0xFF) stay as they are.
std::string UpperLatin1(std::string_view latin1);

// A Maidenhead locator of 4, 6, 8 or 10 characters: field letters A-R, square digits, then
// letters A-X, digits, letters A-X; lower case letters count as upper case.
bool IsMaidenheadLocator(std::string_view locator) noexcept;
// What a locator must look like, for messages.
inline constexpr const char* kLocatorForm =
    "a Maidenhead locator has 4, 6, 8 or 10 characters: two letters A-R, two digits, then "
    "two letters A-X, two digits, two letters A-X (as JN49 or JN49EA)";

// The text after the first blank-delimited word, which is not uploaded; empty when none.
std::string AfterFirstWord(std::string_view field);

}  // namespace station
