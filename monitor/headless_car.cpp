#include "monitor/headless_car.h"

#include <QMetaObject>

#include <chrono>
#include <ostream>

namespace monitor {

namespace {

constexpr int kHoldCheckMs = 1000;

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

HeadlessCar::HeadlessCar(QCoreApplication& app, std::ostream& err)
    : err_(err),
      clock_(SteadyMs),
      source_(
          [&app](std::function<void()> job) {
              QMetaObject::invokeMethod(&app, std::move(job), Qt::QueuedConnection);
          },
          GpsSource::Handlers{[this](const CarFix& fix) { tracker_.OnFix(fix); },
                              [this](const std::string& text) {
                                  err_ << "pelmora: " << text << '\n';
                                  err_.flush();
                              }}) {
    holdTimer_.setInterval(kHoldCheckMs);
    QObject::connect(&holdTimer_, &QTimer::timeout, &app, [this] { CheckHold(); });
}

HeadlessCar::~HeadlessCar() {
    source_.Stop();
}

void HeadlessCar::Start(const GpsServer& server, const std::string& ignoredDevice, int retryMs) {
    source_.Start(server, ignoredDevice, retryMs);
    holdTimer_.start();
}

void HeadlessCar::CheckHold() {
    const std::string said = notice_.Check(HomeNow(), holdS_);
    if (said.empty()) return;
    err_ << "pelmora: " << said << '\n';
    err_.flush();
}

std::optional<CarFix> HeadlessCar::Current() const {
    return tracker_.Current(clock_());
}

HomeSource HeadlessCar::Home() const {
    return [this]() -> std::optional<LatLonDeg> {
        const CarHomeState home = HomeNow();
        return home.fix ? std::optional(home.fix->position) : std::nullopt;
    };
}

std::string HeadlessCar::Line(std::size_t recordNumber, const FlightState& probe) {
    CheckHold();  // said before the lines it explains
    return FormatCarLine(recordNumber, MakeCarFigures(Current(), probe)) +
           FormatCarHoldLine(recordNumber, HomeNow(), probe);
}

}  // namespace monitor
