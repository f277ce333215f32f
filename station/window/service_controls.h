// What the station's service controls compute, as data: captions from the demodulator's state,
// the scope snapshot's two traces, the stored-value plot's line and the slot field's check. The
// window only paints these points.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/demod/fsk_demodulator.h"
#include "station/station_core.h"

namespace station {

struct PlotPoint {
    int x = 0, y = 0;  // pixels, y down
    bool operator==(const PlotPoint&) const = default;
};
// The pen moves to the first point, then draws a line to each following one.
using Polyline = std::vector<PlotPoint>;

// Button1: "HIGH 2200" while the upper tone means bit 1, else "HIGH 1200".
std::string PolarityCaption(bool markIsHigh);
// Button4: "HAMMING" while the Hamming tables are in use, else "RECHTECK" (the start-up tables
// and the 1200/2200 Hz rectangular ones).
std::string TablesCaption(const demod::FskDemodulator& demodulator);

// Button3: one trace of the scope ring in an image width x height pixels. The pen starts at
// (0, height - 10); column x = 0 .. width - 1 takes ring entry writeIndex + x (after entry 2000
// comes entry 1) at y = height div 2 - trunc(value / 1000). `marker` picks the entry's bit
// marker instead of its tone difference.
Polyline ScopeTrace(const demod::FskDemodulator& demodulator, int width, int height, bool marker);

// Button5: slot `slot` (1..20) of history records 1 .. Counter() - 1 against a full scale of
// 4096: from (0, height) to (trunc(width / Counter() * b), height - trunc(value / 4096 * height))
// for record b. Only the start point without records.
inline constexpr double kPlotFullScale = 4096.0;
Polyline SlotPlot(const History& history, int slot, int width, int height);

// The integer in a service field (blanks around it allowed); nullopt with `error` set for the
// status bar otherwise.
std::optional<int> ParseFieldInt(std::string_view text, std::string& error);
// dataed: an integer that names a history slot, 1..20.
std::optional<int> ParseSlot(std::string_view text, std::string& error);

}  // namespace station
