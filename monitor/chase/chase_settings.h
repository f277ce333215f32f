// Settings of the chase analytics and alarms. What the user changes in the window is kept in
// "pelmora.ini" in the user's configuration folder; command-line options hold for one run and
// are never written there. The file is a list of name=value lines.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/chase/car.h"
#include "monitor/chase/car_hold.h"
#include "monitor/chase/chase_alarms.h"
#include "monitor/chase/flight_analytics.h"

namespace monitor {

inline constexpr const char* kChaseSettingsFile = "pelmora.ini";
inline constexpr const char* kDefaultTileUrl = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
inline constexpr const char* kNoTiles = "none";

// "none", or an http(s) address holding {z}, {x} and {y}.
bool IsTileUrl(std::string_view url);

// The car's GPS as the window's controls beside LOCATOR set it.
struct GpsSettings {
    bool on = false;
    std::string server = std::string(kGpsdDefaultServer);
    bool waypoint = false;  // the landing estimate to the navigation device

    bool operator==(const GpsSettings&) const = default;
};

struct ChaseSettings {
    AnalyticsSettings analytics;
    AlarmSettings alarms;
    bool nightTheme = false;
    std::string tilesUrl = kDefaultTileUrl;  // kNoTiles: no tile server
    std::string mbtilesPath;                 // empty: no file
    GpsSettings gps;
    double flightEndMin = 30;   // a flight ends this long after its newest fix came
    bool notifications = true;  // alarms also as desktop notifications
    int columnWidthPx = 0;      // the window's column beside the map; 0: its own choice
    std::string language;       // the window's: "en", "de", or empty for the texts as built
    std::string windsPath;      // a weather model's GRIB file; empty: none
    double carHoldS = kDefaultCarHoldS;  // the car's last position stays home this long

    bool operator==(const ChaseSettings&) const = default;
};

// $XDG_CONFIG_HOME/pelmora.ini, else $HOME/.config/pelmora.ini; empty when neither is set.
std::string ChaseSettingsPath();

// Lines over `base`: known names set their value, other lines and values that do not
// convert are skipped, each with a message in `problems`.
ChaseSettings ParseChaseSettings(std::string_view text, const ChaseSettings& base,
                                 std::vector<std::string>& problems);
std::string ChaseSettingsText(const ChaseSettings& s);

// A missing file is no error: the defaults stand. False with `error` when the file is there
// but cannot be read.
bool LoadChaseSettings(const std::string& path, ChaseSettings& s, std::string& error,
                       std::vector<std::string>& problems);
// Creates the folder, writes a temporary file beside the old one and renames it over it.
bool SaveChaseSettings(const std::string& path, const ChaseSettings& s, std::string& error);

// Command-line options for this run only.
struct ChaseOptions {
    bool estimates = false;  // headless: an estimate= line after each record line
    std::optional<double> vrateWindowS;
    std::optional<double> driftWindowS;
    std::optional<double> burstDropM;
    std::optional<std::optional<double>> landingAltM;  // set to empty: automatic
    std::optional<double> alarmKm;
    std::optional<double> noDataS;
    std::optional<std::string> tilesUrl;
    std::optional<std::string> mbtilesPath;
    std::optional<double> flightEndMin;
    std::optional<double> carHoldS;
    std::optional<std::string> gpsServer;  // --gpsd: GPS on with this server
    bool waypoint = false;                 // --waypoint
    bool noNotifications = false;          // --no-notifications
    std::optional<std::string> language;   // --language en|de
    std::optional<double> burstAltM;
    std::optional<double> descentRateMps;
    std::optional<double> ascentRateMps;
    std::optional<std::string> windsPath;

    ChaseSettings AppliedTo(ChaseSettings s) const;
};

// The settings file's values with the options over them; trouble with the file goes to `err`.
ChaseSettings EffectiveChaseSettings(const ChaseOptions& o, std::ostream& err);

// Takes args[i] (and its value) when it is a chase option; true then, with `error` set when
// its value is unusable. False when args[i] is none of them.
bool TakeChaseOption(std::span<const std::string_view> args, std::size_t& i, ChaseOptions& o,
                     std::string& error);
// The options' lines for the usage text.
std::string ChaseUsageText();

}  // namespace monitor
