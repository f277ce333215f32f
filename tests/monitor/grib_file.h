// GRIB2 files written the way a weather centre's are, by ecCodes' own grib_filter on the GRIB2
// pressure-level sample ecCodes ships: each message a field of u, v, gh (or anything else) at a
// pressure level and a time, on a regular latitude/longitude grid.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/atmosphere.h"
#include "simulated_winds.h"

namespace monitor::testing {

struct GribGrid {
    double northDeg = 52, southDeg = 48;  // rows from north to south
    double westDeg = 6, eastDeg = 14;
    double stepDeg = 1;
};

struct GribMessage {
    std::string shortName;  // "u", "v", "gh", "t", ...
    double levelHpa = 500;
    int date = 20261208;  // YYYYMMDD
    int hhmm = 600;
    std::function<double(double latDeg, double lonDeg)> value;
};

inline std::string CommandOutput(const std::string& command, int* exitCode = nullptr) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    const int status = pclose(p);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// Writes `messages` to `file`; empty on success, else what went wrong.
inline std::string WriteGrib(const std::filesystem::path& file, const GribGrid& g,
                             const std::vector<GribMessage>& messages) {
    std::string samples = CommandOutput("codes_info -s");
    while (!samples.empty() && (samples.back() == '\n' || samples.back() == ' '))
        samples.pop_back();
    const std::filesystem::path sample =
        std::filesystem::path(samples) / "regular_ll_pl_grib2.tmpl";
    if (!std::filesystem::exists(sample)) return "no GRIB2 sample at " + sample.string();
    const std::filesystem::path rules = file.string() + ".rules";
    {
        std::ofstream r(rules);
        const int rows = static_cast<int>((g.northDeg - g.southDeg) / g.stepDeg + 0.5) + 1;
        const int columns = static_cast<int>((g.eastDeg - g.westDeg) / g.stepDeg + 0.5) + 1;
        r.precision(10);
        r << "set Ni = " << columns << ";\nset Nj = " << rows << ";\n"
          << "set latitudeOfFirstGridPointInDegrees = " << g.northDeg << ";\n"
          << "set longitudeOfFirstGridPointInDegrees = " << g.westDeg << ";\n"
          << "set latitudeOfLastGridPointInDegrees = " << g.southDeg << ";\n"
          << "set longitudeOfLastGridPointInDegrees = " << g.eastDeg << ";\n"
          << "set iDirectionIncrementInDegrees = " << g.stepDeg << ";\n"
          << "set jDirectionIncrementInDegrees = " << g.stepDeg << ";\n"
          << "set typeOfLevel = \"isobaricInhPa\";\n";
        for (const GribMessage& m : messages) {
            r << "set shortName = \"" << m.shortName << "\";\nset level = " << m.levelHpa
              << ";\nset dataDate = " << m.date << ";\nset dataTime = " << m.hhmm
              << ";\nset bitsPerValue = 24;\nset values = {";
            for (int i = 0; i < rows; ++i)
                for (int j = 0; j < columns; ++j)
                    r << (i + j > 0 ? "," : "")
                      << m.value(g.northDeg - i * g.stepDeg, g.westDeg + j * g.stepDeg);
            r << "};\nwrite;\n";
        }
    }
    int rc = -1;
    const std::string out = CommandOutput("grib_filter -o '" + file.string() + "' '" +
                                              rules.string() + "' '" + sample.string() + "' 2>&1",
                                          &rc);
    if (rc != 0) return "grib_filter failed: " + out;
    return {};
}

// The messages in a file, as ecCodes' grib_count counts them.
inline int GribMessages(const std::filesystem::path& file) {
    const std::string out = CommandOutput("grib_count '" + file.string() + "' 2>/dev/null");
    return out.empty() ? -1 : std::stoi(out);
}

// probegen's winds (SimulatedLevels) at 06:00, 12:00 and 18:00 on the day of its flight.
inline std::vector<GribMessage> SimulatedGribMessages() {
    std::vector<GribMessage> messages;
    for (int hhmm : {600, 1200, 1800}) {
        for (const SimulatedLevel& l : SimulatedLevels()) {
            const double hpa = l.pressureHpa;
            messages.push_back(
                {"u", hpa, 20261208, hhmm, [e = l.eastMps](double, double) { return e; }});
            messages.push_back(
                {"v", hpa, 20261208, hhmm, [n = l.northMps](double, double) { return n; }});
            messages.push_back({"gh", hpa, 20261208, hhmm, [h = l.altitudeM](double, double) {
                                    return common::GeopotentialHeightM(h);
                                }});
        }
    }
    return messages;
}

}  // namespace monitor::testing
