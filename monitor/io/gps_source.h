// The chase car's position from the GPS daemon (gpsd) through its client library. Opening,
// reading and retrying run on a thread of their own, since opening can block for as long as a
// name lookup or a connect takes; each fix and each change of the connection is handed to the
// event loop through `post`. Plain C++: tests and a future serial-NMEA source stand in for it
// behind the same two callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "monitor/chase/car.h"

namespace monitor {

inline constexpr int kGpsRetryMs = 10000;

class GpsSource {
  public:
    // Runs a job on the event loop, from any thread.
    using Post = std::function<void(std::function<void()>)>;
    struct Handlers {
        // Every position report; a report without a fix (mode 1) and the daemon going away
        // come as a fix of mode None.
        std::function<void(const CarFix&)> onFix;
        // A change of the connection, said once: connected, unreachable, gone.
        std::function<void(const std::string&)> onMessage;
    };

    GpsSource(Post post, Handlers handlers);
    ~GpsSource();
    GpsSource(const GpsSource&) = delete;
    GpsSource& operator=(const GpsSource&) = delete;

    // Follows `server` until Stop, retrying every `retryMs` while it is away. Reports from
    // `ignoredDevice` (pelmora's own serial port, which a daemon may also read) are dropped.
    void Start(const GpsServer& server, const std::string& ignoredDevice,
               int retryMs = kGpsRetryMs);
    // Nothing is handed over after this returns. A thread still stuck in a connect is left to
    // finish on its own.
    void Stop();
    bool Running() const { return static_cast<bool>(shared_); }

    struct Shared;  // between the owner and its thread

  private:
    Post post_;
    Handlers handlers_;
    std::shared_ptr<Shared> shared_;
};

// The same device, after following links (a serial port named by a link to its pty).
bool SameDevice(const std::string& a, const std::string& b);

}  // namespace monitor
