#include "tools/relay/history.h"

#include <gtest/gtest.h>

TEST(History, KeptByAgeAndByMemoryAndNumberedInArrivalOrder) {
    relay::History h(10 * 60000, 1 << 20);
    h.Add(0, "a#");
    h.Add(5 * 60000, "b#");
    h.Add(10 * 60000, "c#");
    EXPECT_EQ(h.Begin(), 0u);  // a is exactly ten minutes old
    h.Expire(10 * 60000 + 1);
    ASSERT_EQ(h.Begin(), 1u);
    EXPECT_EQ(h.End(), 3u);
    EXPECT_EQ(h.At(1), "b#");

    const std::size_t each = 100 + relay::kHistoryEntryOverheadBytes;
    relay::History bounded(60 * 60000, 10 * each);
    for (int i = 0; i < 25; ++i) bounded.Add(i, std::string(100, 'x'));
    EXPECT_EQ(bounded.Begin(), 15u);
    EXPECT_EQ(bounded.Bytes(), 10 * each);
    for (int i = 0; i < 1000; ++i) bounded.Add(100, "#");  // short ones pay their bookkeeping
    EXPECT_LE(bounded.Bytes(), 10 * each);
}
