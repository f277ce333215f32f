// tavrin: the receiving station.
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "common/net/quit_on_signal.h"
#include "station/headless.h"
#include "station/options.h"
#include "station/window/main_window.h"

namespace {

// Whether a local X display answers: its socket in /tmp/.X11-unix, or the abstract one.
bool XDisplayAnswers(int number) {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    for (const bool abstract : {false, true}) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return true;  // cannot tell: let Qt try
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::size_t at = abstract ? 1 : 0;  // an abstract name starts with a NUL
        std::memcpy(addr.sun_path + at, path.data(), path.size());
        const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + at + path.size());
        const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
        ::close(fd);
        if (ok) return true;
    }
    return false;
}

// Why there is no display to open a window on; empty when there is one (or Qt is told which
// platform to use, or the display is remote and only Qt can tell).
std::string NoDisplayReason(const station::StationOptions& options) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return {};
    for (const auto& a : options.qtArgs)
        if (a == "-platform") return {};
    const char* w = std::getenv("WAYLAND_DISPLAY");
    if (w && *w) return {};
    const char* x = std::getenv("DISPLAY");
    if (!x || !*x) return "DISPLAY and WAYLAND_DISPLAY are not set";
    const std::string display = x;
    const auto colon = display.rfind(':');
    const std::string host = colon == std::string::npos ? display : display.substr(0, colon);
    if (colon == std::string::npos || (!host.empty() && host != "unix")) return {};
    int number = -1;
    if (std::sscanf(display.c_str() + colon + 1, "%d", &number) != 1 || number < 0) return {};
    if (XDisplayAnswers(number)) return {};
    return "nothing answers on DISPLAY " + display;
}

// Qt sees the program name and its own options only.
struct QtArgv {
    std::vector<std::string> strings;
    std::vector<char*> pointers;
    int argc = 0;
    QtArgv(const char* program, const std::vector<std::string>& qtArgs) {
        strings.emplace_back(program);
        strings.insert(strings.end(), qtArgs.begin(), qtArgs.end());
        for (auto& a : strings) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        argc = static_cast<int>(strings.size());
    }
};

int RunHeadless(QtArgv& args, const station::StationOptions& options) {
    QCoreApplication app(args.argc, args.pointers.data());
    station::HeadlessStation headless(options);
    QObject::connect(&headless, &station::HeadlessStation::Finished, &app,
                     [&app](int code) { app.exit(code); });
    const common::QuitOnSignals quitOnSignals(app, [&headless] { headless.Interrupt(); });
    if (!headless.Start()) return 1;
    return app.exec();
}

int RunWindow(QtArgv& args, const station::StationOptions& options) {
    QApplication app(args.argc, args.pointers.data());
    if (const QString problem = station::UseStationLanguage(app, options); !problem.isEmpty())
        std::cerr << "tavrin: " << problem.toStdString() << "\n";
    station::StationWindow window(options);
    window.show();
    // Capture starts from the creation handler, once the window exists.
    QTimer::singleShot(0, &window, [&window] { window.FormCreate(); });
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = station::ParseStationArgs(args);
    if (auto* error = std::get_if<std::string>(&parsed)) {
        std::cerr << "tavrin: " << *error << "\n";
        return 2;
    }
    auto options = std::get<station::StationOptions>(parsed);
    if (options.help) {
        std::cout << station::StationUsage();
        return 0;
    }
    if (options.version) {
        std::cout << "tavrin " << TAVRIN_VERSION << "\n";
        return 0;
    }
    if (!options.headless) {
        const std::string why = NoDisplayReason(options);
        if (!why.empty()) {
            std::cerr << "tavrin: no display (" << why
                      << "): running without a window, as with --headless: frames on standard "
                         "output, messages here\n";
            options.headless = true;
        }
    }
    QtArgv qt(argc > 0 ? argv[0] : "tavrin", options.qtArgs);
    return options.headless ? RunHeadless(qt, options) : RunWindow(qt, options);
}
