#include "station/options.h"

#include "common/numbers.h"
#include "common/text.h"
#include "station/uplink/station_id.h"

namespace station {

std::string StationUsage() {
    return "Usage: tavrin [options]\n"
           "Receiving station for weather-balloon probes: decodes the probe's 1200-baud FSK\n"
           "telemetry from sound-card audio and uploads good frames to a collecting server.\n"
           "\n"
           "  --device NAME        ALSA capture device (default: \"default\")\n"
           "  --input FILE         decode a recording (WAV, FLAC, OGG, ...) instead\n"
           "  --input -            decode raw signed 16-bit little-endian mono 12000 Hz from "
           "stdin\n"
           "  --realtime           play a recording at the pace it was recorded\n"
           "  --headless           no window: frames on standard output, messages on standard "
           "error\n"
           "  --unattended         headless for a station on its own (the service unit): on\n"
           "                       standard error a start line, connection changes, losses,\n"
           "                       errors and a status line a minute, no level line a second\n"
           "  --server HOST[:PORT] connect to a collecting server (default port 3001);\n"
           "                       an IPv6 address as ::1 or [::1]:3001\n"
           "  --call CALL          call sign for this run (default: CALL in tavrin.ini)\n"
           "  --locator LOC        locator for this run (default: LOCATOR in tavrin.ini)\n"
           "  --no-backlog         drop good frames that cannot be uploaded now, as unsent,\n"
           "                       instead of keeping them (up to 6 h) and sending them late\n"
           "                       after the reconnect\n"
           "  --no-log             do not write the flight log tavrin-YYYY-MM-DD.log\n"
           "  --polarity 1200|2200 the tone that means bit 1 (default 2200, the upper tone)\n"
           "  --tables rect|hamming  demodulate with 1200/2200 Hz tables, rectangular or\n"
           "                       Hamming-weighted (default: 1200/2400 Hz tables)\n"
           "  --service            show the service controls (polarity, service port, scope\n"
           "                       snapshot, tables, stored-value plot) in a row of their own\n"
           "  --no-waterfall       no spectrum and waterfall in the window (saves some CPU)\n"
           "  --decoder PATHS      literal, sensitive or both (default both): the literal\n"
           "                       demodulator, the more sensitive one, or both combined\n"
           "  --no-repair          do not repair the sensitive path's frames that fail their\n"
           "                       checksum by a bit or two\n"
           "  --no-coherent        the sensitive path decides by tone energy only, not also by\n"
           "                       tone phase (for comparison; it falls back by itself)\n"
           "  --language en|de     the window's texts in English, or as built (German with\n"
           "                       some English; the default in every locale); without it\n"
           "                       the LANGUAGE line in tavrin.ini, which the window's\n"
           "                       Sprache/Language menu sets\n"
           "  --help               show this help\n"
           "  --version            show the version\n"
           "Qt's own options (-qwindowgeometry WxH+X+Y, -platform NAME, -style NAME, ...) are\n"
           "passed to Qt. Without a display (no DISPLAY or WAYLAND_DISPLAY, or one that cannot\n"
           "be reached) tavrin says so and runs as with --headless.\n";
}

namespace {
// Qt's documented command-line options, with and without a value.
bool IsQtOptionWithValue(const std::string& a) {
    for (const char* o : {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                          "-qwindowgeometry", "-qwindowicon", "-qwindowtitle", "-display",
                          "-geometry", "-style", "-stylesheet", "-session"})
        if (a == o) return true;
    return false;
}
bool IsQtFlag(const std::string& a) {
    for (const char* o : {"-reverse", "-nograb", "-dograb", "-sync", "-widgetcount"})
        if (a == o) return true;
    return a.starts_with("-style=") || a.starts_with("-stylesheet=") ||
           a.starts_with("-qmljsdebugger=");
}
}  // namespace

std::variant<StationOptions, std::string> ParseStationArgs(const std::vector<std::string>& args) {
    StationOptions o;
    bool deviceGiven = false;
    bool inputGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) -> bool {
            if (i + 1 >= args.size() || args[i + 1].empty()) return false;
            out = args[++i];
            return true;
        };
        std::string v, latin1, problem;
        if (IsQtOptionWithValue(a)) {
            if (i + 1 >= args.size()) return a + " needs a value (an option of Qt's)";
            o.qtArgs.push_back(a);
            o.qtArgs.push_back(args[++i]);
        } else if (IsQtFlag(a)) {
            o.qtArgs.push_back(a);
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--headless") {
            o.headless = true;
        } else if (a == "--unattended") {
            o.unattended = o.headless = true;
        } else if (a == "--realtime") {
            o.realtime = true;
        } else if (a == "--no-log") {
            o.flightLog = false;
        } else if (a == "--no-backlog") {
            o.backlog = false;
        } else if (a == "--no-waterfall") {
            o.waterfall = false;
        } else if (a == "--no-repair") {
            o.repair = false;
        } else if (a == "--no-coherent") {
            o.coherent = false;
        } else if (a == "--decoder") {
            if (!value(v)) return "--decoder needs literal, sensitive or both";
            if (v == "literal") {
                o.decoder = demod::Decoder::Literal;
            } else if (v == "sensitive") {
                o.decoder = demod::Decoder::Sensitive;
            } else if (v == "both") {
                o.decoder = demod::Decoder::Both;
            } else {
                return "--decoder: \"" + v + "\" is none of literal, sensitive, both";
            }
        } else if (a == "--device") {
            if (!value(o.device)) return "--device needs an ALSA device name";
            deviceGiven = true;
        } else if (a == "--input") {
            if (!value(v)) return "--input needs a file name, or - for standard input";
            inputGiven = true;
            if (v == "-") {
                o.input = StationOptions::Input::Stdin;
            } else {
                o.input = StationOptions::Input::File;
                o.file = v;
            }
        } else if (a == "--server") {
            if (!value(v)) return "--server needs HOST or HOST:PORT";
            common::HostPort hp;
            if (!common::SplitHostPort(v, hp))
                return "--server wants HOST, HOST:PORT or [IPv6]:PORT with a port from 1 to "
                       "65535, not \"" +
                       v + "\"";
            o.server = hp.host;
            if (hp.port != 0) o.port = hp.port;
        } else if (a == "--call") {
            if (!value(v)) return "--call needs a call sign";
            if (!CheckStationId(v, latin1, problem))
                return "--call: a call sign cannot hold " + problem + RefusalReason(problem);
            o.call = v;
        } else if (a == "--locator") {
            if (!value(v)) return "--locator needs a Maidenhead locator";
            if (!CheckStationId(v, latin1, problem))
                return "--locator: a locator cannot hold " + problem + RefusalReason(problem);
            if (!IsMaidenheadLocator(common::FirstWord(v)))
                return "--locator: \"" + v + "\" is not a locator: " + kLocatorForm;
            o.locator = v;
        } else if (a == "--polarity") {
            if (!value(v) || (v != "1200" && v != "2200"))
                return "--polarity needs 1200 or 2200 (the tone that means bit 1)";
            o.markIsHigh = v == "2200";
        } else if (a == "--tables") {
            if (!value(v) || (v != "rect" && v != "hamming"))
                return "--tables needs rect or hamming";
            o.tables = v == "rect" ? StationOptions::Tables::Rect : StationOptions::Tables::Hamming;
        } else if (a == "--service") {
            o.service = true;
        } else if (a == "--language") {
            if (!value(v) || (v != "en" && v != "de")) return "--language needs en or de";
            o.language = v;
        } else {
            return "unknown argument \"" + a + "\" (see tavrin --help)";
        }
    }
    if (deviceGiven && inputGiven) return "--device and --input exclude each other";
    if (o.realtime && o.input == StationOptions::Input::Alsa)
        return "--realtime only applies to --input";
    return o;
}

std::string ServerWithPort(const StationOptions& options) {
    const std::string port = std::to_string(options.port);
    if (options.server.find(':') != std::string::npos)
        return "[" + options.server + "]:" + port;  // an IPv6 literal
    return options.server + ":" + port;
}

}  // namespace station
