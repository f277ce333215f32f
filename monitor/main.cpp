// pelmora: the monitor. The window and the headless drivers share one StreamReader core.
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "common/locator.h"
#include "common/serial/qt_dispatcher.h"
#include "monitor/chase/estimate_printer.h"
#include "monitor/core/replay.h"
#include "monitor/core/stream_reader.h"
#include "monitor/headless.h"
#include "monitor/headless_car.h"
#include "monitor/io/nmea_output.h"
#include "monitor/options.h"
#include "monitor/window/chase_window.h"
#include "monitor/window/main_window.h"

#ifndef PELMORA_VERSION
#define PELMORA_VERSION "unknown"
#endif

namespace {

constexpr int kExitBadArguments = 2;
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

// The GPS sentences of a headless run go to a serial port. Writing never waits for the device;
// a file replay waits for each record's sentences so it goes no faster than the line.
class SerialForward {
  public:
    explicit SerialForward(QCoreApplication& app) : output_(comm_) {
        comm_.SetDispatcher(common::MakeQtDispatcher(&app));
        comm_.OnError = [](common::TSerCustomComm&, int errors) {
            std::cerr << "pelmora: serial port error (line status " << errors << ")\n";
        };
        comm_.OnClose = [](common::TSerCustomComm&) {
            std::cerr << "pelmora: serial port closed, GPS sentences are no longer passed on\n";
        };
        output_.OnNotice = [](const std::string& text) {
            std::cerr << "pelmora: " << text << '\n';
        };
    }
    ~SerialForward() {
        comm_.OnClose = nullptr;
        comm_.Close();
    }

    void SetWaypointOn(bool on) { output_.SetWaypointOn(on); }

    bool Open(const std::string& port) {
        try {
            monitor::ConfigureNmeaPort(comm_, port);
            comm_.Open();
            return true;
        } catch (const std::exception& e) {
            std::cerr << "pelmora: " << e.what() << '\n';
            return false;
        }
    }

    // `landing` is where the analytics expect the probe down, for the waypoint sentence; `paced`
    // waits until the record's sentences went out, so a file replay goes no faster than the line.
    void Record(const monitor::RecordResult& record, const monitor::FlightAnalytics* landing,
                bool paced) {
        try {
            const auto& estimate = landing ? landing->State().landing : std::nullopt;
            output_.SetLine(record.nmeaLine,
                            estimate ? monitor::LandingWaypointSentence(estimate->point) : "");
            if (paced && output_.Sending()) {
                // The port's write thread hands its notifications to this thread and waits
                // for them, so the wait must keep this thread's events running.
                QEventLoop loop;
                QTimer::singleShot(output_.SendTimeMs(), &loop, &QEventLoop::quit);
                output_.OnSent = [&loop] { loop.quit(); };
                loop.exec();
                output_.OnSent = nullptr;
            }
        } catch (const std::exception& e) {
            std::cerr << "pelmora: " << e.what() << '\n';
        }
    }

  private:
    common::TSerComm comm_;
    monitor::NmeaOutput output_;
};

int RunHeadless(int& argc, char** argv, const monitor::Options& o) {
    const std::string locator = monitor::NormaliseLocator(o.locator);
    if (!common::IsValidLocator(locator))
        std::cerr << "pelmora: locator \"" << o.locator << "\" is not valid, using "
                  << monitor::kDefaultLocator << '\n';
    QCoreApplication app(argc, argv);
    monitor::StreamReader reader(locator);
    reader.SetSpeedKmh(!o.speedMs);
    std::function<void(const monitor::RecordResult&)> onRecord;
    std::unique_ptr<monitor::EstimatePrinter> estimates;
    const monitor::AnalyticsSettings analyticsSettings =
        o.chase.estimates || !o.gpsd.empty() || o.waypoint
            ? monitor::EffectiveChaseSettings(o.chase, std::cerr).analytics
            : monitor::AnalyticsSettings{};
    if (o.chase.estimates) {
        estimates =
            std::make_unique<monitor::EstimatePrinter>(analyticsSettings, locator, std::cout);
        onRecord = estimates->After(onRecord);
    }
    std::unique_ptr<monitor::HeadlessCar> car;
    if (!o.gpsd.empty()) {
        std::string error;
        const auto server = monitor::ParseGpsServer(o.gpsd, error);
        car = std::make_unique<monitor::HeadlessCar>(app, std::cout, std::cerr,
                                                     estimates ? &estimates->Analytics() : nullptr,
                                                     analyticsSettings);
        reader.SetHomeSource(car->Home());
        car->Start(*server, o.serialPort.empty() || o.serialPort.front() != '/' ? std::string()
                                                                                : o.serialPort);
        // A file is read in one go: the fixes that arrived meanwhile are let in per record.
        if (o.server.empty() && o.replayPath != "-" && o.serialPort.empty())
            onRecord = [inner = std::move(onRecord)](const monitor::RecordResult& r) {
                QCoreApplication::processEvents();
                if (inner) inner(r);
            };
        onRecord = car->After(onRecord);
    }
    // The GPS sentence goes out after the record's lines: its waypoint is this record's estimate.
    std::unique_ptr<SerialForward> serial;
    std::unique_ptr<monitor::FlightAnalytics> waypointAnalytics;
    if (!o.serialPort.empty()) {
        serial = std::make_unique<SerialForward>(app);
        if (!serial->Open(o.serialPort)) return kExitInputError;
        serial->SetWaypointOn(o.waypoint);
        const monitor::FlightAnalytics* landing = nullptr;
        if (o.waypoint) {
            if (estimates)
                landing = &estimates->Analytics();
            else if (car)
                landing = &car->Analytics();
            else
                landing = (waypointAnalytics =
                               std::make_unique<monitor::FlightAnalytics>(analyticsSettings))
                              .get();
        }
        // Live and pipe input run on the event loop, which serves the port between reads; a
        // file is read in one go, so the port's notifications are let in between its records.
        const bool fromFile = o.server.empty() && o.replayPath != "-";
        onRecord = [&serial, fromFile, landing, own = waypointAnalytics.get(),
                    inner = std::move(onRecord)](const monitor::RecordResult& r) {
            if (inner) inner(r);
            if (own) own->AddRecord(r.record);
            if (fromFile) QCoreApplication::processEvents();
            serial->Record(r, landing, fromFile);
        };
    }
    if (!o.server.empty())
        return monitor::RunLive(app, o.server, reader, std::cout, std::cerr, onRecord);
    if (o.replayPath == "-") {
        monitor::RunPipeReplay(app, STDIN_FILENO, reader, std::cout, std::cerr, onRecord);
        return 0;
    }
    std::ifstream file(o.replayPath, std::ios::binary);
    if (!file) {
        std::cerr << "pelmora: cannot open \"" << o.replayPath << "\"\n";
        return kExitInputError;
    }
    monitor::RunReplay(file, reader, std::cout, std::cerr, onRecord);
    if (file.bad()) {
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
    if (!o.serialPort.empty()) {
        w.findChild<QLineEdit*>(QStringLiteral("comped"))
            ->setText(QString::fromStdString(o.serialPort));
        w.Button1Click();
    }
    // After the serial port, so a gpsd reading it is known for what it is.
    monitor::AddChasePanel(w, chase);
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
    return o.headless ? RunHeadless(argc, argv, o) : RunWindow(argv[0], qtArgs, o);
}
