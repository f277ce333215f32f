#include "monitor/headless_monitor.h"

#include <QEventLoop>
#include <QTimer>

#include <ostream>
#include <stdexcept>

#include "monitor/headless_car.h"
#include "monitor/io/navigation_device.h"
#include "monitor/io/nmea_output.h"
#include "monitor/io/record_log.h"

namespace monitor {

// The GPS sentences of a headless run go to the navigation device on a serial port, which may
// come and go. Writing never waits for the device; a file replay waits for each record's
// sentences so it goes no faster than the line.
class SerialForward {
  public:
    SerialForward(QCoreApplication& app, std::ostream& err)
        : output_(comm_), device_(comm_, &app), err_(err) {
        device_.OnLineError = [this](int errors) {
            err_ << "pelmora: serial port error (line status " << errors << ")\n";
        };
        device_.OnNotice = [this](const std::string& text) { Say(text); };
        output_.OnNotice = [this](const std::string& text) { Say(text); };
    }
    ~SerialForward() { device_.Close(); }

    void SetWaypointOn(bool on) { output_.SetWaypointOn(on); }
    // Throws std::invalid_argument for a text that names no port.
    void Follow(const std::string& port) { device_.Follow(port); }

    // `waypoint` is where the followed flight is expected down; `paced` waits until the
    // sentences went out, so a file replay goes no faster than the line.
    void Send(const std::string& line, const std::optional<LatLonDeg>& waypoint, bool paced) {
        try {
            output_.SetLine(line, waypoint ? LandingWaypointSentence(*waypoint) : "");
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
            err_ << "pelmora: " << e.what() << '\n';
        }
    }

  private:
    void Say(const std::string& text) {
        err_ << "pelmora: " << text << '\n';
        err_.flush();
    }

    common::TSerComm comm_;
    NmeaOutput output_;
    NavigationDevice device_;
    std::ostream& err_;
};

HeadlessMonitor::HeadlessMonitor(QCoreApplication& app, const Options& o,
                                 const std::string& locator, const ChaseSettings& chase,
                                 std::ostream& out, std::ostream& err)
    : app_(app),
      options_(o),
      out_(out),
      err_(err),
      core_(locator, chase.analytics, chase.alarms, TrackerSettings{chase.flightEndMin * 60}),
      carHoldS_(chase.carHoldS) {
    core_.Reader().SetSpeedKmh(!o.speedMs);
    core_.Follow(o.flight);
}

HeadlessMonitor::~HeadlessMonitor() = default;

bool HeadlessMonitor::OpenSerial() {
    serial_ = std::make_unique<SerialForward>(app_, err_);
    serial_->SetWaypointOn(options_.waypoint);
    try {
        serial_->Follow(options_.serialPort);
    } catch (const std::invalid_argument& e) {
        err_ << "pelmora: " << e.what() << '\n';
        serial_.reset();
        return false;
    }
    return true;
}

void HeadlessMonitor::StartCar() {
    std::string error;
    const auto server = ParseGpsServer(options_.gpsd, error);
    car_ = std::make_unique<HeadlessCar>(app_, err_);
    car_->SetHoldS(carHoldS_);
    core_.SetHomeSource(car_->Home());
    const std::string& port = options_.serialPort;
    car_->Start(*server, port.empty() || port.front() != '/' ? std::string() : port);
}

void HeadlessMonitor::UseRecordLog(std::unique_ptr<RecordLog> log) {
    log_ = std::move(log);
    std::vector<std::string> problems;
    const double now = ReceiveClockS();
    const auto records = log_->ReadSince(now - kRecordLogReadBackS, problems);
    for (const std::string& p : problems) err_ << "pelmora: record log: " << p << '\n';
    for (const LoggedRecord& r : records) core_.Take(r.record, r.receivedS, false);
    core_.Tick(now, std::nullopt);
    if (!records.empty())
        err_ << "pelmora: read back " << records.size() << " records of the last "
             << kRecordLogReadBackS / 3600 << " h from " << log_->Folder() << " ("
             << core_.Tracker().Flights().size() << " flights)\n";
}

void HeadlessMonitor::UseReplayClock(bool paced) {
    replay_ = true;
    paced_ = paced;
    core_.UseGpsClock();
}

StreamHandler HeadlessMonitor::Handler() {
    StreamHandler h;
    h.started = [this] {
        if (const std::size_t dropped = core_.Reader().StartStream())
            err_ << "pelmora: dropped " << dropped
                 << " bytes of an unfinished record of the last connection\n";
    };
    h.bytes = [this](std::string_view bytes) { Feed(bytes); };
    if (!replay_) h.tick = [this] { Tick(); };
    return h;
}

double HeadlessMonitor::ReceiveClockS() const {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void HeadlessMonitor::Feed(std::string_view bytes) {
    const SplitResult split = core_.Reader().Split(bytes);
    for (const auto& m : split.messages) err_ << "pelmora: " << m << '\n';
    if (!split.records.empty()) lastRecord_ = std::chrono::steady_clock::now();
    for (const std::string& record : split.records) {
        if (stopped_) break;
        const double now = ReceiveClockS();
        Print(core_.Take(record, now));
        std::string problem;
        if (log_ && !log_->Append({now, record}, problem) && log_->Failed() == 1)
            err_ << "pelmora: record log: " << problem
                 << " (records are followed on, not kept; counted from here on)\n";
    }
}

void HeadlessMonitor::Print(const RecordOutcome& r) {
    const std::size_t n = r.number;
    if (!r.shown.error.empty()) err_ << "pelmora: record " << n << ": " << r.shown.error << '\n';
    if (!r.firstRefusal.empty()) err_ << "pelmora: " << r.firstRefusal << '\n';
    out_ << FormatReplayLine(n, r.shown.displays);
    const FlightState& followed = core_.FollowedAnalytics().State();
    if (options_.chase.estimates) out_ << FormatEstimateLine(n, followed);
    // A file is read in one go: the car's fixes and the port's answers that came meanwhile are
    // let in per record.
    if (paced_ && (car_ || serial_)) QCoreApplication::processEvents();
    if (car_) out_ << car_->Line(n, followed);
    if (options_.chase.estimates) {
        out_ << FormatFlightLine(r, core_.Tracker());
        if (followed.prediction) out_ << FormatPredictionLine(n, *followed.prediction);
        PrintAlarms(r.alarms);
    }
    out_.flush();
    SayDropped(r.dropped);
    // After the record's lines: its waypoint is this record's estimate.
    if (serial_ && r.toDevice) {
        const auto& landing = followed.landing;
        serial_->Send(r.shown.nmeaLine, landing ? std::optional(landing->point) : std::nullopt,
                      paced_ && !stopped_);
    }
}

void HeadlessMonitor::PrintAlarms(const std::vector<FlightAlarm>& alarms) {
    for (const FlightAlarm& a : alarms) out_ << FormatAlarmLine(core_.Records(), a);
}

void HeadlessMonitor::SayDropped(const std::vector<std::string>& ids) {
    for (const std::string& id : ids)
        err_ << "pelmora: candidate flight " << id
             << " dropped: no later fix and no second station within "
             << core_.Tracker().Settings().candidateS / 60 << " min\n";
}

void HeadlessMonitor::Tick() {
    std::optional<double> age;
    if (lastRecord_)
        age =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - *lastRecord_).count();
    std::vector<std::string> dropped;
    const auto alarms = core_.Tick(ReceiveClockS(), age, &dropped);
    SayDropped(dropped);
    if (options_.chase.estimates) PrintAlarms(alarms);
    out_.flush();
}

void HeadlessMonitor::Finish(bool stopped) {
    ReportUnfinished(core_.Reader(), err_);
    if (const std::string summary = core_.SummaryText(); !summary.empty())
        err_ << "pelmora: " << summary << '\n';
    if (log_ && log_->Failed() > 0)
        err_ << "pelmora: record log: " << log_->Failed() << " records not kept\n";
    if (stopped) err_ << "pelmora: stopped after " << core_.Records() << " records\n";
    out_.flush();
}

}  // namespace monitor
