// The GPS sentence output on a pseudo-terminal standing in for the navigation device's port.
#include "monitor/io/nmea_output.h"

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "serial_test_support.h"

namespace {

using serial_test::Pty;
using serial_test::TestLoop;
using serial_test::WaitUntil;

// Everything the program does with the port happens on its event loop.
template <class F>
auto OnLoop(TestLoop& loop, F f) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    loop.Post([&task] { task(); });
    return result.get();
}

struct Rig {
    Pty pty;
    TestLoop loop;
    common::TSerComm comm;
    std::unique_ptr<monitor::NmeaOutput> out;
    explicit Rig(int writeSize = 0) {
        comm.SetDispatcher(loop.Dispatcher());
        if (writeSize > 0) comm.Buffers().SetWriteSize(writeSize);
        OnLoop(loop, [this] {
            out = std::make_unique<monitor::NmeaOutput>(comm);
            monitor::ConfigureNmeaPort(comm, pty.slave_path);
            comm.Open();
            return 0;
        });
    }
    ~Rig() {
        OnLoop(loop, [this] {
            comm.Close();
            return 0;
        });
    }
    void SetLine(const std::string& line) { SetLines({line}); }
    void SetLines(const std::vector<std::string>& lines) {
        OnLoop(loop, [&] {
            out->SetLines(lines);
            return 0;
        });
    }
    // What the user was told, in order.
    std::vector<std::string> Notices() {
        return OnLoop(loop, [&] { return notices; });
    }
    void CollectNotices() {
        OnLoop(loop, [&] {
            out->OnNotice = [this](const std::string& text) { notices.push_back(text); };
            return 0;
        });
    }
    std::vector<std::string> notices;
};

// Sentence n of a record, with CR LF; every one distinct.
std::string Sentence(int n) {
    char buf[96];
    std::snprintf(buf, sizeof buf,
                  "$GPGGA,%06d.00,5006.0000,N,00842.0000,E,1,09,1.0,%d.0,M,,*00\r\n", n, 1000 + n);
    return buf;
}

// What a reader got after the filler: the whole sentences among `sent`, in order. Anything
// else (a sentence cut short, glued or out of order) fails the test.
std::vector<std::string> WholeSentences(const std::string& stream,
                                        const std::vector<std::string>& sent) {
    const std::size_t start = stream.find('$');
    std::vector<std::string> got;
    if (start == std::string::npos) return got;
    EXPECT_EQ(stream.find_first_not_of('x'), start) << "filler and sentences interleaved";
    std::size_t next = 0;
    for (std::size_t at = start; at < stream.size();) {
        const std::size_t end = stream.find("\r\n", at);
        const std::string line =
            end == std::string::npos ? stream.substr(at) : stream.substr(at, end + 2 - at);
        while (next < sent.size() && sent[next] != line) ++next;
        if (next == sent.size()) {
            ADD_FAILURE() << "not a whole sentence in order: " << line;
            break;
        }
        got.push_back(line);
        ++next;
        at += line.size();
    }
    return got;
}

const std::string kLine = "$GPGGA,100000.00,5006.0000,N,00842.0000,E,1,09,1.0,150.0,M,,*6F\r\n";

}  // namespace

TEST(NmeaOutput, EachRecordsLineGoesOutAt4800Baud) {
    Rig rig;
    EXPECT_EQ(rig.pty.OutputSpeed(), B4800);
    rig.SetLine(kLine);
    rig.SetLine("\r\n");  // a record without a sentence sends CR LF alone
    EXPECT_EQ(rig.pty.Receive(kLine.size() + 2), kLine + "\r\n");
}

TEST(NmeaOutput, AnythingReceivedIsDroppedAndAnsweredWithTheLastLine) {
    Rig rig;
    std::atomic<int> answered = 0;
    OnLoop(rig.loop, [&] {
        rig.comm.OnRxChar = [&, answer = rig.comm.OnRxChar](auto& comm, int count) {
            answer(comm, count);
            ++answered;
        };
        return 0;
    });
    rig.pty.Send("?");  // before the first record: read, nothing written
    ASSERT_TRUE(WaitUntil([&] { return answered == 1; }));
    rig.SetLine(kLine);
    EXPECT_EQ(rig.pty.Receive(kLine.size()), kLine);  // alone: nothing came before it
    EXPECT_EQ(rig.pty.Receive(1, 0), "");
    rig.pty.Send("$PXXX,poll*00\r\n");
    EXPECT_EQ(rig.pty.Receive(kLine.size()), kLine);
    EXPECT_EQ(OnLoop(rig.loop, [&] { return rig.comm.InQueCount(); }), 0);
}

// A navigation device that stops reading: the kernel's queue is full and stays full.
TEST(NmeaOutput, StalledDeviceNeverHoldsUpARecordAndIsToldOnceStoppedAndOnceReading) {
    Rig rig;
    rig.CollectNotices();
    OnLoop(rig.loop, [&] {
        rig.comm.Buffers().SetWriteTimeout(600000);  // a writer that waited for room: for good
        return 0;
    });
    rig.pty.FillUntilFull();
    std::vector<std::string> sent;
    // Far more than the output buffer holds: a writer that waits for room would stall here.
    const auto records = [&] {
        for (int n = 0; n < 80; ++n) {
            sent.push_back(Sentence(n));
            rig.SetLine(sent.back());
        }
    };
    ASSERT_TRUE(serial_test::ReturnWhileTheDeviceStalls(rig.pty, records));
    ASSERT_TRUE(
        WaitUntil([&] { return OnLoop(rig.loop, [&] { return rig.out->Dropped(); }) >= 70; }));
    rig.SetLine(sent.back());  // the next record looks at the device again
    sent.push_back(sent.back());
    std::vector<std::string> notices = rig.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].starts_with("navigation device not reading: ")) << notices[0];
    EXPECT_TRUE(notices[0].ends_with(" sentences dropped")) << notices[0];

    std::string stream = rig.pty.Receive(1 << 20, 300);  // the device reads again
    sent.push_back(Sentence(99));
    rig.SetLine(sent.back());
    ASSERT_TRUE(WaitUntil([&] { return rig.Notices().size() == 2; })) << rig.Notices().size();
    const std::uint64_t dropped = OnLoop(rig.loop, [&] { return rig.out->Dropped(); });
    EXPECT_EQ(rig.Notices()[1],
              "navigation device reading again: " + std::to_string(dropped) + " sentences dropped");
    stream += rig.pty.Receive(1 << 20, 300);
    const auto got = WholeSentences(stream, sent);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), Sentence(99));
    EXPECT_EQ(got.size() + dropped, sent.size());  // every sentence went out whole or was counted
}

// A reader that takes a little now and then, then pauses for longer than any sentence may wait:
// the kernel takes part of a sentence; the rest must follow, however late.
TEST(NmeaOutput, PausedReaderNeverGetsACutSentence) {
    for (int round = 0; round < 3; ++round) {
        Rig rig(1 << 15);  // room for more than the kernel frees at a time
        rig.pty.FillUntilFull();
        std::vector<std::string> sent;
        for (int n = 0; n < 300; ++n) sent.push_back(Sentence(round * 1000 + n));
        rig.SetLines(sent);  // one record's batch: each sentence whole or not at all
        std::string stream;
        for (int i = 0; i < 4; ++i) {
            stream += rig.pty.Receive(150 * (i + 1), 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        ASSERT_TRUE(
            WaitUntil([&] { return OnLoop(rig.loop, [&] { return rig.comm.WaitWritten(0); }); }));
        stream += rig.pty.Receive(1 << 20, 300);
        const auto got = WholeSentences(stream, sent);
        const std::uint64_t dropped = OnLoop(rig.loop, [&] { return rig.out->Dropped(); });
        EXPECT_EQ(got.size() + dropped, sent.size()) << "round " << round;
    }
}

TEST(NmeaOutput, WaitingTimeIsTheSentencesOwnTimeOnTheLine) {
    EXPECT_EQ(monitor::SentenceWaitMs(72, 4800), 150);  // 720 bits at 4800 baud
    EXPECT_EQ(monitor::SentenceWaitMs(73, 4800), 153);  // rounded up
    EXPECT_EQ(monitor::SentenceWaitMs(72, 115200), monitor::kMinSentenceWaitMs);
    EXPECT_EQ(monitor::SentenceWaitMs(72, 0), monitor::kMinSentenceWaitMs);
}

TEST(NmeaOutput, PortByNumberOrPath) {
    common::TSerComm comm;
    monitor::ConfigureNmeaPort(comm, "3");
    EXPECT_EQ(comm.DeviceName(), "COM%d");
    EXPECT_EQ(comm.PortNum(), 3);
    EXPECT_EQ(comm.Baudrate(), common::br4800);
    EXPECT_EQ(comm.FlowControl().ControlDtr(), common::dtrDisabled);
    monitor::ConfigureNmeaPort(comm, "/dev/ttyUSB0");
    EXPECT_EQ(comm.DeviceName(), "/dev/ttyUSB0");
    for (const char* bad : {"", "0", "abc", "COM3", "-1"})
        EXPECT_THROW(monitor::ConfigureNmeaPort(comm, bad), std::invalid_argument) << bad;
}
