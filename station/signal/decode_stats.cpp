#include "station/signal/decode_stats.h"

#include <cstdio>

namespace station {

void DecodeStats::Count(bool ok, Clock::time_point now) noexcept {
    if (ok) {
        ++good_;
        lastGood_ = now;
    } else {
        ++bad_;
    }
}

std::optional<std::int64_t> DecodeStats::SecondsSinceGood(Clock::time_point now) const noexcept {
    if (!lastGood_) return std::nullopt;
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(now - *lastGood_).count();
    return s < 0 ? 0 : s;
}

std::string DecodeStats::Text(Clock::time_point now) const {
    std::string since = "-";
    if (const auto s = SecondsSinceGood(now)) {
        char buf[48];
        if (*s < 60)
            std::snprintf(buf, sizeof buf, "%lld s ago", static_cast<long long>(*s));
        else if (*s < 3600)
            std::snprintf(buf, sizeof buf, "%lld:%02lld ago", static_cast<long long>(*s / 60),
                          static_cast<long long>(*s % 60));
        else
            std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld ago",
                          static_cast<long long>(*s / 3600), static_cast<long long>(*s / 60 % 60),
                          static_cast<long long>(*s % 60));
        since = buf;
    }
    return "good " + std::to_string(good_) + "   bad " + std::to_string(bad_) + "   last good " +
           since + "   overruns " + std::to_string(overruns_);
}

}  // namespace station
