#include "monitor/chase/chase_settings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "common/numbers.h"
#include "common/text.h"

namespace monitor {

namespace {

struct Range {
    double lo, hi;
};
constexpr Range kWindowS{1, 3600};
constexpr Range kBurstDropM{10, 10000};
constexpr Range kLandingAltM{-500, 9000};
constexpr Range kAlarmKm{0.1, 1000};
constexpr Range kNoDataS{1, 86400};
constexpr Range kFlightEndMin{1, 1440};
constexpr Range kColumnWidthPx{0, 10000};
constexpr Range kBurstAltM{1000, 50000};
constexpr Range kDescentRateMps{1, 30};
constexpr Range kAscentRateMps{0.5, 20};
constexpr Range kCarHoldS{0, 3600};
constexpr std::string_view kAuto = "auto";

std::optional<double> InRange(std::string_view text, Range r) {
    const auto v = common::ParseDouble(text);
    if (!v || *v < r.lo || *v > r.hi) return std::nullopt;
    return v;
}

std::string Number(double v) {
    std::string s = common::FormatFixed(v, 15, 3);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

}  // namespace

bool IsTileUrl(std::string_view url) {
    if (url == kNoTiles) return true;
    const bool web = url.starts_with("http://") || url.starts_with("https://");
    const bool blank = url.find_first_of(" \t\r\n") != std::string_view::npos;
    return web && !blank && url.find("{z}") != std::string_view::npos &&
           url.find("{x}") != std::string_view::npos && url.find("{y}") != std::string_view::npos;
}

std::string ChaseSettingsPath() {
    namespace fs = std::filesystem;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return (fs::path(xdg) / kChaseSettingsFile).string();
    if (const char* home = std::getenv("HOME"); home && *home)
        return (fs::path(home) / ".config" / kChaseSettingsFile).string();
    return {};
}

ChaseSettings ParseChaseSettings(std::string_view text, const ChaseSettings& base,
                                 std::vector<std::string>& problems) {
    ChaseSettings s = base;
    std::istringstream in{std::string(text)};
    std::string raw;
    int lineNo = 0;
    while (std::getline(in, raw)) {
        ++lineNo;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        const std::string_view line = common::Trim(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';' || line.front() == '[')
            continue;
        const auto eq = line.find('=');
        const std::string_view name = common::Trim(line.substr(0, eq));
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view{} : common::Trim(line.substr(eq + 1));
        bool ok = eq != std::string_view::npos;
        auto number = [&](double& target, Range r) {
            const auto v = InRange(value, r);
            if (v) target = *v;
            ok = ok && v.has_value();
        };
        auto flag = [&](bool& target) {
            if (value == "1" || value == "0")
                target = value == "1";
            else
                ok = false;
        };
        if (!ok) {
        } else if (name == "vrate_window_s") {
            number(s.analytics.vrateWindowS, kWindowS);
        } else if (name == "drift_window_s") {
            number(s.analytics.driftWindowS, kWindowS);
        } else if (name == "burst_drop_m") {
            number(s.analytics.burstDropM, kBurstDropM);
        } else if (name == "landing_alt_m") {
            if (value.empty() || value == kAuto) {
                s.analytics.landingAltM.reset();
            } else {
                double v = 0;
                number(v, kLandingAltM);
                if (ok) s.analytics.landingAltM = v;
            }
        } else if (name == "alarm_burst") {
            flag(s.alarms.burstOn);
        } else if (name == "alarm_landing") {
            flag(s.alarms.landingOn);
        } else if (name == "alarm_landing_km") {
            number(s.alarms.landingKm, kAlarmKm);
        } else if (name == "alarm_no_data") {
            flag(s.alarms.noDataOn);
        } else if (name == "alarm_no_data_s") {
            number(s.alarms.noDataS, kNoDataS);
        } else if (name == "night_theme") {
            flag(s.nightTheme);
        } else if (name == "tiles_url") {
            ok = IsTileUrl(value);
            if (ok) s.tilesUrl = value;
        } else if (name == "mbtiles") {
            s.mbtilesPath = value;
        } else if (name == "gps") {
            flag(s.gps.on);
        } else if (name == "gps_server") {
            std::string error;
            if (ParseGpsServer(value, error))
                s.gps.server = std::string(value);
            else
                ok = false;
        } else if (name == "waypoint") {
            flag(s.gps.waypoint);
        } else if (name == "flight_end_min") {
            number(s.flightEndMin, kFlightEndMin);
        } else if (name == "notifications") {
            flag(s.notifications);
        } else if (name == "column_width_px") {
            double px = 0;
            number(px, kColumnWidthPx);
            if (ok) s.columnWidthPx = static_cast<int>(px);
        } else if (name == "language") {
            ok = value.empty() || value == "en" || value == "de";
            if (ok) s.language = value;
        } else if (name == "burst_alt_m") {
            number(s.analytics.burstAltM, kBurstAltM);
        } else if (name == "descent_rate_mps") {
            number(s.analytics.descentRateMps, kDescentRateMps);
        } else if (name == "ascent_rate_mps") {
            number(s.analytics.ascentRateMps, kAscentRateMps);
        } else if (name == "winds") {
            s.windsPath = value;
        } else if (name == "car_hold_s") {
            number(s.carHoldS, kCarHoldS);
        } else {
            ok = false;
        }
        if (!ok)
            problems.push_back("line " + std::to_string(lineNo) + " \"" + std::string(line) +
                               "\" ignored");
    }
    return s;
}

std::string ChaseSettingsText(const ChaseSettings& s) {
    const auto flag = [](bool b) { return b ? "1" : "0"; };
    std::string t;
    t += "vrate_window_s=" + Number(s.analytics.vrateWindowS) + "\n";
    t += "drift_window_s=" + Number(s.analytics.driftWindowS) + "\n";
    t += "burst_drop_m=" + Number(s.analytics.burstDropM) + "\n";
    t += "landing_alt_m=" +
         (s.analytics.landingAltM ? Number(*s.analytics.landingAltM) : std::string(kAuto)) + "\n";
    t += std::string("alarm_burst=") + flag(s.alarms.burstOn) + "\n";
    t += std::string("alarm_landing=") + flag(s.alarms.landingOn) + "\n";
    t += "alarm_landing_km=" + Number(s.alarms.landingKm) + "\n";
    t += std::string("alarm_no_data=") + flag(s.alarms.noDataOn) + "\n";
    t += "alarm_no_data_s=" + Number(s.alarms.noDataS) + "\n";
    t += std::string("night_theme=") + flag(s.nightTheme) + "\n";
    t += "tiles_url=" + s.tilesUrl + "\n";
    t += "mbtiles=" + s.mbtilesPath + "\n";
    t += std::string("gps=") + flag(s.gps.on) + "\n";
    t += "gps_server=" + s.gps.server + "\n";
    t += std::string("waypoint=") + flag(s.gps.waypoint) + "\n";
    t += "flight_end_min=" + Number(s.flightEndMin) + "\n";
    t += std::string("notifications=") + flag(s.notifications) + "\n";
    t += "column_width_px=" + std::to_string(s.columnWidthPx) + "\n";
    t += "language=" + s.language + "\n";
    t += "burst_alt_m=" + Number(s.analytics.burstAltM) + "\n";
    t += "descent_rate_mps=" + Number(s.analytics.descentRateMps) + "\n";
    t += "ascent_rate_mps=" + Number(s.analytics.ascentRateMps) + "\n";
    t += "winds=" + s.windsPath + "\n";
    t += "car_hold_s=" + Number(s.carHoldS) + "\n";
    return t;
}

bool LoadChaseSettings(const std::string& path, ChaseSettings& s, std::string& error,
                       std::vector<std::string>& problems) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) return true;
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    if (!in || !(text << in.rdbuf())) {
        error = "cannot read \"" + path + "\"";
        return false;
    }
    s = ParseChaseSettings(text.str(), s, problems);
    return true;
}

bool SaveChaseSettings(const std::string& path, const ChaseSettings& s, std::string& error) {
    namespace fs = std::filesystem;
    if (path.empty()) {
        error = "no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)";
        return false;
    }
    std::error_code ec;
    const fs::path target(path);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << ChaseSettingsText(s);
        out.flush();
        if (!out) {
            error = "cannot write \"" + temp + "\"";
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        error = "cannot replace \"" + path + "\": " + ec.message();
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

ChaseSettings ChaseOptions::AppliedTo(ChaseSettings s) const {
    if (vrateWindowS) s.analytics.vrateWindowS = *vrateWindowS;
    if (driftWindowS) s.analytics.driftWindowS = *driftWindowS;
    if (burstDropM) s.analytics.burstDropM = *burstDropM;
    if (landingAltM) s.analytics.landingAltM = *landingAltM;
    if (alarmKm) s.alarms.landingKm = *alarmKm;
    if (noDataS) s.alarms.noDataS = *noDataS;
    if (flightEndMin) s.flightEndMin = *flightEndMin;
    if (carHoldS) s.carHoldS = *carHoldS;
    if (tilesUrl) s.tilesUrl = *tilesUrl;
    if (mbtilesPath) s.mbtilesPath = *mbtilesPath;
    if (gpsServer) {
        s.gps.on = true;
        s.gps.server = *gpsServer;
    }
    if (waypoint) s.gps.waypoint = true;
    if (noNotifications) s.notifications = false;
    if (language) s.language = *language;
    if (burstAltM) s.analytics.burstAltM = *burstAltM;
    if (descentRateMps) s.analytics.descentRateMps = *descentRateMps;
    if (ascentRateMps) s.analytics.ascentRateMps = *ascentRateMps;
    if (windsPath) s.windsPath = *windsPath;
    return s;
}

ChaseSettings EffectiveChaseSettings(const ChaseOptions& o, std::ostream& err) {
    ChaseSettings s;
    const std::string path = ChaseSettingsPath();
    std::string error;
    std::vector<std::string> problems;
    if (!LoadChaseSettings(path, s, error, problems)) err << "pelmora: " << error << '\n';
    for (const auto& p : problems) err << "pelmora: " << path << ": " << p << '\n';
    return o.AppliedTo(s);
}

bool TakeChaseOption(std::span<const std::string_view> args, std::size_t& i, ChaseOptions& o,
                     std::string& error) {
    const std::string_view a = args[i];
    if (a == "--estimates") {
        o.estimates = true;
        return true;
    }
    if (a == "--no-notifications") {
        o.noNotifications = true;
        return true;
    }
    const std::string_view name = a.substr(0, a.find('='));
    auto value = [&]() -> std::string_view {
        if (name.size() < a.size()) return a.substr(name.size() + 1);
        if (i + 1 < args.size()) return args[++i];
        return {};
    };
    auto number = [&](std::optional<double>& target, Range r) {
        const std::string_view v = value();
        target = InRange(v, r);
        if (!target)
            error = std::string(name) + " needs a number from " + Number(r.lo) + " to " +
                    Number(r.hi) + ", not \"" + std::string(v) + "\"";
        return true;
    };
    if (name == "--vrate-window") return number(o.vrateWindowS, kWindowS);
    if (name == "--drift-window") return number(o.driftWindowS, kWindowS);
    if (name == "--burst-drop") return number(o.burstDropM, kBurstDropM);
    if (name == "--alarm-km") return number(o.alarmKm, kAlarmKm);
    if (name == "--no-data") return number(o.noDataS, kNoDataS);
    if (name == "--flight-end") return number(o.flightEndMin, kFlightEndMin);
    if (name == "--burst-alt") return number(o.burstAltM, kBurstAltM);
    if (name == "--descent-rate") return number(o.descentRateMps, kDescentRateMps);
    if (name == "--ascent-rate") return number(o.ascentRateMps, kAscentRateMps);
    if (name == "--winds") {
        const std::string_view v = value();
        if (v.empty())
            error = "--winds needs a GRIB file";
        else
            o.windsPath = std::string(v);
        return true;
    }
    if (name == "--car-hold") return number(o.carHoldS, kCarHoldS);
    if (name == "--tiles") {
        const std::string_view v = value();
        if (IsTileUrl(v))
            o.tilesUrl = std::string(v);
        else
            error = "--tiles needs \"none\" or an http(s) address with {z}, {x} and {y}, not \"" +
                    std::string(v) + "\"";
        return true;
    }
    if (name == "--language") {
        const std::string_view v = value();
        if (v == "en" || v == "de")
            o.language = std::string(v);
        else
            error = "--language needs en or de, not \"" + std::string(v) + "\"";
        return true;
    }
    if (name == "--mbtiles") {
        const std::string_view v = value();
        if (v.empty())
            error = "--mbtiles needs a file";
        else
            o.mbtilesPath = std::string(v);
        return true;
    }
    if (name == "--landing-alt") {
        const std::string_view v = value();
        if (v == kAuto) {
            o.landingAltM = std::optional<double>{};
            return true;
        }
        const auto alt = InRange(v, kLandingAltM);
        if (alt)
            o.landingAltM = alt;
        else
            error = "--landing-alt needs \"auto\" or metres from -500 to 9000, not \"" +
                    std::string(v) + "\"";
        return true;
    }
    return false;
}

std::string ChaseUsageText() {
    return "Chase estimates (the window keeps its own changes in pelmora.ini in the\n"
           "configuration folder; these options hold for this run only):\n"
           "  --estimates      with --headless: an estimate= line after each record line\n"
           "  --vrate-window S seconds of fixes averaged for the vertical rate (default 30)\n"
           "  --drift-window S seconds of fixes giving the drift where no ascent wind is\n"
           "                   known (default 60)\n"
           "  --burst-drop M   fall below the highest altitude that is a burst (default 300)\n"
           "  --landing-alt M  ground altitude of the landing, or auto: the launch site when\n"
           "                   the monitor saw it, else 0 (default auto)\n"
           "  --alarm-km KM    landing alarm when the estimate is this close to home (10)\n"
           "  --no-data S      no-data alarm after this many seconds without a record (60)\n"
           "  --flight-end MIN a flight ends this many minutes after its newest fix came\n"
           "                   (in a replay: by the records' GPS time; default 30)\n"
           "  --car-hold S     with --gpsd: when the car's fix is lost, its last position\n"
           "                   stays home for this many seconds after the last fix, then\n"
           "                   the locator is home again (0 to 3600, default 300)\n"
           "  --tiles URL      map tiles under the ground track from this tile server, with\n"
           "                   {z}, {x} and {y} in it, or none (default: the OpenStreetMap\n"
           "                   standard tile server,\n"
           "                   " +
           std::string(kDefaultTileUrl) +
           ")\n"
           "  --mbtiles FILE   map tiles from this MBTiles file first, for use offline\n"
           "  --no-notifications  the window's alarms only on its banner and by its beep,\n"
           "                   not also as desktop notifications\n"
           "  --language en|de the window's texts in English, or as built (German with\n"
           "                   some English; the default in every locale)\n"
           "\n"
           "Predictions (from the first fixes of the ascent on; after the burst the estimate):\n"
           "  --burst-alt M    burst altitude assumed before the burst (default 30000)\n"
           "  --descent-rate V sink rate at sea level assumed before the burst, m/s, by the\n"
           "                   standard parachute law (default 5)\n"
           "  --ascent-rate V  ascent rate of a prediction before launch, m/s (default 5)\n"
           "  --winds FILE     a weather model's winds: a GRIB file of u, v and geopotential\n"
           "                   height on pressure levels, got before the chase (the program\n"
           "                   never downloads anything); above the probe they drift the\n"
           "                   prediction, below it the winds measured on the ascent\n";
}

}  // namespace monitor
