// The probe's GPS fix sentence (GGA), read once into named fields. Each field keeps the text it
// was read from, as received, and says how it read: the displays show the texts, the checks and
// the chase figures use the values.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/geo.h"

namespace common {

enum class FieldState {
    Missing,     // no text (the sentence ends before it, or the field is empty)
    NotANumber,  // text that is no number at all
    OutOfRange,  // a number, but not one this field can hold
    Valid,
};

template <typename T>
struct Reading {
    FieldState state = FieldState::Missing;
    std::optional<T> value;  // only when Valid

    bool Valid() const { return state == FieldState::Valid; }
    bool operator==(const Reading&) const = default;
};

// A probe's GPS altitude beyond these is a corrupted fix, not a flight.
inline constexpr double kMinFixAltitudeM = -500;
inline constexpr double kMaxFixAltitudeM = 60000;

struct GgaSentence {
    // The fields as split at ",", as received: 1 the tag ($GPGGA), 2 time, 3 latitude, 4 N/S,
    // 5 longitude, 6 E/W, 7 fix quality, 8 satellites, 9 HDOP, 10 altitude, 11 its unit, then
    // the geoid separation and what a receiver adds. The last one runs to the end of the
    // sentence, a "*hh" checksum included.
    std::vector<std::string> fields;

    // Field n (from 1); empty beyond the last.
    const std::string& Field(std::size_t n) const;
    const std::string& Time() const { return Field(2); }
    const std::string& Latitude() const { return Field(3); }
    const std::string& LatHemisphere() const { return Field(4); }
    const std::string& Longitude() const { return Field(5); }
    const std::string& LonHemisphere() const { return Field(6); }
    const std::string& Quality() const { return Field(7); }
    const std::string& Satellites() const { return Field(8); }
    const std::string& Hdop() const { return Field(9); }
    const std::string& Altitude() const { return Field(10); }
    const std::string& AltitudeUnit() const { return Field(11); }
    const std::string& GeoidSeparation() const { return Field(12); }
    const std::string& GeoidUnit() const { return Field(13); }

    Reading<double> secondsOfDay;  // hhmmss[.sss]: hours, minutes and seconds in range
    // Degrees, south and west negative (no hemisphere letter counts as north or east; a letter
    // other than N/S or E/W is out of range); minutes of arc below 60, at most 90 and 180 degrees.
    Reading<double> latitudeDeg;
    Reading<double> longitudeDeg;
    Reading<int> satelliteCount;
    Reading<double> altitudeM;  // kMinFixAltitudeM..kMaxFixAltitudeM

    // Where the probe is, when both coordinates read.
    std::optional<LatLonDeg> Position() const;

    bool operator==(const GgaSentence&) const = default;
};

GgaSentence ReadGga(std::string_view sentence);

}  // namespace common
