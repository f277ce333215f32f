// A relayed record, read once: CALL ";" LOCATOR ";" GGA sentence ";" data line, as the station
// uploads it and the collecting server passes it on (without its ending "#").
//
// The monitor's record displays read the sentence's fields the old way, counting ","-fields
// across the whole record, call sign and locator included, and never look at the hemisphere
// letters. A call sign with a comma in it shifts every field they read. Those texts are kept
// apart, as `counted`; everything else uses the sentence as read on its own.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/gga.h"

namespace common {

// The data line: 16 words, each right-aligned in a width of 5 and followed by ", ", then the
// station's date and time. Fields are counted from 1 at ",".
struct DataLine {
    std::string text;
    std::string Field(int n) const;

    Reading<double> batteryRaw;        // field 3: times 4 / 1000 is volts
    Reading<std::int64_t> insideRaw;   // field 14: low byte, signed half degrees Celsius
    Reading<std::int64_t> outsideRaw;  // field 15: the same
    Reading<double> pressureRaw;       // field 16: tenths of hPa

    bool operator==(const DataLine&) const = default;
};

// The sentence's fields as the record displays find them: ","-fields of the whole record.
struct CountedFields {
    std::string time;        // field 2
    std::string latitude;    // field 3
    std::string longitude;   // field 5
    std::string satellites;  // field 8
    std::string altitude;    // field 10

    bool operator==(const CountedFields&) const = default;
};

struct RelayedRecord {
    std::string text;      // the whole record
    std::string station;   // ";"-field 1: the receiving station's call sign
    std::string locator;   // ";"-field 2: its locator
    std::string sentence;  // ";"-field 3: the probe's GGA sentence, as the station decoded it
    GgaSentence gga;       // that sentence, read on its own
    DataLine data;         // ";"-field 4
    CountedFields counted;

    bool operator==(const RelayedRecord&) const = default;
};

RelayedRecord ReadRelayedRecord(std::string_view record);

}  // namespace common
