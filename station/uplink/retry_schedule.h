// When the uplink tries again after a lost or failed connection: at once, then after waits that
// double from 2 s to 32 s, then at the regular interval. Each wait is drawn between half its
// step and the whole step, so stations that lost the same server do not all come back at once.
// A connection that drops soon after it was made counts as a failed attempt: a server that
// takes the login and closes is not hammered.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>

namespace station {

inline constexpr int kReconnectIntervalMs = 60000;

class RetrySchedule {
  public:
    static constexpr std::array<int, 5> kStepsMs{2000, 4000, 8000, 16000, 32000};
    // Up at least this long: the connection was a real one, its loss starts the steps again.
    static constexpr int kSteadyMs = 10000;

    explicit RetrySchedule(int intervalMs = kReconnectIntervalMs);
    RetrySchedule(int intervalMs, std::uint32_t seed);

    // The regular interval; no step is longer (tests shorten both with it).
    void SetIntervalMs(int ms) { intervalMs_ = ms > 0 ? ms : 1; }
    int IntervalMs() const noexcept { return intervalMs_; }
    // The operator asked for a connection: the steps start again.
    void Reset() noexcept { step_ = 0; }
    // The wait after an attempt that failed.
    int NextWaitMs();
    // The wait after a connection that was up for `upForMs` was lost; 0: at once.
    int AfterLossMs(std::int64_t upForMs);

  private:
    int intervalMs_;
    std::size_t step_ = 0;
    std::mt19937 random_;
};

}  // namespace station
