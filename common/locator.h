// Maidenhead locators: the station computes one from a fix, the monitor turns the user's
// own into a home position.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace common {

// Six-character locator ("JO01BN") of a position in decimal degrees (east and north
// positive). Empty when the position is outside -180..180 / -90..90, which only a
// corrupted fix produces.
std::optional<std::string> LatLonToLocator(double lonDeg, double latDeg);

// Character 1 "*" or I..K, character 2 "*" or M..P, characters 3 and 4 "*" or a digit,
// characters 5 and 6 "*" or A..Z. Shorter texts fail; characters after the sixth are ignored.
bool IsValidLocator(std::string_view locator);

struct LonLatDeg {
    double lon = 0;
    double lat = 0;
};

// South-west corner of the six-character square, in degrees, from the character codes of
// the first six characters (so a "*" enters with its own code). Needs at least six characters.
LonLatDeg LocatorToLatLon(std::string_view locator);

}  // namespace common
