// The waits between attempts after a lost server: growing steps with a spread, then the minute.
#include "station/uplink/retry_schedule.h"

#include <gtest/gtest.h>

namespace {

using station::RetrySchedule;

TEST(RetrySchedule, StepsDrawnBetweenHalfAndWholeThenTheRegularInterval) {
    for (std::uint32_t seed = 1; seed <= 50; ++seed) {
        RetrySchedule schedule(60000, seed);
        for (int step : RetrySchedule::kStepsMs) {
            const int wait = schedule.NextWaitMs();
            EXPECT_GE(wait, step / 2) << "seed " << seed;
            EXPECT_LE(wait, step) << "seed " << seed;
        }
        EXPECT_EQ(schedule.NextWaitMs(), 60000);
        EXPECT_EQ(schedule.NextWaitMs(), 60000);
        schedule.Reset();
        EXPECT_LE(schedule.NextWaitMs(), 2000) << "the operator's press starts the steps again";
    }
}

// A loss after a steady connection is tried again at once; one right after the login is a failed
// attempt, so a server that takes the login and closes is not asked again in a tight loop.
TEST(RetrySchedule, OnlyASteadyConnectionsLossIsTriedAgainAtOnce) {
    RetrySchedule schedule(60000, 3);
    EXPECT_EQ(schedule.AfterLossMs(RetrySchedule::kSteadyMs), 0);
    for (int step : RetrySchedule::kStepsMs) {
        const int wait = schedule.AfterLossMs(50);
        EXPECT_GE(wait, step / 2);
        EXPECT_LE(wait, step);
    }
    EXPECT_EQ(schedule.AfterLossMs(50), 60000);
    EXPECT_EQ(schedule.AfterLossMs(RetrySchedule::kSteadyMs + 1), 0);
    EXPECT_LE(schedule.NextWaitMs(), 2000);
}

// Stations that lost the same server must not return in the same instant.
TEST(RetrySchedule, WaitsSpreadOverTheirRange) {
    int lowest = 32000, highest = 0;
    for (std::uint32_t seed = 1; seed <= 200; ++seed) {
        RetrySchedule schedule(60000, seed);
        for (int i = 0; i < 4; ++i) schedule.NextWaitMs();
        const int wait = schedule.NextWaitMs();
        lowest = std::min(lowest, wait);
        highest = std::max(highest, wait);
    }
    EXPECT_LT(lowest, 20000);
    EXPECT_GT(highest, 28000);
}

TEST(RetrySchedule, NoStepLongerThanAShortenedInterval) {
    RetrySchedule schedule(300, 7);
    for (int i = 0; i < 5; ++i) {
        const int wait = schedule.NextWaitMs();
        EXPECT_GE(wait, 150);
        EXPECT_LE(wait, 300);
    }
    EXPECT_EQ(schedule.NextWaitMs(), 300);
}

}  // namespace
