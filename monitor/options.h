// The command line of pelmora: what to follow (a server, a recording), where home is, where the
// GPS sentences go, and the chase options.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "monitor/chase/chase_settings.h"
#include "monitor/core/track.h"

namespace monitor {

// Where and when a probe is launched, for a prediction before launch.
struct LaunchAt {
    LatLonDeg point;
    double unixS = 0;  // UTC, seconds since 1970
};

// "LAT,LON,YYYY-MM-DDTHH:MM[:SS]Z"; empty when it is no such launch.
std::optional<LaunchAt> ParseLaunch(std::string_view text);

struct Options {
    bool headless = false;
    bool help = false;
    bool version = false;
    std::string replayPath;  // "-" is standard input; empty when not given
    std::string server;      // HOST[:PORT] to follow live; empty when not given
    std::string locator = std::string(kDefaultLocator);
    bool speedMs = false;
    std::string serialPort;       // port number or device path for the GPS sentences; empty: none
    std::string gpsd;             // HOST[:PORT] of the car's GPS daemon; empty: no car position
    bool waypoint = false;        // the landing estimate as a waypoint sentence after each GGA
    std::string flight = "auto";  // the flight the displays follow: auto or its id
    bool recordLog = true;        // keep every record received in the record log
    std::optional<LaunchAt> predict;  // --predict: a prediction before launch, nothing else
    ChaseOptions chase;
};

struct ParsedOptions {
    Options options;
    std::string error;  // non-empty: the arguments are unusable
};

// `args` without the program name.
ParsedOptions ParseOptions(std::span<const std::string_view> args);
std::string UsageText();

// "auto" or a flight id: one to three capital letters.
bool IsFlightChoice(std::string_view choice);

// Upper case, as the window's locator edit forces it.
std::string NormaliseLocator(std::string_view locator);

}  // namespace monitor
