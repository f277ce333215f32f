// A weather model's winds from a GRIB file (edition 2, or 1): u and v wind components and
// geopotential height (gh, or geopotential z) on pressure levels, on a regular latitude/longitude
// grid, at one or more times, read with ecCodes. The program reads the file the user got before
// the chase; it never downloads anything.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "monitor/predict/wind_field.h"

namespace monitor {

// More values than this (all fields, levels and times together) is more than a chase needs and
// more memory than it should take: the user is told to cut the region or the times.
inline constexpr std::size_t kMaxGribWindValues = 60'000'000;

// The wind field, or null with `error` saying what is wrong with the file (it names the file).
std::shared_ptr<const WindField> ReadGribWinds(const std::string& path, std::string& error,
                                               std::size_t maxValues = kMaxGribWindValues);

}  // namespace monitor
