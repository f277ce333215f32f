// tavrin: the receiving station.
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "station/headless.h"
#include "station/options.h"
#include "station/window/main_window.h"

namespace {

bool HaveDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

int RunHeadless(int argc, char** argv, const station::StationOptions& options) {
    QCoreApplication app(argc, argv);
    station::HeadlessStation headless(options);
    QObject::connect(&headless, &station::HeadlessStation::Finished, &app,
                     [&app](int code) { app.exit(code); });
    if (!headless.Start()) return 1;
    return app.exec();
}

int RunWindow(int argc, char** argv, const station::StationOptions& options) {
    QApplication app(argc, argv);
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
    if (!options.headless && !HaveDisplay()) {
        std::cerr << "tavrin: no display found, running headless\n";
        options.headless = true;
    }
    return options.headless ? RunHeadless(argc, argv, options) : RunWindow(argc, argv, options);
}
