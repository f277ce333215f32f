// Decode statistics for the window: good and bad frames since start, how long ago the last
// good one came, and the sound card's overruns. Plain C++; the clock is passed in.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace station {

class DecodeStats {
  public:
    using Clock = std::chrono::steady_clock;

    void Count(bool ok, Clock::time_point now) noexcept;
    void SetOverruns(std::int64_t overruns) noexcept { overruns_ = overruns; }

    int Good() const noexcept { return good_; }
    int Bad() const noexcept { return bad_; }
    std::int64_t Overruns() const noexcept { return overruns_; }
    // Whole seconds since the last good frame; empty before the first.
    std::optional<std::int64_t> SecondsSinceGood(Clock::time_point now) const noexcept;

    // "good 12   bad 3   last good 4 s ago   overruns 0" ("last good -" before the first;
    // minutes and hours once the seconds grow: "last good 12:04 ago", "1:02:09 ago").
    std::string Text(Clock::time_point now) const;

  private:
    int good_ = 0, bad_ = 0;
    std::int64_t overruns_ = 0;
    std::optional<Clock::time_point> lastGood_;
};

}  // namespace station
