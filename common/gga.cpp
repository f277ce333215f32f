#include "common/gga.h"

#include <cmath>

#include "common/numbers.h"
#include "common/text.h"

namespace common {

namespace {

template <typename T>
Reading<T> Read(const std::optional<double>& number, bool inRange, T value) {
    if (!number) return {FieldState::NotANumber, std::nullopt};
    if (!inRange) return {FieldState::OutOfRange, std::nullopt};
    return {FieldState::Valid, value};
}

// ddmm.mmmm with its hemisphere letter (`negative` makes it south or west).
Reading<double> Coordinate(std::string_view text, std::string_view letter, char positive,
                           char negative, double limitDeg) {
    if (Trim(text).empty()) return {};
    const auto v = ParseDouble(text);
    const std::string_view side = Trim(letter);
    const bool known = side.empty() || side == std::string_view(&positive, 1) ||
                       side == std::string_view(&negative, 1);
    double deg = 0;
    bool inRange = false;
    if (v && *v >= 0) {
        const double minutes = *v - std::trunc(*v / 100) * 100;
        deg = DegreesFromDdmm(*v);
        inRange = known && minutes < 60 && deg <= limitDeg;
    }
    return Read(v, inRange, side == std::string_view(&negative, 1) ? -deg : deg);
}

}  // namespace

const std::string& GgaSentence::Field(std::size_t n) const {
    static const std::string kNone;
    return n >= 1 && n <= fields.size() ? fields[n - 1] : kNone;
}

std::optional<LatLonDeg> GgaSentence::Position() const {
    if (!latitudeDeg.Valid() || !longitudeDeg.Valid()) return std::nullopt;
    return LatLonDeg{*latitudeDeg.value, *longitudeDeg.value};
}

GgaSentence ReadGga(std::string_view sentence) {
    GgaSentence g;
    for (std::size_t from = 0;;) {
        const std::size_t comma = sentence.find(',', from);
        g.fields.emplace_back(
            sentence.substr(from, comma == sentence.npos ? sentence.npos : comma - from));
        if (comma == sentence.npos) break;
        from = comma + 1;
    }
    if (!Trim(g.Time()).empty()) {
        const auto number = ParseDouble(g.Time());
        const auto seconds = SecondsOfDay(g.Time());
        g.secondsOfDay = Read(number, seconds.has_value(), seconds.value_or(0));
    }
    g.latitudeDeg = Coordinate(g.Latitude(), g.LatHemisphere(), 'N', 'S', 90);
    g.longitudeDeg = Coordinate(g.Longitude(), g.LonHemisphere(), 'E', 'W', 180);
    if (!Trim(g.Satellites()).empty()) {
        const auto n = ParseInt(g.Satellites());
        g.satelliteCount = Read(n ? std::optional<double>(static_cast<double>(*n)) : std::nullopt,
                                n && *n >= 0 && *n <= 99, static_cast<int>(n.value_or(0)));
    }
    if (!Trim(g.Altitude()).empty()) {
        const auto alt = ParseDouble(g.Altitude());
        g.altitudeM =
            Read(alt, alt && *alt >= kMinFixAltitudeM && *alt <= kMaxFixAltitudeM, alt.value_or(0));
    }
    return g;
}

}  // namespace common
