// Frames in flight: taken by the server only once their last byte is acknowledged.
#include "station/uplink/upload_queue.h"

#include <gtest/gtest.h>

namespace {

using station::Backlog;
using station::InFlight;
using station::UploadFrame;

std::vector<int> Numbers(const std::vector<UploadFrame>& frames) {
    std::vector<int> n;
    for (const auto& f : frames) n.push_back(f.number);
    return n;
}

TEST(InFlight, AFrameIsTakenOnlyWhenItsLastByteIsAcknowledged) {
    InFlight f;
    f.Start();
    f.Wrote(14);  // the login line
    f.Wrote(UploadFrame{1, std::string(100, 'a')});
    f.Wrote(UploadFrame{2, std::string(100, 'b')});
    f.Wrote(UploadFrame{3, std::string(100, 'c')});
    EXPECT_TRUE(f.Acknowledged(300).empty()) << "the login line alone";
    EXPECT_TRUE(f.Acknowledged(201).empty()) << "frame 1 short of its last byte";
    EXPECT_EQ(Numbers(f.Acknowledged(200)), std::vector<int>{1});
    EXPECT_EQ(Numbers(f.Acknowledged(50)), std::vector<int>{2});
    EXPECT_EQ(f.Frames(), 1u);
    const auto lost = f.TakeAll();
    EXPECT_EQ(Numbers(lost), std::vector<int>{3});
    EXPECT_EQ(lost[0].text, std::string(100, 'c'));
    EXPECT_EQ(f.Frames(), 0u);

    // A new connection counts its bytes from its own start.
    f.Start();
    f.Wrote(UploadFrame{4, "x#"});
    EXPECT_EQ(Numbers(f.Acknowledged(0)), std::vector<int>{4});
}

// Frames a failed connection held go back among those still waiting, in the order heard, so
// the late frames reach the server in time order among themselves.
TEST(Backlog, ReturnedFramesTakeTheirPlaceAndAllCountAsLate) {
    Backlog b;
    const auto t = Backlog::Clock::now();
    for (int n : {2, 5, 6}) b.Add(UploadFrame{n, "x", t});
    b.Return({UploadFrame{1, "r", t}, UploadFrame{3, "r", t}, UploadFrame{7, "r", t}});
    std::vector<int> order;
    while (!b.Empty()) {
        const UploadFrame f = b.TakeOldest();
        EXPECT_TRUE(f.waited) << f.number;
        order.push_back(f.number);
        if (f.number == 3 && order.size() == 3) b.PutBackOldest(f);  // a refused send
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 3, 5, 6, 7}));
}

// At least the last six hours are kept; beyond that, and beyond the memory bound, the oldest go.
TEST(Backlog, BoundedByAgeAndMemory) {
    Backlog b;
    const auto start = Backlog::Clock::now();
    for (int n = 1; n <= 4; ++n) b.Add(UploadFrame{n, "x", start + std::chrono::hours(n)});
    EXPECT_EQ(b.Expire(start + std::chrono::hours(7)), 0) << "frame 1 is exactly six hours old";
    EXPECT_EQ(b.Expire(start + std::chrono::hours(8) + std::chrono::seconds(1)), 2);
    EXPECT_EQ(b.TakeOldest().number, 3);

    Backlog big;
    const std::string mb(1 << 20, 'm');
    int dropped = 0;
    for (int n = 1; n <= 20; ++n) dropped += big.Add(UploadFrame{n, mb, start});
    EXPECT_EQ(dropped, 4);
    EXPECT_EQ(big.Size(), 16u);
    EXPECT_EQ(big.TakeOldest().number, 5);
    EXPECT_EQ(big.Return({UploadFrame{1, mb, start}, UploadFrame{2, mb, start}}), 1);
    EXPECT_EQ(big.TakeOldest().number, 2);
}

}  // namespace
