#include "monitor/io/grib_winds.h"

#include <eccodes.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "common/atmosphere.h"
#include "common/numbers.h"

namespace monitor {

namespace {

constexpr double kGravity = 9.80665;  // geopotential (m2/s2) per geopotential metre
// Grid coordinates that differ less than this are the same (files round them to 1e-6 degrees).
constexpr double kSameDeg = 1e-5;

struct File {
    FILE* f = nullptr;
    ~File() {
        if (f) std::fclose(f);
    }
};

struct Handle {
    codes_handle* h = nullptr;
    ~Handle() {
        if (h) codes_handle_delete(h);
    }
};

std::string Text(codes_handle* h, const char* key) {
    char buf[128] = {};
    std::size_t len = sizeof buf;
    if (codes_get_string(h, key, buf, &len) != CODES_SUCCESS) return {};
    return buf;
}

std::optional<long> Long(codes_handle* h, const char* key) {
    long v = 0;
    if (codes_get_long(h, key, &v) != CODES_SUCCESS) return std::nullopt;
    return v;
}

std::optional<double> Double(codes_handle* h, const char* key) {
    double v = 0;
    if (codes_get_double(h, key, &v) != CODES_SUCCESS) return std::nullopt;
    return v;
}

bool Same(double a, double b) {
    return std::abs(a - b) < kSameDeg;
}

// The fields of one level at one time, as far as the file has them.
struct LevelFields {
    std::vector<float> u, v, height;
};

std::string Hpa(double pa) {
    std::string s = common::FormatFixed(pa / 100, 15, 2);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s + " hPa";
}

// Reads the grid of one message; empty with `error` when it is not one the field can hold.
std::optional<WindGrid> GridOf(codes_handle* h, std::string& error) {
    const std::string type = Text(h, "gridType");
    if (type != "regular_ll") {
        error = "its grid is " + (type.empty() ? std::string("unknown") : type) +
                "; only regular latitude/longitude grids are read";
        return std::nullopt;
    }
    const auto ni = Long(h, "Ni"), nj = Long(h, "Nj");
    const auto lat0 = Double(h, "latitudeOfFirstGridPointInDegrees");
    const auto lon0 = Double(h, "longitudeOfFirstGridPointInDegrees");
    const auto lat1 = Double(h, "latitudeOfLastGridPointInDegrees");
    const auto lon1 = Double(h, "longitudeOfLastGridPointInDegrees");
    const auto iNeg = Long(h, "iScansNegatively");
    const auto jCons = Long(h, "jPointsAreConsecutive");
    if (!ni || !nj || !lat0 || !lon0 || !lat1 || !lon1 || !iNeg || !jCons) {
        error = "its grid is not described completely";
        return std::nullopt;
    }
    if (*iNeg != 0 || *jCons != 0) {
        error =
            "its points run east to west or column by column; only row by row from west to "
            "east is read";
        return std::nullopt;
    }
    if (*ni < 2 || *nj < 2) {
        error = "its grid has fewer than 2 x 2 points";
        return std::nullopt;
    }
    WindGrid g;
    g.rows = static_cast<int>(*nj);
    g.columns = static_cast<int>(*ni);
    g.firstLatDeg = *lat0;
    g.firstLonDeg = *lon0;
    g.latStepDeg = (*lat1 - *lat0) / (g.rows - 1);
    double span = *lon1 - *lon0;
    if (span < 0) span += 360;
    g.lonStepDeg = span / (g.columns - 1);
    g.global = std::abs(g.lonStepDeg * g.columns - 360) < g.lonStepDeg / 2;
    if (g.latStepDeg == 0 || g.lonStepDeg <= 0) {
        error = "its grid has no extent";
        return std::nullopt;
    }
    return g;
}

bool SameGrid(const WindGrid& a, const WindGrid& b) {
    return a.rows == b.rows && a.columns == b.columns && Same(a.firstLatDeg, b.firstLatDeg) &&
           Same(a.firstLonDeg, b.firstLonDeg) && Same(a.latStepDeg, b.latStepDeg) &&
           Same(a.lonStepDeg, b.lonStepDeg);
}

}  // namespace

std::shared_ptr<const WindField> ReadGribWinds(const std::string& path, std::string& error,
                                               std::size_t maxValues) {
    const std::string name = "\"" + path + "\"";
    File file;
    file.f = std::fopen(path.c_str(), "rb");
    if (!file.f) {
        error = "cannot open " + name + ": " + std::strerror(errno);
        return nullptr;
    }
    std::optional<WindGrid> grid;
    // Time (seconds since 1970) -> pressure (Pa) -> fields.
    std::map<double, std::map<double, LevelFields>> found;
    std::size_t messages = 0, values = 0;
    std::vector<double> buffer;
    std::string problem;
    for (;;) {
        int err = CODES_SUCCESS;
        Handle m;
        m.h = codes_handle_new_from_file(nullptr, file.f, PRODUCT_GRIB, &err);
        if (!m.h) {
            if (err != CODES_SUCCESS) {
                error = name + " cannot be read after " + std::to_string(messages) +
                        " messages: " + codes_get_error_message(err);
                return nullptr;
            }
            break;
        }
        ++messages;
        const std::string shortName = Text(m.h, "shortName");
        const std::string levelType = Text(m.h, "typeOfLevel");
        if (shortName != "u" && shortName != "v" && shortName != "gh" && shortName != "z") continue;
        if (levelType != "isobaricInhPa" && levelType != "isobaricInPa") continue;
        const auto level = Double(m.h, "level");
        const auto date = Long(m.h, "validityDate"), hhmm = Long(m.h, "validityTime");
        if (!level || !date || !hhmm) {
            error = name + ": message " + std::to_string(messages) + " has no level or time";
            return nullptr;
        }
        const auto g = GridOf(m.h, problem);
        if (!g) {
            error =
                name + ": message " + std::to_string(messages) + " (" + shortName + "): " + problem;
            return nullptr;
        }
        if (!grid) {
            grid = g;
        } else if (!SameGrid(*grid, *g)) {
            error = name + ": message " + std::to_string(messages) + " (" + shortName +
                    ") lies on another grid than the first; all fields must share one";
            return nullptr;
        }
        const auto missing = Long(m.h, "numberOfMissing");
        std::size_t n = 0;
        codes_get_size(m.h, "values", &n);
        if (n != g->Points() || (missing && *missing > 0)) {
            error = name + ": message " + std::to_string(messages) + " (" + shortName +
                    ") has holes or the wrong number of values";
            return nullptr;
        }
        values += n;
        if (values > maxValues) {
            error = name + " holds more than " + std::to_string(maxValues / 1'000'000) +
                    " million values: cut the region, the levels or the times";
            return nullptr;
        }
        buffer.resize(n);
        if (const int e = codes_get_double_array(m.h, "values", buffer.data(), &n);
            e != CODES_SUCCESS) {
            error =
                name + ": message " + std::to_string(messages) + ": " + codes_get_error_message(e);
            return nullptr;
        }
        const double pa = levelType == "isobaricInhPa" ? *level * 100 : *level;
        const double t =
            UnixSeconds(static_cast<int>(*date / 10000), static_cast<int>(*date / 100 % 100),
                        static_cast<int>(*date % 100), static_cast<int>(*hhmm / 100),
                        static_cast<int>(*hhmm % 100), 0);
        LevelFields& fields = found[t][pa];
        std::vector<float>& target = shortName == "u"   ? fields.u
                                     : shortName == "v" ? fields.v
                                                        : fields.height;
        target.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            double v = buffer[i];
            if (shortName == "z") v /= kGravity;
            if (shortName == "z" || shortName == "gh") v = common::GeometricAltitudeM(v);
            target[i] = static_cast<float>(v);
        }
    }
    if (messages == 0) {
        error = name + " holds no GRIB messages";
        return nullptr;
    }
    const char* kNeeds =
        " (needed: u and v wind and geopotential height gh on pressure levels, at least two "
        "levels at every time)";
    if (found.empty()) {
        error = name + " holds no wind or height on pressure levels" + kNeeds;
        return nullptr;
    }
    // The levels with all three fields at every time.
    std::set<double> complete;
    for (const auto& [pa, fields] : found.begin()->second)
        if (!fields.u.empty() && !fields.v.empty() && !fields.height.empty()) complete.insert(pa);
    std::string lacking;
    for (const auto& [t, levels] : found) {
        for (const auto& [pa, fields] : levels) {
            const bool whole = !fields.u.empty() && !fields.v.empty() && !fields.height.empty();
            if (whole || lacking.size() > 0) continue;
            lacking = Hpa(pa) + " at " + UtcText(t).substr(0, 16) + " UTC lacks" +
                      (fields.u.empty() ? " u" : "") + (fields.v.empty() ? " v" : "") +
                      (fields.height.empty() ? " gh" : "");
        }
        std::set<double> here;
        for (const double pa : complete) {
            auto it = levels.find(pa);
            if (it != levels.end() && !it->second.u.empty() && !it->second.v.empty() &&
                !it->second.height.empty())
                here.insert(pa);
        }
        complete = std::move(here);
    }
    if (complete.size() < 2) {
        error = name + " has fewer than two pressure levels with wind and height at every time" +
                (lacking.empty() ? std::string() : ": " + lacking) + kNeeds;
        return nullptr;
    }
    std::vector<WindTime> times;
    for (auto& [t, levels] : found) {
        WindTime wt;
        wt.unixS = t;
        // From the ground up: the highest pressure first.
        for (auto it = complete.rbegin(); it != complete.rend(); ++it) {
            LevelFields& f = levels.at(*it);
            WindLevel l;
            l.pressureHpa = *it / 100;
            l.eastMps = std::move(f.u);
            l.northMps = std::move(f.v);
            l.heightM = std::move(f.height);
            wt.levels.push_back(std::move(l));
        }
        times.push_back(std::move(wt));
    }
    return std::make_shared<const WindField>(*grid, std::move(times));
}

}  // namespace monitor
