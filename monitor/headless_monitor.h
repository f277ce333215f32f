// A headless run of the monitor: every record's outcome as lines on standard output (record=,
// and with --estimates estimate=, car=, flight= and alarm=), what needs saying on standard error,
// and the followed flight's fixes to the navigation device on a serial port.
#pragma once

#include <QCoreApplication>

#include <chrono>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "monitor/chase/chase_settings.h"
#include "monitor/flights/monitor_core.h"
#include "monitor/headless.h"
#include "monitor/options.h"

namespace monitor {

class HeadlessCar;
class RecordLog;
class SerialForward;

class HeadlessMonitor {
  public:
    // `locator` as normalised; `chase` the settings in effect.
    HeadlessMonitor(QCoreApplication& app, const Options& o, const std::string& locator,
                    const ChaseSettings& chase, std::ostream& out, std::ostream& err);
    ~HeadlessMonitor();

    // The navigation device of --serial, opened now or as soon as it can be; false after saying
    // why its text names no port.
    bool OpenSerial();
    // Follows the car's gpsd of --gpsd.
    void StartCar();

    // Keeps every record received in `log`, after reading back what it holds of the last hours.
    void UseRecordLog(std::unique_ptr<RecordLog> log);
    // A replay's times are its records' own GPS times; `paced`: read from a file, which would
    // outrun the serial line and the car's fixes, so each record waits for them.
    void UseReplayClock(bool paced);
    // The driver's view of this run.
    StreamHandler Handler();
    void Feed(std::string_view bytes);
    void Tick();
    // SIGINT or SIGTERM: records still in hand are left, nothing more waits for the line.
    void Stop() { stopped_ = true; }
    // The end of a run: an unfinished record, the refused records and dropped candidates, and
    // for a run a signal `stopped` (every live one) the count of records.
    void Finish(bool stopped);

    MonitorCore& Core() { return core_; }

  private:
    void Print(const RecordOutcome& r);
    void PrintAlarms(const std::vector<FlightAlarm>& alarms);
    void SayDropped(const std::vector<std::string>& ids);
    double ReceiveClockS() const;

    QCoreApplication& app_;
    const Options& options_;
    std::ostream& out_;
    std::ostream& err_;
    MonitorCore core_;
    double carHoldS_;
    std::unique_ptr<HeadlessCar> car_;
    std::unique_ptr<SerialForward> serial_;
    std::unique_ptr<RecordLog> log_;
    bool replay_ = false;
    bool paced_ = false;
    bool stopped_ = false;
    std::optional<std::chrono::steady_clock::time_point> lastRecord_;
};

}  // namespace monitor
