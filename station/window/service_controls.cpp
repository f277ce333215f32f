#include "station/window/service_controls.h"

#include <cmath>
#include <limits>

#include "common/numbers.h"

namespace station {

std::string PolarityCaption(bool markIsHigh) {
    return markIsHigh ? "HIGH 2200" : "HIGH 1200";
}

std::string TablesCaption(const demod::FskDemodulator& d) {
    const bool switched = d.HighToneHz() == demod::FskDemodulator::kSwitchHighToneHz;
    // The flag names the next press: clear after a press that installed Hamming tables.
    return switched && !d.HammingNext() ? "HAMMING" : "RECHTECK";
}

Polyline ScopeTrace(const demod::FskDemodulator& d, int width, int height, bool marker) {
    Polyline line;
    if (width <= 0 || height <= 0) return line;
    line.reserve(static_cast<std::size_t>(width) + 1);
    line.push_back({0, height - 10});
    const auto& ring = d.Scope();
    int p = d.ScopeWriteIndex();  // 1..kScopeSize
    for (int x = 0; x < width; ++x) {
        const auto& entry = ring[static_cast<std::size_t>(p - 1)];
        const double value = marker ? entry.marker : entry.diff;
        line.push_back({x, height / 2 - static_cast<int>(std::trunc(value / 1000.0))});
        p = p == demod::FskDemodulator::kScopeSize ? 1 : p + 1;
    }
    return line;
}

Polyline SlotPlot(const History& history, int slot, int width, int height) {
    Polyline line{{0, height}};
    const int count = history.Counter();
    for (int b = 1; b < count; ++b) {
        const double value = history.Slot(b, slot);
        line.push_back({static_cast<int>(std::trunc(static_cast<double>(width) / count * b)),
                        height - static_cast<int>(std::trunc(value / kPlotFullScale * height))});
    }
    return line;
}

std::optional<int> ParseFieldInt(std::string_view text, std::string& error) {
    const auto n = common::ParseInt(text);
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max()) {
        error = "'" + std::string(text) + "' is not a valid integer value";
        return std::nullopt;
    }
    return static_cast<int>(*n);
}

std::optional<int> ParseSlot(std::string_view text, std::string& error) {
    const auto n = ParseFieldInt(text, error);
    if (!n) return std::nullopt;
    if (*n < 1 || *n > History::kSlots) {
        error = "Messwert: there is no slot " + std::to_string(*n) + ", only 1 to 20";
        return std::nullopt;
    }
    return n;
}

}  // namespace station
