// Command line of tavrin, parsed without Qt so it can be tested on its own.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "station/demod/frame_combiner.h"

namespace station {

inline constexpr int kStationPort = 3001;

struct StationOptions {
    enum class Input { Alsa, File, Stdin };
    Input input = Input::Alsa;
    std::string device = "default";  // ALSA device name
    std::string file;                // recorded audio for Input::File
    bool realtime = false;           // pace a recording as it was recorded
    bool headless = false;
    // A station on its own (service unit): a status line a minute instead of the level line a
    // second, a start line; implies headless.
    bool unattended = false;
    bool flightLog = true;
    bool waterfall = true;                          // spectrum and waterfall in the window
    demod::Decoder decoder = demod::Decoder::Both;  // --decoder: which decoding paths run
    bool repair = true;                             // --no-repair turns soft repair off
    bool coherent = true;                           // --no-coherent: energy decisions only
    bool backlog = true;  // --no-backlog: good frames that cannot be sent now are not kept
    std::string server;   // empty: no uplink from the command line
    int port = kStationPort;
    std::optional<std::string> call, locator;  // override tavrin.ini for this run
    // Demodulator start state: mark on the upper tone (flag set) or the lower one; tables as
    // at start (1200/2400 Hz), or after one or two presses of the window switch (1200/2200 Hz).
    bool markIsHigh = true;
    enum class Tables { Start, Rect, Hamming };
    Tables tables = Tables::Start;
    bool service = false;  // show the service controls
    std::string language;  // --language: "en" or "de"; empty: as tavrin.ini says
    bool help = false;
    bool version = false;
    // Qt's own options (-qwindowgeometry 640x480, -platform xcb, -reverse, ...), each with its
    // value, for the application object.
    std::vector<std::string> qtArgs;
};

// The options, or an error message for the user.
std::variant<StationOptions, std::string> ParseStationArgs(const std::vector<std::string>& args);
std::string StationUsage();

// The server as the uplink takes it: "host:port", "[v6 literal]:port".
std::string ServerWithPort(const StationOptions& options);

}  // namespace station
