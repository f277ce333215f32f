#include "station/telemetry/telemetry.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "common/geo.h"
#include "common/gga.h"
#include "common/locator.h"
#include "common/numbers.h"
#include "common/text.h"

namespace station {

using common::CharSlice;

int TemperatureC(std::uint16_t word) {
    return common::HalfDegreesToCelsius(word);
}

std::string DataWords(const std::array<std::uint16_t, 16>& words) {
    std::string line;
    line.reserve(16 * 7 + 20);
    char buf[16];
    for (std::uint16_t w : words) {
        std::snprintf(buf, sizeof buf, "%5u, ", static_cast<unsigned>(w));
        line += buf;
    }
    return line;
}

namespace {
std::tm LocalTm(std::chrono::system_clock::time_point t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    return tm;
}

// A position field "ddmm.mmmm" as decimal degrees; a field that is empty or not a number is 0.
// The hemisphere letters are not read: the display takes every position as north and east.
double PositionDegrees(const std::string& field) {
    if (field.empty()) return 0;
    const auto v = common::ParseDouble(field);
    return v ? common::DegreesFromDdmm(*v) : 0.0;
}
}  // namespace

std::string LocalDateTimeText(std::chrono::system_clock::time_point t) {
    const std::tm tm = LocalTm(t);
    char buf[80];  // room for any int the format could meet
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

int SecondsSinceLocalMidnight(std::chrono::system_clock::time_point t) {
    const std::tm tm = LocalTm(t);
    return tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

TelemetryDisplay DecodeTelemetry(const demod::Frame& frame, std::string_view dateTime) {
    TelemetryDisplay d;
    const auto& w = frame.words;
    d.vbatlb = common::FormatFixed(w[2] * 4.0 / 1000.0, 3, 2) + " V";
    d.vitemplb = std::to_string(TemperatureC(w[13])) + "°C (innen)";
    d.vatemplb = std::to_string(TemperatureC(w[14])) + "°C (aussen)";
    d.vhumlb.clear();
    d.vpresslb = common::FormatFixed(w[15] / 10.0, 5, 1) + " hPa";

    const common::GgaSentence gga = common::ReadGga(frame.gps);
    const std::string& time = gga.Time();
    d.timelb =
        CharSlice(time, 1, 2) + ":" + CharSlice(time, 3, 4) + ":" + CharSlice(time, 5, 6) + " UTC";
    const std::string& latField = gga.Latitude();
    const std::string& lonField = gga.Longitude();
    d.breitelb = CharSlice(latField, 1, 2) + "° " + CharSlice(latField, 3, 9) + "´";
    d.laengelb = CharSlice(lonField, 1, 3) + "° " + CharSlice(lonField, 4, 10) + "´";

    const double lat = PositionDegrees(latField);
    const double lon = PositionDegrees(lonField);
    std::optional<std::string> locator;
    // A corrupted fix can put the position off the globe; it has no locator either.
    if (lat != 0 && lon != 0) locator = common::LatLonToLocator(lon, lat);
    d.maidenlb = locator ? *locator : kUnknownLocator;

    d.hoehelb = gga.Altitude() + " m  (GPS)";
    d.satlb = gga.Satellites() + " Sats";

    d.gps = common::CleanText(frame.gps);
    std::string line = DataWords(w);
    line += dateTime;
    d.dataLine = common::CleanText(line);
    return d;
}

std::string LoginLine(std::string_view callField, std::string_view locatorField) {
    return common::FirstWord(callField) + ";" + common::FirstWord(locatorField) + ";";
}

std::string UploadText(std::string_view callField, std::string_view locatorField,
                       const TelemetryDisplay& display) {
    return LoginLine(callField, locatorField) + display.gps + ";" + display.dataLine + "#";
}

}  // namespace station
