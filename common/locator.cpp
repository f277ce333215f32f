#include "common/locator.h"

#include <cmath>

namespace common {

std::optional<std::string> LatLonToLocator(double lonDeg, double latDeg) {
    if (!(lonDeg >= -180.0 && lonDeg <= 180.0 && latDeg >= -90.0 && latDeg <= 90.0))
        return std::nullopt;
    double x = lonDeg + 180.0;
    double y = latDeg + 90.0;
    // The east and north edges belong to the last square, not to a 19th field.
    x = std::min(x, 360.0 - 1e-9);
    y = std::min(y, 180.0 - 1e-9);
    std::string loc(6, ' ');
    int m = static_cast<int>(std::trunc(x / 20.0));
    int n = static_cast<int>(std::trunc(y / 10.0));
    loc[0] = static_cast<char>('A' + m);
    loc[1] = static_cast<char>('A' + n);
    x -= m * 20.0;
    y -= n * 10.0;
    m = static_cast<int>(std::trunc(x / 2.0));
    n = static_cast<int>(std::trunc(y / 1.0));
    loc[2] = static_cast<char>('0' + m);
    loc[3] = static_cast<char>('0' + n);
    x -= m * 2.0;
    y -= n * 1.0;
    m = static_cast<int>(std::trunc(x / (1.0 / 12.0)));
    n = static_cast<int>(std::trunc(y / (1.0 / 24.0)));
    loc[4] = static_cast<char>('A' + m);
    loc[5] = static_cast<char>('A' + n);
    return loc;
}

namespace {
bool StarOr(char c, bool ok) {
    return c == '*' || ok;
}
}  // namespace

bool IsValidLocator(std::string_view l) {
    if (l.size() < 6) return false;
    return StarOr(l[0], l[0] >= 'I' && l[0] <= 'K') && StarOr(l[1], l[1] >= 'M' && l[1] <= 'P') &&
           StarOr(l[2], l[2] >= '0' && l[2] <= '9') && StarOr(l[3], l[3] >= '0' && l[3] <= '9') &&
           StarOr(l[4], l[4] >= 'A' && l[4] <= 'Z') && StarOr(l[5], l[5] >= 'A' && l[5] <= 'Z');
}

LonLatDeg LocatorToLatLon(std::string_view l) {
    if (l.size() < 6) return {};
    auto c = [&](int i) { return static_cast<double>(static_cast<unsigned char>(l[i])); };
    LonLatDeg p;
    p.lon = c(0) * 20 + c(2) * 2 - 1576 + (c(4) - 65) / 12.0;
    p.lat = c(3) + c(1) * 10 - 788 + (c(5) - 65) / 24.0;
    return p;
}

}  // namespace common
