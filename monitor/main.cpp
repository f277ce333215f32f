// pelmora: the monitor. For now only the headless replay exists; the window will be a
// second driver of the same StreamReader.
#include <fstream>
#include <iostream>
#include <string_view>
#include <vector>

#include "common/locator.h"
#include "monitor/replay.h"
#include "monitor/stream_reader.h"

#ifndef PELMORA_VERSION
#define PELMORA_VERSION "unknown"
#endif

namespace {

constexpr int kExitBadArguments = 2;
constexpr int kExitInputError = 1;

int RunHeadless(const monitor::Options& o) {
    const std::string locator = monitor::NormaliseLocator(o.locator);
    if (!common::IsValidLocator(locator))
        std::cerr << "pelmora: locator \"" << o.locator << "\" is not valid, using "
                  << monitor::kDefaultLocator << '\n';
    monitor::StreamReader reader(locator);
    reader.SetSpeedKmh(!o.speedMs);
    if (o.replayPath == "-") {
        monitor::RunReplay(std::cin, reader, std::cout, std::cerr);
        return 0;
    }
    std::ifstream file(o.replayPath, std::ios::binary);
    if (!file) {
        std::cerr << "pelmora: cannot open \"" << o.replayPath << "\"\n";
        return kExitInputError;
    }
    monitor::RunReplay(file, reader, std::cout, std::cerr);
    if (file.bad()) {
        std::cerr << "pelmora: error reading \"" << o.replayPath << "\"\n";
        return kExitInputError;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const monitor::ParsedOptions parsed = monitor::ParseOptions(args);
    if (!parsed.error.empty()) {
        std::cerr << "pelmora: " << parsed.error << "\n\n" << monitor::UsageText();
        return kExitBadArguments;
    }
    const monitor::Options& o = parsed.options;
    if (o.help) {
        std::cout << monitor::UsageText();
        return 0;
    }
    if (o.version) {
        std::cout << "pelmora " << PELMORA_VERSION << '\n';
        return 0;
    }
    if (!o.headless) {
        std::cerr << "pelmora: the monitor window is not available yet; use "
                     "--headless --replay FILE to read a recorded stream\n";
        return kExitBadArguments;
    }
    return RunHeadless(o);
}
