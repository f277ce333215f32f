#include "monitor/options.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "common/numbers.h"
#include "monitor/chase/car.h"
#include "monitor/predict/wind_field.h"

namespace monitor {

namespace {

// Both "--name value" and "--name=value".
bool TakeValue(std::span<const std::string_view> args, std::size_t& i, std::string_view name,
               std::string& value, std::string& error) {
    const std::string_view a = args[i];
    if (a.size() > name.size() && a.substr(0, name.size()) == name && a[name.size()] == '=') {
        value = std::string(a.substr(name.size() + 1));
    } else if (a == name) {
        if (i + 1 >= args.size()) {
            error = std::string(name) + " needs a value";
            return true;
        }
        value = std::string(args[++i]);
    } else {
        return false;
    }
    if (value.empty() && error.empty()) error = std::string(name) + " needs a value";
    return true;
}

// A port number (1 is COM1) or a device path; whether it is there is found out when opening.
bool IsSerialPort(const std::string& port) {
    if (port.front() == '/') return true;
    const auto number = common::ParseInt(port);
    return number && *number >= 1 && *number <= 255;
}

}  // namespace

std::optional<LaunchAt> ParseLaunch(std::string_view text) {
    const auto c1 = text.find(',');
    const auto c2 = c1 == std::string_view::npos ? c1 : text.find(',', c1 + 1);
    if (c2 == std::string_view::npos) return std::nullopt;
    const auto lat = common::ParseDouble(text.substr(0, c1));
    const auto lon = common::ParseDouble(text.substr(c1 + 1, c2 - c1 - 1));
    const auto when = ParseUtc(text.substr(c2 + 1));
    if (!lat || !lon || !when || std::abs(*lat) > 90 || std::abs(*lon) > 180) return std::nullopt;
    return LaunchAt{{*lat, *lon}, *when};
}

ParsedOptions ParseOptions(std::span<const std::string_view> args) {
    ParsedOptions p;
    Options& o = p.options;
    for (std::size_t i = 0; i < args.size() && p.error.empty(); ++i) {
        const std::string_view a = args[i];
        if (a == "--headless") {
            o.headless = true;
        } else if (a == "--ms") {
            o.speedMs = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--waypoint") {
            o.waypoint = true;
        } else if (a == "--no-record-log") {
            o.recordLog = false;
        } else if (std::string launch; TakeValue(args, i, "--predict", launch, p.error)) {
            o.predict = ParseLaunch(launch);
            if (!o.predict && p.error.empty())
                p.error =
                    "--predict needs LAT,LON,YYYY-MM-DDTHH:MM[:SS]Z (degrees, negative "
                    "south and west; UTC), not \"" +
                    launch + "\"";
        } else if (TakeValue(args, i, "--replay", o.replayPath, p.error) ||
                   TakeValue(args, i, "--server", o.server, p.error) ||
                   TakeValue(args, i, "--locator", o.locator, p.error) ||
                   TakeValue(args, i, "--serial", o.serialPort, p.error) ||
                   TakeValue(args, i, "--gpsd", o.gpsd, p.error) ||
                   TakeValue(args, i, "--flight", o.flight, p.error) ||
                   TakeChaseOption(args, i, o.chase, p.error)) {
        } else {
            p.error = "unknown argument \"" + std::string(a) + "\"";
        }
    }
    if (!p.error.empty() || o.help || o.version) return p;
    if (o.predict) {
        if (!o.replayPath.empty() || !o.server.empty())
            p.error = "--predict excludes --server and --replay";
        else if (!o.chase.windsPath)
            p.error = "--predict needs a weather model's winds: --winds FILE";
        return p;
    }
    if (!o.replayPath.empty() && !o.server.empty())
        p.error = "--replay and --server exclude each other";
    else if (o.headless && o.replayPath.empty() && o.server.empty())
        p.error = "--headless needs --server HOST[:PORT] or --replay FILE (- for standard input)";
    else if (!o.headless && !o.replayPath.empty())
        p.error = "--replay works only with --headless";
    else if (!o.headless && o.chase.estimates)
        p.error = "--estimates works only with --headless";
    else if (!IsFlightChoice(o.flight))
        p.error =
            "--flight needs auto or a flight id (A, B, ..., AA, ...), not \"" + o.flight + "\"";
    else if (!o.serialPort.empty() && !IsSerialPort(o.serialPort))
        p.error =
            "--serial needs a port number (1..255) or a device path, not \"" + o.serialPort + "\"";
    else if (!o.gpsd.empty())
        ParseGpsServer(o.gpsd, p.error);
    return p;
}

std::string UsageText() {
    return "Usage: pelmora [--server HOST[:PORT]] [--locator LOC] [--ms] [--serial PORT]\n"
           "               [--gpsd HOST[:PORT]] [--waypoint] [--flight auto|ID]\n"
           "               [--no-record-log]\n"
           "       pelmora --headless --server HOST[:PORT] [--locator LOC] [--ms] [--serial PORT]\n"
           "               [--gpsd HOST[:PORT]] [--waypoint] [--flight auto|ID]\n"
           "               [--no-record-log]\n"
           "       pelmora --headless --replay FILE|- [--locator LOC] [--ms] [--serial PORT]\n"
           "               [--gpsd HOST[:PORT]] [--waypoint] [--flight auto|ID]\n"
           "       pelmora --predict LAT,LON,YYYY-MM-DDTHH:MM[:SS]Z --winds FILE\n"
           "               [--ascent-rate V] [--burst-alt M] [--descent-rate V] [--landing-alt M]\n"
           "Shows the telemetry of weather-balloon probes relayed by a collecting server.\n"
           "\n"
           "  --server HOST    the collecting server, HOST or HOST:PORT (port 3000 unless\n"
           "                   given; an IPv6 address with a port in brackets: [::1]:3000).\n"
           "                   The window connects at once; headless follows the server\n"
           "                   until SIGINT/SIGTERM, retrying every 10 s while it is away\n"
           "  --headless       run without a window, print what the window would show\n"
           "  --replay FILE    read a recorded record stream from FILE (- for standard input)\n"
           "                   until its end or SIGINT/SIGTERM\n"
           "  --locator LOC    your Maidenhead locator, the home position (default JN49EA)\n"
           "  --ms             show ground speed in m/s instead of km/h\n"
           "  --serial PORT    pass each GPS sentence on at 4800 baud to PORT, a port\n"
           "                   number (1 is COM1, /dev/ttyS0) or a device path. A device\n"
           "                   not there, or gone later, is opened when it appears (tried\n"
           "                   every 2 s)\n"
           "  --waypoint       after each GPS sentence also the landing estimate as a\n"
           "                   waypoint sentence ($GPWPL ... LANDING) to the serial port\n"
           "  --gpsd HOST      the car's own position from gpsd at HOST or HOST:PORT (port\n"
           "                   2947 unless given). With a fix the car is home: distances\n"
           "                   and estimates are measured from it, and headless prints a\n"
           "                   car= line after each record's lines. Retried every 10 s\n"
           "                   while gpsd is away; a fix older than 10 s counts as none\n"
           "  --flight ID      the flight the displays, the chase figures and the serial\n"
           "                   port follow: auto (the default) takes the one nearest to\n"
           "                   home when the first appears or the followed one ends; or\n"
           "                   a flight's id (A, B, ..., AA, ...: in order of first arrival)\n"
           "  --predict LAT,LON,TIME\n"
           "                   a prediction before launch, without a window: the flight from\n"
           "                   the launch point (degrees, negative south and west) at the UTC\n"
           "                   time (2026-12-08T10:00Z), up at --ascent-rate to --burst-alt,\n"
           "                   down at --descent-rate to --landing-alt (auto: 0 m), drifting\n"
           "                   with the winds of --winds; prints trajectory= lines every 60 s\n"
           "                   and one prediction=0 line with the landing\n"
           "  --no-record-log  do not keep the records received in the record log\n"
           "                   ($XDG_STATE_HOME/pelmora, one file a day), which a window or\n"
           "                   --server run reads back at start (the last 6 hours)\n"
           "  --help           show this text\n"
           "  --version        show the version\n"
           "\n" +
           ChaseUsageText();
}

bool IsFlightChoice(std::string_view choice) {
    if (choice == "auto") return true;
    return !choice.empty() && choice.size() <= 3 &&
           std::all_of(choice.begin(), choice.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string NormaliseLocator(std::string_view locator) {
    std::string s(locator);
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace monitor
