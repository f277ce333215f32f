#include "monitor/headless_car.h"

#include <QMetaObject>

#include <chrono>
#include <ostream>

namespace monitor {

namespace {

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

HeadlessCar::HeadlessCar(QCoreApplication& app, std::ostream& out, std::ostream& err,
                         FlightAnalytics* shared, const AnalyticsSettings& settings)
    : out_(out),
      err_(err),
      own_(shared ? nullptr : std::make_unique<FlightAnalytics>(settings)),
      analytics_(shared ? shared : own_.get()),
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
    analytics_->SetHomeSource(Home());
}

HeadlessCar::~HeadlessCar() {
    source_.Stop();
    analytics_->SetHomeSource({});
}

void HeadlessCar::Start(const GpsServer& server, const std::string& ignoredDevice, int retryMs) {
    source_.Start(server, ignoredDevice, retryMs);
}

HomeSource HeadlessCar::Home() {
    return [this]() -> std::optional<LatLonDeg> {
        const auto fix = tracker_.Current(clock_());
        return fix ? std::optional(fix->position) : std::nullopt;
    };
}

HeadlessCar::Hook HeadlessCar::After(Hook inner) {
    return [this, inner = std::move(inner)](const RecordResult& r) {
        if (inner) inner(r);
        Record(r);
    };
}

void HeadlessCar::Record(const RecordResult& record) {
    if (own_) own_->AddRecord(record.record);
    out_ << FormatCarLine(++count_, MakeCarFigures(tracker_.Current(clock_()), analytics_->State()))
         << std::flush;
}

}  // namespace monitor
