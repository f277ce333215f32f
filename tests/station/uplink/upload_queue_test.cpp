// Frames in flight: taken by the server only once their last byte is acknowledged.
#include "station/uplink/upload_queue.h"

#include <gtest/gtest.h>

namespace {

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

}  // namespace
