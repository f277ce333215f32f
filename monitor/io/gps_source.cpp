#include "monitor/io/gps_source.h"

#include <gps.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "common/numbers.h"

namespace monitor {

namespace {

constexpr int kPollMicroseconds = 200000;  // how soon a reading thread notices Stop
constexpr auto kStopWait = std::chrono::seconds(2);
constexpr double kKmhPerMps = 3.6;

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::optional<double> Finite(double v) {
    return std::isfinite(v) ? std::optional(v) : std::nullopt;
}

}  // namespace

bool SameDevice(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    if (a == b) return true;
    std::error_code ea, eb;
    const auto ca = std::filesystem::canonical(a, ea), cb = std::filesystem::canonical(b, eb);
    return !ea && !eb && ca == cb;
}

// What the thread and the owner share. The thread holds its own reference, so a thread left
// behind in a connect after Stop still finds it.
struct GpsSource::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    bool done = false;
    Post post;  // cleared by Stop: nothing more reaches the event loop
    Handlers handlers;

    bool Stopping() {
        std::lock_guard lock(mutex);
        return stop;
    }
    // Waits `ms` or until Stop; true when stopping.
    bool Sleep(int ms) {
        std::unique_lock lock(mutex);
        return wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop; });
    }
    void Hand(std::function<void(const Handlers&)> job) {
        std::lock_guard lock(mutex);
        if (stop || !post) return;
        // The handlers are copied into the job: Stop may clear ours before it runs.
        post([job = std::move(job), h = handlers] { job(h); });
    }
};

GpsSource::GpsSource(Post post, Handlers handlers)
    : post_(std::move(post)), handlers_(std::move(handlers)) {}

GpsSource::~GpsSource() {
    Stop();
}

namespace {

void Follow(const std::shared_ptr<GpsSource::Shared>& shared, const GpsServer& server,
            const std::string& ignoredDevice, int retryMs);

}  // namespace

void GpsSource::Start(const GpsServer& server, const std::string& ignoredDevice, int retryMs) {
    Stop();
    shared_ = std::make_shared<Shared>();
    shared_->post = post_;
    shared_->handlers = handlers_;
    std::thread([shared = shared_, server, ignoredDevice, retryMs] {
        Follow(shared, server, ignoredDevice, retryMs);
        std::lock_guard lock(shared->mutex);
        shared->done = true;
        shared->wake.notify_all();
    }).detach();
}

void GpsSource::Stop() {
    if (!shared_) return;
    std::unique_lock lock(shared_->mutex);
    shared_->stop = true;
    shared_->post = nullptr;
    shared_->wake.notify_all();
    // A reading thread ends within one poll; one stuck in a connect finishes on its own later.
    shared_->wake.wait_for(lock, kStopWait, [this] { return shared_->done; });
    lock.unlock();
    shared_.reset();
}

namespace {

void Follow(const std::shared_ptr<GpsSource::Shared>& shared, const GpsServer& server,
            const std::string& ignoredDevice, int retryMs) {
    using Handlers = GpsSource::Handlers;
    auto say = [&](std::string text) {
        shared->Hand([text = std::move(text)](const Handlers& h) {
            if (h.onMessage) h.onMessage(text);
        });
    };
    auto noFix = [&] {
        shared->Hand([](const Handlers& h) {
            if (h.onFix) h.onFix(CarFix{});
        });
    };
    const std::string where = server.Text();
    const std::string port = std::to_string(server.port);
    const std::string retry = (retryMs % 1000 ? common::FormatFixed(retryMs / 1000.0, 15, 1)
                                              : std::to_string(retryMs / 1000)) +
                              " s";
    bool saidAway = false;
    while (!shared->Stopping()) {
        gps_data_t data{};
        errno = 0;
        if (gps_open(server.host.c_str(), port.c_str(), &data) != 0) {
            if (!saidAway)
                say("no gpsd at " + where + " (" + gps_errstr(errno) + "), next attempt every " +
                    retry);
            saidAway = true;
            if (shared->Sleep(retryMs)) return;
            continue;
        }
        if (shared->Stopping()) {
            gps_close(&data);
            return;
        }
        gps_stream(&data, WATCH_ENABLE | WATCH_JSON, nullptr);
        say("connected to gpsd at " + where);
        saidAway = false;
        bool lost = false;
        while (!shared->Stopping()) {
            if (!gps_waiting(&data, kPollMicroseconds)) continue;
            if (gps_read(&data, nullptr, 0) == -1) {
                lost = true;
                break;
            }
            if (!(data.set & MODE_SET)) continue;  // not a position report
            if (SameDevice(data.dev.path, ignoredDevice)) continue;
            CarFix fix;
            fix.arrivalMs = SteadyMs();
            fix.device = data.dev.path;
            const auto lat = Finite(data.fix.latitude), lon = Finite(data.fix.longitude);
            if (data.fix.mode >= MODE_2D && lat && lon) {
                fix.mode = data.fix.mode >= MODE_3D ? CarFixMode::ThreeD : CarFixMode::TwoD;
                fix.position = {*lat, *lon};
                if (fix.mode == CarFixMode::ThreeD) fix.altMslM = Finite(data.fix.altMSL);
                if (const auto v = Finite(data.fix.speed)) fix.speedKmh = *v * kKmhPerMps;
                fix.trackDeg = Finite(data.fix.track);
            }
            shared->Hand([fix](const Handlers& h) {
                if (h.onFix) h.onFix(fix);
            });
        }
        gps_close(&data);
        if (!lost) return;
        noFix();
        say("gpsd at " + where + " went away, next attempt every " + retry);
        saidAway = true;
        if (shared->Sleep(retryMs)) return;
    }
}

}  // namespace

}  // namespace monitor
