#include <gtest/gtest.h>

#include <ostream>

#include <memory>
#include <set>

#include "capture_test_util.h"
#include "station/capture/audio_device.h"

namespace capture::test {
namespace {

// Fills every buffer with a running 16-bit counter, so lost, repeated or stale blocks show.
class CounterBackend : public Backend {
  public:
    CounterBackend(bool failOpen, bool block, int overrunEvery = 0)
        : failOpen_(failOpen), block_(block), overrunEvery_(overrunEvery) {}
    bool Open(const Format& format, std::string& error) override {
        if (failOpen_) error = "no such card";
        format_ = format;
        return !failOpen_;
    }
    Fill Read(std::span<char> out, ReaderContext& context) override {
        if (block_) {
            context.SleepUntil(std::chrono::steady_clock::now() + std::chrono::hours(1));
            return {};
        }
        for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
            out[i] = static_cast<char>(next_ & 0xFF);
            out[i + 1] = static_cast<char>(next_ >> 8);
            ++next_;
        }
        // Paced a little, so the owner's loop is not flooded.
        context.SleepUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
        const bool overran = overrunEvery_ > 0 && ++reads_ % overrunEvery_ == 0;
        return {out.size(), false, {}, overran ? 2 : 0, {}};
    }

  private:
    bool failOpen_;
    bool block_;
    int overrunEvery_;
    int reads_ = 0;
    Format format_;
    std::uint16_t next_ = 0;
};

class CounterDevice : public TAudioDevice {
  public:
    bool failOpen = false;
    bool block = false;
    int overrunEvery = 0;
    int backendsMade = 0;

  protected:
    std::unique_ptr<Backend> CreateBackend() override {
        ++backendsMade;
        return std::make_unique<CounterBackend>(failOpen, block, overrunEvery);
    }
};

// Each delivered block continues the counter where the previous one stopped.
void ExpectContinuous(const Collector& c, std::uint16_t first = 0) {
    const auto samples = c.Samples();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(static_cast<std::uint16_t>(samples[i]), static_cast<std::uint16_t>(first + i))
            << "sample " << i;
    }
}

TEST(AudioDeviceProperties, ProgramSettingsGiveBlocksOf1500Samples) {
    TAudioDevice device;
    device.SetBufferSize(3000);
    device.SetNumBuffers(2);
    device.SetFrameRate(12000);
    EXPECT_EQ(device.UsedBufferSize() / device.BlockAlign(), 1500);
    EXPECT_EQ(device.BytesPerSecond(), 24000);  // 8 buffers a second
}

struct BufferCase {
    int set;
    int bits;
    bool stereo;
    int size;  // BufferSize()
    int used;  // UsedBufferSize()
};

std::ostream& operator<<(std::ostream& out, const BufferCase& c) {
    return out << c.set << " bytes " << c.bits << (c.stereo ? " bit stereo" : " bit mono");
}

class BufferSizeRule : public ::testing::TestWithParam<BufferCase> {};

TEST_P(BufferSizeRule, MinimumAndWholeFrames) {
    const BufferCase& c = GetParam();
    TAudioDevice device;
    device.SetQuantization(c.bits);
    device.SetStereo(c.stereo);
    device.SetBufferSize(c.set);
    EXPECT_EQ(device.BufferSize(), c.size);
    EXPECT_EQ(device.UsedBufferSize(), c.used);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BufferSizeRule,
    ::testing::Values(BufferCase{-5, 16, false, 512, 512}, BufferCase{0, 16, false, 512, 512},
                      BufferCase{511, 16, false, 512, 512}, BufferCase{512, 16, false, 512, 512},
                      BufferCase{513, 16, false, 513, 512}, BufferCase{3000, 16, false, 3000, 3000},
                      BufferCase{3001, 16, false, 3001, 3000},
                      BufferCase{3003, 16, true, 3003, 3000}, BufferCase{515, 16, true, 515, 512},
                      BufferCase{3001, 8, false, 3001, 3001}, BufferCase{3001, 8, true, 3001, 3000},
                      BufferCase{100, 8, true, 512, 512}));

class NumBuffersRule : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(NumBuffersRule, ClampedToTwoToFour) {
    TAudioDevice device;
    device.SetNumBuffers(GetParam().first);
    EXPECT_EQ(device.NumBuffers(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Table, NumBuffersRule,
                         ::testing::Values(std::pair{-1, 2}, std::pair{0, 2}, std::pair{1, 2},
                                           std::pair{2, 2}, std::pair{3, 3}, std::pair{4, 4},
                                           std::pair{5, 4}, std::pair{100, 4}));

class QuantizationRule : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(QuantizationRule, EightOrSixteen) {
    TAudioDevice device;
    device.SetQuantization(GetParam().first);
    EXPECT_EQ(device.Quantization(), GetParam().second);
    device.SetStereo(true);
    EXPECT_EQ(device.BlockAlign(), GetParam().second / 8 * 2);
}

INSTANTIATE_TEST_SUITE_P(Table, QuantizationRule,
                         ::testing::Values(std::pair{-8, 8}, std::pair{0, 8}, std::pair{7, 8},
                                           std::pair{8, 8}, std::pair{9, 16}, std::pair{12, 16},
                                           std::pair{16, 16}, std::pair{24, 16},
                                           std::pair{32, 16}));

class RingOrder : public ::testing::TestWithParam<int> {};

TEST_P(RingOrder, BuffersCycleInRingOrderWithContinuousSamples) {
    const int n = GetParam();
    CounterDevice device;
    device.SetBufferSize(3000);
    device.SetNumBuffers(n);
    device.SetFrameRate(12000);
    Collector c;
    c.Attach(device);
    ASSERT_TRUE(device.Start()) << device.ErrorMessage();
    EXPECT_EQ(c.starts, 1);
    EXPECT_TRUE(c.buffers.empty()) << "delivered before the caller returned to its event loop";
    const std::size_t want = static_cast<std::size_t>(3 * n + 1);
    ASSERT_TRUE(SpinUntil([&] { return c.buffers.size() >= want; }));
    device.Stop();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(c.stops, 1);
    EXPECT_FALSE(c.wrongThread);

    std::set<const char*> distinct(c.pointers.begin(), c.pointers.end());
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < c.pointers.size(); ++i) {
        EXPECT_EQ(c.pointers[i], c.pointers[i % static_cast<std::size_t>(n)]) << "delivery " << i;
        EXPECT_EQ(c.sizes[i], 3000);
    }
    ExpectContinuous(c);

    const std::size_t delivered = c.buffers.size();
    SpinFor(50);
    EXPECT_EQ(c.buffers.size(), delivered) << "delivered after Stop";
}

INSTANTIATE_TEST_SUITE_P(Counts, RingOrder, ::testing::Values(2, 3, 4));

// Overruns a backend reports reach the owner's thread as a running count, before the buffer
// that follows the gap, and the count starts again with each Start.
TEST(AudioDeviceRing, OverrunsAreCountedOnTheOwnersThread) {
    CounterDevice device;
    device.overrunEvery = 3;
    Collector c;
    c.Attach(device);
    std::vector<std::pair<int, std::size_t>> told;  // total, buffers delivered by then
    bool wrongThread = false;
    device.OnOverrun = [&](TAudioDevice* sender, int total) {
        wrongThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        EXPECT_EQ(sender, &device);
        told.emplace_back(total, c.buffers.size());
    };
    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(SpinUntil([&] { return c.buffers.size() >= 9; }));
    device.Stop();
    EXPECT_FALSE(wrongThread);
    ASSERT_GE(told.size(), 3u);
    for (std::size_t i = 0; i < told.size(); ++i) {
        EXPECT_EQ(told[i].first, 2 * static_cast<int>(i + 1));
        EXPECT_EQ(told[i].second, 3 * i + 2) << "told before the third read's buffer";
    }
    EXPECT_EQ(device.Overruns(), told.back().first);
    ExpectContinuous(c);
    ASSERT_TRUE(device.Start());
    EXPECT_EQ(device.Overruns(), 0);
    device.Stop();
}

TEST(AudioDeviceRing, StopsWhenNoBufferIsGivenBack) {
    CounterDevice device;
    device.SetNumBuffers(3);
    Collector c;
    c.accept = [](int) { return false; };
    c.Attach(device);
    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(SpinUntil([&] { return !device.IsOpen(); }));
    SpinFor(50);
    EXPECT_EQ(c.buffers.size(), 3u);
    EXPECT_EQ(c.stops, 1);
    ExpectContinuous(c);
}

TEST(AudioDeviceRing, KeptBackBufferIsNeverDeliveredAgain) {
    CounterDevice device;
    device.SetNumBuffers(3);
    Collector c;
    c.accept = [](int index) { return index != 1; };
    c.Attach(device);
    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(SpinUntil([&] { return c.buffers.size() >= 12; }));
    device.Stop();
    // Two buffers keep circulating; every block carries fresh samples.
    ExpectContinuous(c);
    for (std::size_t i = 2; i < c.pointers.size(); ++i) EXPECT_NE(c.pointers[i], c.pointers[1]);
}

TEST(AudioDeviceRing, SecondStartReportsAlreadyOpenAndKeepsRecording) {
    CounterDevice device;
    Collector c;
    c.Attach(device);
    ASSERT_TRUE(device.Start());
    EXPECT_FALSE(device.Start());
    EXPECT_EQ(device.ErrorMessage(), "Wave Input device is already open");
    EXPECT_TRUE(device.IsOpen());
    ASSERT_TRUE(SpinUntil([&] { return c.buffers.size() >= 6; }));
    device.Stop();
    EXPECT_EQ(device.backendsMade, 1);
    EXPECT_EQ(c.starts, 1);
    ExpectContinuous(c);
}

TEST(AudioDeviceRing, FailedOpenReportsThePlatformText) {
    CounterDevice device;
    device.failOpen = true;
    Collector c;
    c.Attach(device);
    EXPECT_FALSE(device.Start());
    EXPECT_EQ(device.ErrorMessage(), "Error starting wave record: no such card");
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(c.starts, 0);
    device.Stop();
    EXPECT_EQ(c.stops, 0);
}

TEST(AudioDeviceRing, FrameRateOfZeroFailsStartInsteadOfRecording) {
    CounterDevice device;
    device.SetFrameRate(0);
    EXPECT_FALSE(device.Start());
    EXPECT_EQ(device.ErrorMessage().rfind(kStartError, 0), 0u) << device.ErrorMessage();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.backendsMade, 0);
}

TEST(AudioDeviceRing, StopInsideTheHandlerEndsDeliveries) {
    CounterDevice device;
    Collector c;
    c.Attach(device);
    c.accept = [&](int index) {
        if (index == 2) device.Stop();
        return true;
    };
    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(SpinUntil([&] { return !device.IsOpen(); }));
    SpinFor(50);
    EXPECT_EQ(c.buffers.size(), 3u);
    EXPECT_EQ(c.stops, 1);
}

TEST(AudioDeviceRing, RestartDropsBlocksOfTheOldRunAndAppliesNewSettings) {
    CounterDevice device;
    device.SetBufferSize(1000);
    Collector c;
    c.Attach(device);
    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(SpinUntil([&] { return c.buffers.size() >= 2; }));
    device.SetBufferSize(2000);  // must not touch the running ring
    ASSERT_TRUE(SpinUntil([&] { return c.buffers.size() >= 4; }));
    for (int size : c.sizes) EXPECT_EQ(size, 1000);
    device.Stop();
    c = Collector{};
    c.Attach(device);
    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(SpinUntil([&] { return c.buffers.size() >= 3; }));
    device.Stop();
    for (int size : c.sizes) EXPECT_EQ(size, 2000);
    ExpectContinuous(c);  // the new run's counter starts at 0: nothing of the old run slipped in
}

TEST(AudioDeviceRing, DestroyingARunningDeviceJoinsItsReader) {
    Collector c;
    {
        CounterDevice device;
        device.block = true;
        c.Attach(device);
        ASSERT_TRUE(device.Start());
        SpinFor(20);
    }
    SpinFor(20);
    EXPECT_EQ(c.stops, 0);  // the owner may be half destroyed: no callback from the destructor
    EXPECT_TRUE(c.buffers.empty());
}

}  // namespace
}  // namespace capture::test
