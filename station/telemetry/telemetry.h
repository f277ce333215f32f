// Decoding of one probe frame into what the station shows, logs and uploads.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "station/demod/frame_sync.h"

namespace station {

// The label texts of one frame, each exactly as the window shows it (UTF-8).
struct TelemetryDisplay {
    std::string vbatlb, vitemplb, vatemplb, vhumlb, vpresslb;
    std::string timelb, breitelb, laengelb, maidenlb, hoehelb, satlb;
    std::string gps;       // the sentence, cleaned (codes 26..126 only)
    std::string dataLine;  // 16 words in width 5 each followed by ", ", then the date-time; cleaned
};

inline constexpr const char* kUnknownLocator = "unbekannt";

// Whole degrees Celsius from a temperature word: its low byte is a signed count of half degrees.
int TemperatureC(std::uint16_t word);

// The 16 words, each right-aligned in a width of 5 (never cut) and followed by ", ".
std::string DataWords(const std::array<std::uint16_t, 16>& words);

// "yyyy-MM-dd hh:mm:ss" in local time, whatever the locale.
std::string LocalDateTimeText(std::chrono::system_clock::time_point t);
int SecondsSinceLocalMidnight(std::chrono::system_clock::time_point t);

TelemetryDisplay DecodeTelemetry(const demod::Frame& frame, std::string_view dateTime);

// What goes on the wire to the collecting server, unchanged and without terminator.
std::string LoginLine(std::string_view callField, std::string_view locatorField);
std::string UploadText(std::string_view callField, std::string_view locatorField,
                       const TelemetryDisplay& display);

}  // namespace station
