// pelmora: the monitor. The window and the headless drivers share one StreamReader core.
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "common/locator.h"
#include "common/net/quit_on_signal.h"
#include "monitor/headless.h"
#include "monitor/headless_monitor.h"
#include "monitor/headless_predict.h"
#include "monitor/io/grib_winds.h"
#include "monitor/io/record_log.h"
#include "monitor/options.h"
#include "monitor/window/chase_window.h"
#include "monitor/window/main_window.h"

#ifndef PELMORA_VERSION
#define PELMORA_VERSION "unknown"
#endif

namespace {

constexpr int kExitBadArguments = 2;
constexpr std::size_t kReadChunk = 1024;
constexpr int kExitInputError = 1;

constexpr const char* kNoDisplay =
    "pelmora: no display to open the window on; --headless runs without one (see --help)";

bool HaveDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

// Qt's words while it looks for a display are held back: when it finds none, the user gets
// one line of ours instead of several of Qt's and an abort.
std::vector<std::string> heldQtMessages;

void HoldQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::cerr << kNoDisplay << '\n';
        std::_Exit(kExitBadArguments);
    }
    heldQtMessages.push_back(message.toStdString());
}

int RunHeadless(int& argc, char** argv, const monitor::Options& o) {
    const std::string locator = monitor::NormaliseLocator(o.locator);
    if (!common::IsValidLocator(locator))
        std::cerr << "pelmora: locator \"" << o.locator << "\" is not valid, using "
                  << monitor::kDefaultLocator << '\n';
    QCoreApplication app(argc, argv);
    const monitor::ChaseSettings chase = monitor::EffectiveChaseSettings(o.chase, std::cerr);
    monitor::HeadlessMonitor run(app, o, locator, chase, std::cout, std::cerr);
    if (!chase.windsPath.empty()) {
        std::string error;
        const auto winds = monitor::ReadGribWinds(chase.windsPath, error);
        if (!winds) {
            std::cerr << "pelmora: " << error << '\n';
            // A file asked for on the command line is meant; one kept from the window may be old.
            if (o.chase.windsPath) return kExitInputError;
            std::cerr << "pelmora: predictions without model winds\n";
        } else {
            std::cerr << "pelmora: model winds from \"" << chase.windsPath
                      << "\": " << winds->Describe() << '\n';
            run.Core().SetModelWinds(winds);
        }
    }
    if (!o.gpsd.empty()) run.StartCar();
    if (!o.serialPort.empty() && !run.OpenSerial()) return kExitBadArguments;
    if (!o.server.empty()) {
        if (o.recordLog)
            run.UseRecordLog(
                std::make_unique<monitor::RecordLog>(monitor::DefaultRecordLogFolder()));
        const int rc = monitor::RunLive(app, o.server, run.Handler(), std::cerr);
        if (rc == 0) run.Finish(true);
        return rc;
    }
    if (o.replayPath == "-") {
        run.UseReplayClock(false);
        run.Finish(monitor::RunPipe(app, STDIN_FILENO, run.Handler(), std::cerr));
        return 0;
    }
    std::ifstream file(o.replayPath, std::ios::binary);
    if (!file) {
        std::cerr << "pelmora: cannot open \"" << o.replayPath << "\"\n";
        return kExitInputError;
    }
    run.UseReplayClock(true);
    bool stopped = false;
    common::QuitOnSignals quitOnSignals(app, [&] {
        stopped = true;
        run.Stop();
    });
    std::array<char, kReadChunk> buf{};
    while (!stopped && (file.read(buf.data(), buf.size()) || file.gcount() > 0)) {
        run.Feed(std::string_view(buf.data(), static_cast<std::size_t>(file.gcount())));
        // The loop is not the event loop's: a signal is seen here.
        QCoreApplication::processEvents();
    }
    run.Finish(stopped);
    if (!stopped && file.bad()) {
        std::cerr << "pelmora: error reading \"" << o.replayPath << "\"\n";
        return kExitInputError;
    }
    return 0;
}

// The window with what the command line asked for already typed in and pressed. `qtArgs` are
// Qt's own window options (a start position for scripts that place windows side by side).
int RunWindow(char* program, const std::vector<char*>& qtArgs, const monitor::Options& o) {
    std::vector<char*> argv{program};
    argv.insert(argv.end(), qtArgs.begin(), qtArgs.end());
    argv.push_back(nullptr);
    int argc = static_cast<int>(argv.size()) - 1;
    if (!HaveDisplay()) {
        std::cerr << kNoDisplay << '\n';
        return kExitBadArguments;
    }
    const QtMessageHandler qtHandler = qInstallMessageHandler(HoldQtMessage);
    QApplication app(argc, argv.data());
    qInstallMessageHandler(qtHandler);
    for (const std::string& message : heldQtMessages) std::cerr << message << '\n';
    heldQtMessages.clear();
    if (const QString problem = monitor::UseWindowLanguage(app, o.chase); !problem.isEmpty())
        std::cerr << "pelmora: " << problem.toStdString() << '\n';
    monitor::TForm1 w;
    w.FormCreate();
    // --gpsd and --waypoint set the controls beside LOCATOR for this run, not pelmora.ini.
    monitor::ChaseOptions chase = o.chase;
    if (!o.gpsd.empty()) chase.gpsServer = o.gpsd;
    chase.waypoint = o.waypoint;
    if (o.locator != monitor::kDefaultLocator)
        w.findChild<QLineEdit*>(QStringLiteral("myloced"))
            ->setText(QString::fromStdString(monitor::NormaliseLocator(o.locator)));
    if (o.speedMs) w.Panel9Click();
    if (!o.serialPort.empty()) w.FollowSerial(QString::fromStdString(o.serialPort));
    // After the serial port, so a gpsd reading it is known for what it is.
    monitor::AddChasePanel(w, chase);
    w.Core().Follow(o.flight);
    if (o.recordLog)
        w.UseRecordLog(std::make_unique<monitor::RecordLog>(monitor::DefaultRecordLogFolder()));
    if (!o.server.empty()) {
        w.findChild<QComboBox*>(QStringLiteral("servercombo"))
            ->setCurrentText(QString::fromStdString(o.server));
        w.conbtnClick();
    }
    w.show();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string_view> args;
    std::vector<char*> qtArgs;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "-qwindowgeometry" && i + 1 < argc) {
            qtArgs.push_back(argv[i]);
            qtArgs.push_back(argv[++i]);
        } else {
            args.emplace_back(argv[i]);
        }
    }
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
    if (o.predict)
        return monitor::RunPredict(*o.predict, monitor::EffectiveChaseSettings(o.chase, std::cerr),
                                   std::cout, std::cerr);
    return o.headless ? RunHeadless(argc, argv, o) : RunWindow(argv[0], qtArgs, o);
}
