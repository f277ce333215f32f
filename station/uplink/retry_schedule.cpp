#include "station/uplink/retry_schedule.h"

#include <algorithm>

namespace station {

RetrySchedule::RetrySchedule(int intervalMs) : RetrySchedule(intervalMs, std::random_device{}()) {}

RetrySchedule::RetrySchedule(int intervalMs, std::uint32_t seed) : random_(seed) {
    SetIntervalMs(intervalMs);
}

int RetrySchedule::NextWaitMs() {
    if (step_ >= kStepsMs.size()) return intervalMs_;
    const int step = std::min(kStepsMs[step_++], intervalMs_);
    return std::uniform_int_distribution<int>(step / 2, step)(random_);
}

int RetrySchedule::AfterLossMs(std::int64_t upForMs) {
    if (upForMs < kSteadyMs) return NextWaitMs();
    Reset();
    return 0;
}

}  // namespace station
