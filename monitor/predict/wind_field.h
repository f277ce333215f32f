// Winds of a weather model: east and north components and the height of each pressure level,
// on a regular latitude/longitude grid, at one or more model times; interpolated to a point,
// an altitude and a time. Filled by the GRIB reader (monitor/io/grib_winds.h). Plain C++.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/geo.h"

namespace monitor {

using common::LatLonDeg;

struct WindGrid {
    double firstLatDeg = 0, firstLonDeg = 0;  // the first point of each field
    double latStepDeg = 0;                    // negative when rows run north to south
    double lonStepDeg = 0;                    // > 0, rows run west to east
    int rows = 0, columns = 0;
    bool global = false;  // the columns go round the earth: the last meets the first

    std::size_t Points() const { return static_cast<std::size_t>(rows) * columns; }
    bool operator==(const WindGrid&) const = default;
};

// One pressure level at one time, each field row by row as the grid runs.
struct WindLevel {
    double pressureHpa = 0;
    std::vector<float> eastMps, northMps;
    std::vector<float> heightM;  // geometric altitude of the level
};

struct WindTime {
    double unixS = 0;
    std::vector<WindLevel> levels;  // from the ground up (pressure falling)
};

struct ModelWind {
    double eastMps = 0, northMps = 0;
};

class WindField {
  public:
    // Model times beyond the first and last still stand for this long; a forecast changes
    // slowly, but not that slowly.
    static constexpr double kTimeSlackS = 6 * 3600;

    // `times` oldest first, each with the same levels; every field has grid.Points() values.
    WindField(const WindGrid& grid, std::vector<WindTime> times);

    // At a point, a geometric altitude and a time: interpolated between the grid points,
    // linearly in height between the levels (below the lowest and above the highest their
    // wind stands) and linearly between the model times. Empty outside the grid or further
    // than the slack from the model's times.
    std::optional<ModelWind> At(const LatLonDeg& p, double altitudeM, double unixS) const;

    const WindGrid& Grid() const { return grid_; }
    const std::vector<WindTime>& Times() const { return times_; }
    double FirstTimeS() const { return times_.front().unixS; }
    double LastTimeS() const { return times_.back().unixS; }

    // The records carry only the time of day: the midnight (UTC, seconds since 1970) that puts
    // a flight clock on the model's times. Of the days that do, the one nearest `hintUnixS`
    // (the receive clock, when there is one); else the first; with none the nearest.
    double MidnightFor(double flightClockS, std::optional<double> hintUnixS = {}) const;

    // "3 times from 2026-12-08 06:00 to 12:00 UTC, 12 levels 1000 to 10 hPa, 45.00 to 55.00 N,
    // 5.00 to 15.00 E": what the file holds, for the user.
    std::string Describe() const;

  private:
    struct Cell {
        std::size_t i00, i01, i10, i11;
        double fy, fx;  // fraction along rows and along columns
    };
    std::optional<Cell> CellAt(const LatLonDeg& p) const;
    ModelWind AtTime(const WindTime& t, const Cell& c, double altitudeM) const;

    WindGrid grid_;
    std::vector<WindTime> times_;
};

// Seconds since 1970 of a UTC date and time; and back to "YYYY-MM-DD HH:MM:SS".
double UnixSeconds(int year, int month, int day, int hour, int minute, double second);
std::string UtcText(double unixS);
// "YYYY-MM-DDTHH:MM[:SS]Z" to seconds since 1970; empty when it is no such time.
std::optional<double> ParseUtc(std::string_view text);

}  // namespace monitor
