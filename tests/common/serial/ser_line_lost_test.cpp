// A line that goes away under an open port: the far end of the pty vanishing, the event
// thread's wait failing, the write thread meeting a dead device. Each must reach OnError and
// leave the port closed, never a silently dead thread.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "common/serial/ser_comm.h"
#include "serial_test_support.h"

// Defined only when UBSan's type checks are built in.
extern "C" void __ubsan_handle_dynamic_type_cache_miss(void*, void*, void*) __attribute__((weak));

namespace common {
namespace {

using serial_test::Pty;
using serial_test::TestLoop;
using serial_test::WaitUntil;

// What the owner's thread saw, in order.
struct Seen {
    std::mutex mutex;
    std::vector<std::string> events;
    bool all_on_loop = true;

    void Add(const std::string& event, bool on_loop) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        all_on_loop = all_on_loop && on_loop;
    }
    std::vector<std::string> Events() {
        std::lock_guard lock(mutex);
        return events;
    }
};

class LineLost : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty.slave_path.empty());
        comm.SetDeviceName(pty.slave_path);
        comm.SetDispatcher(loop.Dispatcher());
        comm.OnError = [this](TSerCustomComm& sender, int errors) {
            seen.Add("error " + std::to_string(errors) + (sender.Active() ? " open" : " closed"),
                     loop.OnLoop());
        };
        comm.OnClose = [this](TSerCustomComm&) { seen.Add("close", loop.OnLoop()); };
    }
    void FarEndVanishes() {
        close(pty.keep_slave);
        pty.keep_slave = -1;
        pty.CloseMaster();
    }
    bool Closed() {
        return WaitUntil([&] { return !comm.Active() && seen.Events().size() >= 2; });
    }

    Pty pty;
    TestLoop loop;
    Seen seen;
    TSerComm comm;  // after the loop: closed before the loop ends
};

TEST_F(LineLost, FarEndVanishingReportsErrorThenClosesOnTheOwnersThread) {
    comm.Open();
    ASSERT_TRUE(comm.WriteText("before"));
    EXPECT_EQ(pty.Receive(6), "before");
    FarEndVanishes();
    ASSERT_TRUE(Closed());
    const std::vector<std::string> expected = {"error " + std::to_string(kSerErrHangup) + " open",
                                               "close"};
    EXPECT_EQ(seen.Events(), expected);
    EXPECT_TRUE(seen.all_on_loop);
    EXPECT_FALSE(comm.WriteText("after"));
    comm.Close();  // nothing left to close: no second OnClose
    EXPECT_EQ(seen.Events().size(), 2u);
}

TEST_F(LineLost, FailedWaitForLineEventsReportsAndCloses) {
    // UBSan's type check probes memory through a pipe, which the descriptor limit below refuses.
    if (&__ubsan_handle_dynamic_type_cache_miss != nullptr)
        GTEST_SKIP() << "no descriptor limit under UBSan";
    comm.Open();
    // poll() refuses more descriptors than RLIMIT_NOFILE allows; the event thread waits on three.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = 2;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    pty.Send("x");  // wakes the event thread, whose next wait then fails
    const bool closed = Closed();
    setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_TRUE(closed);
    const std::vector<std::string> expected = {"error " + std::to_string(kSerErrWait) + " open",
                                               "close"};
    EXPECT_EQ(seen.Events(), expected);
}

TEST_F(LineLost, WriteThreadAloneNoticesTheDeadDevice) {
    comm.SetMonitorEvents({});  // no event thread: only the write thread meets the device
    comm.Open();
    FarEndVanishes();
    comm.WriteText("into the void");
    ASSERT_TRUE(Closed());
    const std::vector<std::string> expected = {"error " + std::to_string(kSerErrHangup) + " open",
                                               "close"};
    EXPECT_EQ(seen.Events(), expected);
}

TEST_F(LineLost, ReopensOnceTheDeviceIsBack) {
    comm.Open();
    Pty second;
    FarEndVanishes();
    ASSERT_TRUE(Closed());
    comm.SetDeviceName(second.slave_path);
    comm.Open();
    EXPECT_TRUE(comm.WriteText("again"));
    EXPECT_EQ(second.Receive(5), "again");
}

// Handlers on the worker (no event loop): the owner closing or destroying the port while the
// event thread closes it on its own must neither crash nor report the close twice.
TEST(LineLostDirect, OwnerClosingAtTheSameTimeIsSafe) {
    for (int round = 0; round < 20; ++round) {
        Pty pty;
        std::atomic<int> errors{0};
        std::atomic<int> closes{0};
        {
            TSerComm comm;
            comm.SetDeviceName(pty.slave_path);
            comm.OnError = [&](TSerCustomComm&, int) { ++errors; };
            comm.OnClose = [&](TSerCustomComm&) { ++closes; };
            comm.Open();
            close(pty.keep_slave);
            pty.keep_slave = -1;
            pty.CloseMaster();
            if (round % 2 == 0) comm.Close();
            // Odd rounds: the destructor meets the event thread's close.
        }
        EXPECT_LE(errors.load(), 1) << round;
        EXPECT_LE(closes.load(), 1) << round;
    }
}

}  // namespace
}  // namespace common
