#include "monitor/predict/wind_field.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "common/numbers.h"

namespace monitor {

namespace {

// A point this close outside the grid (in grid steps) is on its edge: rounding in the file.
constexpr double kEdgeSteps = 1e-6;

double Lerp(double a, double b, double f) {
    return a + (b - a) * f;
}

std::string Fixed(double v, int decimals) {
    return common::FormatFixed(v, 15, decimals);
}

}  // namespace

WindField::WindField(const WindGrid& grid, std::vector<WindTime> times)
    : grid_(grid), times_(std::move(times)) {}

std::optional<WindField::Cell> WindField::CellAt(const LatLonDeg& p) const {
    const WindGrid& g = grid_;
    double y = (p.lat - g.firstLatDeg) / g.latStepDeg;
    if (y < -kEdgeSteps || y > g.rows - 1 + kEdgeSteps) return std::nullopt;
    y = std::clamp(y, 0.0, static_cast<double>(g.rows - 1));
    double east = std::fmod(p.lon - g.firstLonDeg, 360.0);
    if (east < 0) east += 360;
    double x = east / g.lonStepDeg;
    const double lastColumn = g.global ? g.columns : g.columns - 1;
    if (x > lastColumn + kEdgeSteps) {
        // Just west of the first column, by rounding.
        if ((360 - east) / g.lonStepDeg > kEdgeSteps) return std::nullopt;
        x = 0;
    }
    x = std::clamp(x, 0.0, lastColumn);
    auto row0 = static_cast<std::size_t>(std::min<double>(std::floor(y), std::max(0, g.rows - 2)));
    auto col0 = static_cast<std::size_t>(
        std::min<double>(std::floor(x), g.global ? g.columns - 1 : std::max(0, g.columns - 2)));
    const std::size_t row1 = std::min<std::size_t>(row0 + 1, g.rows - 1);
    const std::size_t col1 =
        g.global ? (col0 + 1) % g.columns : std::min<std::size_t>(col0 + 1, g.columns - 1);
    const auto n = static_cast<std::size_t>(g.columns);
    return Cell{row0 * n + col0,
                row0 * n + col1,
                row1 * n + col0,
                row1 * n + col1,
                y - static_cast<double>(row0),
                x - static_cast<double>(col0)};
}

ModelWind WindField::AtTime(const WindTime& t, const Cell& c, double altitudeM) const {
    auto at = [&c](const std::vector<float>& f) {
        return Lerp(Lerp(f[c.i00], f[c.i01], c.fx), Lerp(f[c.i10], f[c.i11], c.fx), c.fy);
    };
    const std::vector<WindLevel>& levels = t.levels;
    auto wind = [&](const WindLevel& l) { return ModelWind{at(l.eastMps), at(l.northMps)}; };
    // The levels' heights rise with falling pressure: the first one above the altitude.
    std::size_t lo = 0, hi = levels.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (at(levels[mid].heightM) <= altitudeM)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == 0) return wind(levels.front());
    if (lo == levels.size()) return wind(levels.back());
    const WindLevel &below = levels[lo - 1], &above = levels[lo];
    const double h0 = at(below.heightM), h1 = at(above.heightM);
    const double f = h1 > h0 ? (altitudeM - h0) / (h1 - h0) : 0;
    const ModelWind a = wind(below), b = wind(above);
    return {Lerp(a.eastMps, b.eastMps, f), Lerp(a.northMps, b.northMps, f)};
}

std::optional<ModelWind> WindField::At(const LatLonDeg& p, double altitudeM, double unixS) const {
    if (times_.empty() || unixS < FirstTimeS() - kTimeSlackS || unixS > LastTimeS() + kTimeSlackS)
        return std::nullopt;
    const auto cell = CellAt(p);
    if (!cell) return std::nullopt;
    auto next = std::upper_bound(times_.begin(), times_.end(), unixS,
                                 [](double t, const WindTime& w) { return t < w.unixS; });
    if (next == times_.begin()) return AtTime(times_.front(), *cell, altitudeM);
    if (next == times_.end()) return AtTime(times_.back(), *cell, altitudeM);
    const WindTime& before = *(next - 1);
    const double f = (unixS - before.unixS) / (next->unixS - before.unixS);
    const ModelWind a = AtTime(before, *cell, altitudeM), b = AtTime(*next, *cell, altitudeM);
    return ModelWind{Lerp(a.eastMps, b.eastMps, f), Lerp(a.northMps, b.northMps, f)};
}

double WindField::MidnightFor(double flightClockS, std::optional<double> hintUnixS) const {
    constexpr double kDay = common::kSecondsPerDay;
    // Days whose flight clock falls within the model's times, slack included.
    const double firstDay = std::ceil((FirstTimeS() - kTimeSlackS - flightClockS) / kDay);
    const double lastDay = std::floor((LastTimeS() + kTimeSlackS - flightClockS) / kDay);
    if (firstDay > lastDay) {
        // None: the day that comes nearest.
        const double nearFirst = std::floor((FirstTimeS() - flightClockS) / kDay);
        const double nearLast = std::ceil((LastTimeS() - flightClockS) / kDay);
        const double gapFirst = FirstTimeS() - (nearFirst * kDay + flightClockS);
        const double gapLast = (nearLast * kDay + flightClockS) - LastTimeS();
        return (gapFirst <= gapLast ? nearFirst : nearLast) * kDay;
    }
    double day = firstDay;
    if (hintUnixS) {
        const double hinted = std::round((*hintUnixS - flightClockS) / kDay);
        day = std::clamp(hinted, firstDay, lastDay);
    }
    return day * kDay;
}

std::string WindField::Describe() const {
    const WindGrid& g = grid_;
    const double lat1 = g.firstLatDeg + g.latStepDeg * (g.rows - 1);
    const double lon1 = g.firstLonDeg + g.lonStepDeg * (g.columns - 1);
    auto lat = [](double v) { return Fixed(std::abs(v), 2) + (v < 0 ? " S" : " N"); };
    auto lon = [](double v) {
        v = std::remainder(v, 360.0);
        return Fixed(std::abs(v), 2) + (v < 0 ? " W" : " E");
    };
    const std::string first = UtcText(FirstTimeS()).substr(0, 16);
    std::string last = UtcText(LastTimeS()).substr(0, 16);
    if (last.substr(0, 10) == first.substr(0, 10)) last = last.substr(11);
    std::string text = std::to_string(times_.size()) + (times_.size() == 1 ? " time " : " times ");
    text += times_.size() == 1 ? first : "from " + first + " to " + last;
    const auto& levels = times_.front().levels;
    text += " UTC, " + std::to_string(levels.size()) + " levels " +
            Fixed(levels.front().pressureHpa, 0) + " to " + Fixed(levels.back().pressureHpa, 0) +
            " hPa, ";
    if (g.global)
        return text + "the whole earth from " + lat(std::max(g.firstLatDeg, lat1)) + " to " +
               lat(std::min(g.firstLatDeg, lat1));
    return text + lat(std::min(g.firstLatDeg, lat1)) + " to " + lat(std::max(g.firstLatDeg, lat1)) +
           ", " + lon(g.firstLonDeg) + " to " + lon(lon1);
}

double UnixSeconds(int year, int month, int day, int hour, int minute, double second) {
    using namespace std::chrono;
    const sys_days d{std::chrono::year(year) / month / day};
    return static_cast<double>(d.time_since_epoch().count()) * common::kSecondsPerDay +
           hour * 3600.0 + minute * 60.0 + second;
}

std::string UtcText(double unixS) {
    using namespace std::chrono;
    const double whole = std::floor(unixS);
    const auto days = static_cast<long>(std::floor(whole / common::kSecondsPerDay));
    const auto sod = static_cast<long>(whole - static_cast<double>(days) * common::kSecondsPerDay);
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02ld:%02ld:%02ld", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), sod / 3600,
                  sod / 60 % 60, sod % 60);
    return buf;
}

std::optional<double> ParseUtc(std::string_view text) {
    // YYYY-MM-DDTHH:MM[:SS]Z
    auto digits = [&](std::size_t at, std::size_t n) -> std::optional<int> {
        if (at + n > text.size()) return std::nullopt;
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            v = v * 10 + (text[i] - '0');
        }
        return v;
    };
    if (text.size() != 17 && text.size() != 20) return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text.back() != 'Z' || (text.size() == 20 && text[16] != ':'))
        return std::nullopt;
    const auto y = digits(0, 4), mo = digits(5, 2), d = digits(8, 2), h = digits(11, 2),
               mi = digits(14, 2);
    const auto s = text.size() == 20 ? digits(17, 2) : std::optional<int>(0);
    if (!y || !mo || !d || !h || !mi || !s || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year(*y), std::chrono::month(*mo),
                                          std::chrono::day(*d)};
    if (!ymd.ok()) return std::nullopt;
    return UnixSeconds(*y, *mo, *d, *h, *mi, *s);
}

}  // namespace monitor
