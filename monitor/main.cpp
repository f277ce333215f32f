// pelmora: the monitor. For now only the headless replay exists; the window will be a
// second driver of the same StreamReader.
#include <QCoreApplication>

#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "common/locator.h"
#include "common/serial/qt_dispatcher.h"
#include "monitor/nmea_output.h"
#include "monitor/replay.h"
#include "monitor/stream_reader.h"

#ifndef PELMORA_VERSION
#define PELMORA_VERSION "unknown"
#endif

namespace {

constexpr int kExitBadArguments = 2;
constexpr int kExitInputError = 1;

// The GPS sentences of a replay go to a serial port. Writes are direct, so the replay goes no
// faster than 4800 baud carries the sentences; the port's notifications run between records.
class SerialForward {
  public:
    SerialForward(int& argc, char** argv) : app_(argc, argv), output_(comm_) {
        comm_.SetDispatcher(common::MakeQtDispatcher(&app_));
        comm_.SetDirectWrite(true);
        comm_.OnError = [](common::TSerCustomComm&, int errors) {
            std::cerr << "pelmora: serial port error (line status " << errors << ")\n";
        };
    }
    ~SerialForward() { comm_.Close(); }

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

    void Record(const monitor::RecordResult& record) {
        QCoreApplication::processEvents();
        try {
            output_.SetLine(record.nmeaLine);
        } catch (const std::exception& e) {
            std::cerr << "pelmora: " << e.what() << '\n';
        }
    }

  private:
    QCoreApplication app_;
    common::TSerComm comm_;
    monitor::NmeaOutput output_;
};

int RunHeadless(int& argc, char** argv, const monitor::Options& o) {
    const std::string locator = monitor::NormaliseLocator(o.locator);
    if (!common::IsValidLocator(locator))
        std::cerr << "pelmora: locator \"" << o.locator << "\" is not valid, using "
                  << monitor::kDefaultLocator << '\n';
    monitor::StreamReader reader(locator);
    reader.SetSpeedKmh(!o.speedMs);
    std::unique_ptr<SerialForward> serial;
    std::function<void(const monitor::RecordResult&)> onRecord;
    if (!o.serialPort.empty()) {
        serial = std::make_unique<SerialForward>(argc, argv);
        if (!serial->Open(o.serialPort)) return kExitInputError;
        onRecord = [&serial](const monitor::RecordResult& r) { serial->Record(r); };
    }
    if (o.replayPath == "-") {
        monitor::RunReplay(std::cin, reader, std::cout, std::cerr, onRecord);
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
    return RunHeadless(argc, argv, o);
}
