#include "monitor/replay.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <istream>
#include <ostream>

#include "common/numbers.h"

namespace monitor {

namespace {

constexpr std::size_t kReadChunk = 1024;

// A value must not break the tab-separated line it is printed in.
std::string OneField(std::string_view v) {
    std::string s(v);
    std::replace_if(
        s.begin(), s.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return s;
}

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

}  // namespace

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
        } else if (TakeValue(args, i, "--replay", o.replayPath, p.error) ||
                   TakeValue(args, i, "--locator", o.locator, p.error) ||
                   TakeValue(args, i, "--serial", o.serialPort, p.error)) {
        } else {
            p.error = "unknown argument \"" + std::string(a) + "\"";
        }
    }
    if (!p.error.empty() || o.help || o.version) return p;
    if (o.headless && o.replayPath.empty())
        p.error = "--headless needs --replay FILE (or --replay - for standard input)";
    else if (!o.headless && !o.replayPath.empty())
        p.error = "--replay works only with --headless";
    else if (!o.headless && !o.serialPort.empty())
        p.error = "--serial works only with --headless for now";
    return p;
}

std::string UsageText() {
    return "Usage: pelmora --headless --replay FILE|- [--locator LOC] [--ms] [--serial PORT]\n"
           "Shows the telemetry of a weather-balloon probe relayed by a collecting server.\n"
           "\n"
           "  --headless       run without a window, print what the window would show\n"
           "  --replay FILE    read a recorded record stream from FILE (- for standard input)\n"
           "  --locator LOC    your Maidenhead locator, the home position (default JN49EA)\n"
           "  --ms             show ground speed in m/s instead of km/h\n"
           "  --serial PORT    pass each GPS sentence on at 4800 baud to PORT, a port\n"
           "                   number (1 is COM1, /dev/ttyS0) or a device path\n"
           "  --help           show this text\n"
           "  --version        show the version\n";
}

std::string NormaliseLocator(std::string_view locator) {
    std::string s(locator);
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string FormatReplayLine(std::size_t n, const Displays& d) {
    std::string line = "record=" + std::to_string(n);
    auto add = [&line](std::string_view name, std::string_view value) {
        line += '\t';
        line += name;
        line += '=';
        line += OneField(value);
    };
    add("rxstatlb", d.rxstatlb);
    add("utclb", d.utclb);
    add("satlb", d.satlb);
    add("ubatlb", d.ubatlb);
    add("tbatlb", d.tbatlb);
    add("tauslb", d.tauslb);
    add("plb", d.plb);
    add("hgpslb", d.hgpslb);
    add("gvlb", d.gvlb);
    add("ghlb", d.ghlb);
    add("dvllb", d.dvllb);
    add("tacholb", d.tacholb);
    add("course", d.courseDrawn ? common::FormatFixed(d.courseDeg, 7, 1) : "-");
    line += '\n';
    return line;
}

std::size_t RunReplay(std::istream& in, StreamReader& reader, std::ostream& out, std::ostream& err,
                      const std::function<void(const RecordResult&)>& onRecord) {
    std::size_t count = 0;
    std::array<char, kReadChunk> buf{};
    auto report = [&](const FeedResult& r) {
        for (const auto& m : r.messages) err << "pelmora: " << m << '\n';
        for (const auto& rec : r.records) {
            ++count;
            if (!rec.error.empty()) err << "pelmora: record " << count << ": " << rec.error << '\n';
            out << FormatReplayLine(count, rec.displays);
            if (onRecord) onRecord(rec);
        }
    };
    while (in.read(buf.data(), buf.size()) || in.gcount() > 0)
        report(reader.Feed(std::string_view(buf.data(), static_cast<std::size_t>(in.gcount()))));
    if (reader.PendingBytes() > 0)
        err << "pelmora: ignored " << reader.PendingBytes()
            << " bytes at the end without an ending \"#\"\n";
    out.flush();
    return count;
}

}  // namespace monitor
