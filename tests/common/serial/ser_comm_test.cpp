// The component on pseudo-terminals: opening, refusals while open, line settings reaching
// the device, round trips through the worker threads, and shutdown under load.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <random>
#include <string>

#include "common/serial/ser_comm.h"
#include "serial_test_support.h"

namespace common {
namespace {

using serial_test::Pty;
using serial_test::TempDir;
using serial_test::TestLoop;
using serial_test::WaitUntil;

constexpr const char* kRefused = "Can't perform this operation while port is open";
constexpr const char* kBufferFull = "Output buffer is full. Please check comm status.";

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ESerCommError& e) {
        return e.what();
    }
    return "";
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

class CommOnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty.slave_path.empty());
        comm.SetDeviceName(pty.slave_path);
        comm.SetBaudrate(br4800);
    }
    Pty pty;
    TSerComm comm;
};

TEST(CommOpen, DefaultsAsConstructed) {
    TSerComm comm;
    EXPECT_EQ(comm.Baudrate(), br1200);
    EXPECT_EQ(comm.PortNum(), 0);
    EXPECT_EQ(comm.DeviceName(), "COM%d");
    EXPECT_EQ(comm.MonitorEvents(), (TSerCommEvents{ceError, ceRxChar, ceTxEmpty}));
    EXPECT_EQ(comm.ComputedEventMask(), 0x0081u);
    EXPECT_EQ(comm.EventPriority(), tpNormal);
    EXPECT_EQ(comm.WritePriority(), tpHighest);
    EXPECT_TRUE(comm.UpdateDCB());
    EXPECT_FALSE(comm.DirectWrite());
    EXPECT_EQ(comm.Buffers().ReadSize(), 4096);
    EXPECT_EQ(comm.Buffers().WriteSize(), 2048);
    EXPECT_EQ(comm.Buffers().WriteTimeout(), 1000);
    EXPECT_FALSE(comm.Active());
    char byte;
    EXPECT_EQ(comm.ReadBuf(&byte, 1), 0);
    EXPECT_EQ(comm.WriteBuf("x", 1), 0);
    EXPECT_EQ(comm.InQueCount(), 0);
}

TEST(CommOpen, PortNumberNamesTheDevice) {
    TempDir dir;
    Pty pty;
    TSerComm comm;
    comm.SetComDevicePrefix((dir.path / "ttyS").string());
    comm.SetPortNum(3);
    EXPECT_EQ(comm.FormattedDeviceName(), "COM3");
    EXPECT_EQ(ErrorOf([&] { comm.Open(); }),
              "Unable to open specified device COM3 (2), No such file or directory");
    EXPECT_FALSE(comm.Active());

    std::filesystem::create_symlink(pty.slave_path, dir.path / "ttyS2");
    comm.Open();
    EXPECT_TRUE(comm.Active());
    EXPECT_TRUE(comm.WriteText("$GPGGA\r\n"));
    EXPECT_EQ(pty.Receive(8), "$GPGGA\r\n");
}

TEST(CommOpen, NotATerminalIsRefusedAndLeftClosed) {
    TempDir dir;
    const auto file = dir.path / "plain";
    {
        std::FILE* f = std::fopen(file.c_str(), "w");
        std::fclose(f);
    }
    TSerComm comm;
    comm.SetDeviceName(file.string());
    EXPECT_EQ(ErrorOf([&] { comm.Open(); }),
              "Error writing dcb (25), Inappropriate ioctl for device");
    EXPECT_FALSE(comm.Active());
    comm.SetUpdateDCB(false);
    EXPECT_EQ(ErrorOf([&] { comm.Open(); }),
              "Error setting timeouts (25), Inappropriate ioctl for device");
    EXPECT_FALSE(comm.Active());
}

TEST_F(CommOnPty, SecondOpenRefusedPortKeepsWorking) {
    comm.Open();
    EXPECT_EQ(ErrorOf([&] { comm.Open(); }), kRefused);
    EXPECT_TRUE(comm.Active());
    EXPECT_TRUE(comm.WriteText("still here"));
    EXPECT_EQ(pty.Receive(10), "still here");

    TSerComm other;
    other.SetDeviceName(pty.slave_path);
    EXPECT_NE(
        ErrorOf([&] { other.Open(); }).find("Unable to open specified device " + pty.slave_path),
        std::string::npos);
    EXPECT_FALSE(other.Active());
}

TEST_F(CommOnPty, RefusedWhileOpenOthersAllowed) {
    comm.Open();
    const std::pair<const char*, std::function<void()>> refused[] = {
        {"PortNum", [&] { comm.SetPortNum(2); }},
        {"DeviceName", [&] { comm.SetDeviceName("COM%d"); }},
        {"MonitorEvents", [&] { comm.SetMonitorEvents({ceRxChar}); }},
        {"DirectWrite", [&] { comm.SetDirectWrite(true); }},
        {"UpdateDCB", [&] { comm.SetUpdateDCB(false); }},
        {"ReadSize", [&] { comm.Buffers().SetReadSize(8192); }},
        {"WriteSize", [&] { comm.Buffers().SetWriteSize(16); }},
    };
    for (const auto& [name, action] : refused) EXPECT_EQ(ErrorOf(action), kRefused) << name;
    EXPECT_EQ(comm.DeviceName(), pty.slave_path);
    EXPECT_EQ(comm.PortNum(), 0);
    EXPECT_FALSE(comm.DirectWrite());
    // Buffer sizes keep the refused value for the next Open.
    EXPECT_EQ(comm.Buffers().ReadSize(), 8192);

    EXPECT_EQ(ErrorOf([&] { comm.SetAutoOpen(true); }), "");
    EXPECT_EQ(ErrorOf([&] { comm.SetEventPriority(tpLowest); }), "");
    EXPECT_EQ(ErrorOf([&] { comm.SetWritePriority(tpIdle); }), "");
    EXPECT_EQ(ErrorOf([&] { comm.FlowControl().SetXonXoffIn(true); }), "");
    EXPECT_EQ(ErrorOf([&] { comm.Buffers().SetWriteTimeout(50); }), "");
    EXPECT_TRUE(comm.Active());
}

TEST_F(CommOnPty, RefusedWriteSizeTakesEffectAtNextOpen) {
    comm.Buffers().SetWriteTimeout(100);
    comm.Open();
    EXPECT_EQ(ErrorOf([&] { comm.Buffers().SetWriteSize(16); }), kRefused);
    const std::string line(100, 'a');
    EXPECT_TRUE(comm.WriteText(line));  // the open period keeps its 2048-byte buffer
    EXPECT_EQ(pty.Receive(100).size(), 100u);
    comm.Close();
    comm.Open();
    EXPECT_EQ(ErrorOf([&] { comm.WriteText(line); }), kBufferFull);
    EXPECT_TRUE(comm.WriteText(std::string(16, 'b')));
    EXPECT_EQ(pty.Receive(16), std::string(16, 'b'));
}

TEST_F(CommOnPty, BaudrateReappliedOnlyWithUpdateDcb) {
    comm.Open();
    EXPECT_EQ(pty.OutputSpeed(), B4800);
    comm.SetBaudrate(br9600);
    EXPECT_EQ(pty.OutputSpeed(), B9600);
    comm.Close();

    termios tio = pty.Termios();
    cfsetspeed(&tio, B2400);
    tcsetattr(pty.master, TCSANOW, &tio);
    comm.SetUpdateDCB(false);
    comm.SetBaudrate(br4800);
    comm.Open();
    comm.SetBaudrate(br9600);
    EXPECT_EQ(pty.OutputSpeed(), B2400);
}

TEST_F(CommOnPty, UserBaudrateAndBrUserAreTiedTogether) {
    comm.SetUserBaudrate(31250);
    EXPECT_EQ(comm.Baudrate(), brUser);
    comm.Open();
    EXPECT_TRUE(comm.Active());
    comm.SetBaudrate(br19200);
    EXPECT_EQ(comm.UserBaudrate(), 0);
    EXPECT_EQ(pty.OutputSpeed(), B19200);
    EXPECT_EQ(ErrorOf([&] { comm.SetBaudrate(brUser); }),
              "Error writing dcb (22), Invalid argument");
}

struct FramingCase {
    TSerDatabits bits;
    TSerParity parity;
    TSerStopbits stop;
    tcflag_t expected;  // PARODD, CMSPAR and CSTOPB: a pty forces CS8 and no PARENB
};

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, ReachesTheTerminal) {
    Pty pty;
    TSerComm comm;
    comm.SetDeviceName(pty.slave_path);
    comm.SetDatabits(GetParam().bits);
    comm.SetParity(GetParam().parity);
    comm.SetStopbits(GetParam().stop);
    comm.Open();
    const tcflag_t mask = PARODD | CMSPAR | CSTOPB;
    EXPECT_EQ(pty.Termios().c_cflag & mask, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Framing,
                         ::testing::Values(FramingCase{db8, paNone, sb1, 0},
                                           FramingCase{db7, paEven, sb2, CSTOPB},
                                           FramingCase{db7, paOdd, sb1, PARODD},
                                           FramingCase{db6, paMark, sb1, PARODD | CMSPAR},
                                           FramingCase{db5, paSpace, sb15, CMSPAR | CSTOPB}));

TEST_F(CommOnPty, FlowControlAndUnsupportedByteSize) {
    comm.FlowControl().SetXonXoffIn(true);
    comm.FlowControl().SetXonXoffOut(true);
    comm.SetParityCheck(true);
    comm.Open();
    termios tio = pty.Termios();
    EXPECT_TRUE(tio.c_iflag & IXON);
    EXPECT_TRUE(tio.c_iflag & IXOFF);
    EXPECT_TRUE(tio.c_iflag & INPCK);
    EXPECT_EQ(tio.c_cc[VSTART], 17);
    EXPECT_EQ(tio.c_cc[VSTOP], 19);
    comm.FlowControl().SetXonXoffOut(false);  // re-applied through the option object
    EXPECT_FALSE(pty.Termios().c_iflag & IXON);
    comm.Close();

    comm.SetDatabits(db4);
    EXPECT_EQ(ErrorOf([&] { comm.Open(); }), "Error writing dcb (22), Invalid argument");
    EXPECT_FALSE(comm.Active());
}

TEST_F(CommOnPty, ReadTextWithNothingQueuedIsEmpty) {
    comm.Open();
    std::string text = "stale";
    comm.ReadText(text);
    EXPECT_EQ(text, "");
    comm.Close();
    text = "stale";
    comm.ReadText(text);
    EXPECT_EQ(text, "");
}

TEST_F(CommOnPty, OversizedWriteFailsAfterTimeoutExactFillSucceeds) {
    comm.Buffers().SetWriteSize(64);
    comm.Buffers().SetWriteTimeout(200);
    comm.Open();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { comm.WriteBuf(std::string(65, 'x').data(), 65); }), kBufferFull);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    const std::string exact = RandomBytes(64, 7);
    EXPECT_EQ(comm.WriteBuf(exact.data(), 64), 64);
    EXPECT_EQ(pty.Receive(64), exact);
}

// A device that takes nothing (its queue in the kernel full): a piece is refused or dropped
// whole and counted, never waited for; once the device reads, the next one goes out.
TEST_F(CommOnPty, PiecesNeverWaitAndGoWholeOrAreDroppedAndCounted) {
    comm.Buffers().SetWriteSize(256);
    comm.Buffers().SetWriteTimeout(600000);  // a piece that waited for room would not return
    comm.Open();
    pty.FillUntilFull();
    const std::string a(100, 'a'), b(100, 'b'), c(100, 'c'), d(100, 'd');
    const auto writes = [&] {
        EXPECT_TRUE(comm.WritePiece(a.data(), 100, 30));
        EXPECT_TRUE(comm.WritePiece(b.data(), 100, 30));
        EXPECT_FALSE(comm.WritePiece(c.data(), 100, 30));  // no room for all of it
    };
    ASSERT_TRUE(serial_test::ReturnWhileTheDeviceStalls(pty, writes));
    ASSERT_TRUE(WaitUntil([&] { return comm.PiecesDropped() == 3; }));
    EXPECT_TRUE(comm.WaitWritten(0));
    EXPECT_EQ(comm.PiecesSent(), 0u);
    const std::string drained = pty.Receive(1 << 20, 200);
    EXPECT_EQ(drained.find_first_not_of('x'), std::string::npos);
    EXPECT_TRUE(comm.WritePiece(d.data(), 100, 30));
    EXPECT_EQ(pty.Receive(100), d);
    EXPECT_TRUE(WaitUntil([&] { return comm.PiecesSent() == 1; }));
    EXPECT_EQ(comm.PiecesDropped(), 3u);
}

// A device that stopped reading in the middle of a piece: closing after SettleOutput drops the
// pieces not begun and leaves the device nothing cut short, although the system had taken the
// start of one.
TEST_F(CommOnPty, SettledCloseLeavesAStalledDeviceNoPieceCutShort) {
    comm.Buffers().SetWriteSize(1 << 17);
    comm.Open();
    EXPECT_TRUE(comm.SettleOutput(0));  // nothing queued
    pty.FillUntilFull();
    // More than the system takes at once, queued before the device makes a little room.
    const std::string piece = "$" + std::string(78, 'A') + "\r\n";
    constexpr int kPieces = 1000;
    for (int n = 0; n < kPieces; ++n) ASSERT_TRUE(comm.WritePiece(piece.data(), 81, 600000));
    EXPECT_EQ(pty.Receive(8000, 200).find_first_not_of('x'), std::string::npos);
    ASSERT_TRUE(WaitUntil([&] { return comm.PiecesSent() > 0; }));
    comm.SettleOutput(100);
    EXPECT_GT(comm.PiecesDropped(), 0u);
    comm.Close();
    close(pty.keep_slave);
    pty.keep_slave = -1;
    const std::string got = pty.Receive(1 << 20, 200);
    const std::string sent = got.substr(std::min(got.find('$'), got.size()));
    for (std::size_t at = 0; at < sent.size(); at += piece.size())
        ASSERT_EQ(sent.substr(at, piece.size()), piece) << "cut at " << at;
}

// A device that takes bytes loses none, however late the write thread gets to them: here no
// piece is given any time at all, as if the thread always ran late on a loaded machine.
TEST_F(CommOnPty, ADeviceThatReadsLosesNoPieceToALateWriteThread) {
    comm.Open();
    std::string sent;
    for (int n = 0; n < 20; ++n) {
        const std::string piece = RandomBytes(60, static_cast<unsigned>(n));
        sent += piece;
        EXPECT_TRUE(comm.WritePiece(piece.data(), 60, 0));
    }
    EXPECT_EQ(pty.Receive(sent.size()), sent);
    EXPECT_TRUE(WaitUntil([&] { return comm.PiecesSent() == 20; }));
    EXPECT_EQ(comm.PiecesDropped(), 0u);
}

TEST_F(CommOnPty, BulkWriteArrivesCompleteAndInOrder) {
    comm.Buffers().SetWriteTimeout(5000);
    std::atomic<int> tx_empty{0};
    comm.OnTxEmpty = [&](TSerCustomComm&) { ++tx_empty; };
    comm.Open();
    const std::string data = RandomBytes(100 * 1024, 42);
    std::string received;
    std::thread reader([&] { received = pty.Receive(data.size()); });
    std::string failure;
    for (std::size_t at = 0; at < data.size() && failure.empty(); at += 1000) {
        failure = ErrorOf([&] { comm.WriteText(data.substr(at, 1000)); });
    }
    reader.join();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
    EXPECT_TRUE(WaitUntil([&] { return tx_empty.load() > 0; }));
}

TEST_F(CommOnPty, IncomingBytesRaiseRxCharOnTheLoopThread) {
    TestLoop loop;
    comm.SetDispatcher(loop.Dispatcher());
    std::mutex mutex;
    std::string got;
    std::vector<int> counts;
    bool on_loop = true;
    comm.OnRxChar = [&](TSerCustomComm& sender, int count) {
        std::string text;
        sender.ReadText(text);
        std::lock_guard lock(mutex);
        on_loop = on_loop && loop.OnLoop();
        counts.push_back(count);
        got += text;
    };
    comm.Open();
    pty.Send("hello");
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard lock(mutex);
        return got.size() >= 5;
    }));
    // The port's threads post to the loop: they must be gone before the loop is.
    comm.Close();
    std::lock_guard lock(mutex);
    EXPECT_EQ(got, "hello");
    EXPECT_EQ(counts.front(), 5);
    EXPECT_TRUE(on_loop);
}

TEST_F(CommOnPty, UnreadInputIsReportedAgainOnlyWhenMoreArrives) {
    std::atomic<int> calls{0};
    std::atomic<int> last_count{0};
    comm.OnRxChar = [&](TSerCustomComm&, int count) {
        last_count = count;
        ++calls;
    };
    comm.Open();
    pty.Send("ab");
    ASSERT_TRUE(WaitUntil([&] { return calls.load() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(calls.load(), 1);  // left unread, but no new bytes: no new notification
    pty.Send("c");
    ASSERT_TRUE(WaitUntil([&] { return calls.load() == 2; }));
    EXPECT_EQ(last_count.load(), 3);
    char buf[8];
    EXPECT_EQ(comm.ReadBuf(buf, 8), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
}

// Bytes that arrive while the owner handles the last ones are new, even when exactly as many
// arrive as it read: they raise RxChar of their own.
TEST_F(CommOnPty, BytesArrivingWhileTheOwnerReadsRaiseRxCharAgain) {
    std::atomic<int> calls{0};
    std::string got;  // the event thread's alone until calls reaches 2
    comm.OnRxChar = [&](TSerCustomComm& sender, int) {
        std::string text;
        sender.ReadText(text);
        got += text;
        if (++calls > 1) return;
        pty.Send("y");
        WaitUntil([&] { return sender.InQueCount() == 1; });
    };
    comm.Open();
    pty.Send("x");
    ASSERT_TRUE(WaitUntil([&] { return calls.load() == 2; }));
    EXPECT_EQ(got, "xy");
}

TEST_F(CommOnPty, EventCharRaisesRxFlag) {
    comm.SetMonitorEvents({ceRxChar, ceRxFlag, ceError});
    comm.EventChars().SetEventChar('\n');
    std::atomic<int> flags{0};
    std::atomic<std::size_t> read{0};
    comm.OnRxChar = [&](TSerCustomComm& sender, int) {
        std::string text;
        sender.ReadText(text);
        read += text.size();
    };
    comm.OnRxFlag = [&](TSerCustomComm&) { ++flags; };
    comm.Open();
    pty.Send("no end yet");
    ASSERT_TRUE(WaitUntil([&] { return read.load() == 10; }));
    pty.Send("line\n");
    // Notifications come in order: a flag for the first bytes would come before the second read.
    ASSERT_TRUE(WaitUntil([&] { return read.load() == 15 && flags.load() > 0; }));
    EXPECT_EQ(flags.load(), 1);
}

TEST_F(CommOnPty, HandlerExceptionsGoToTheReporterAndTheComponentGoesOn) {
    std::atomic<int> reported{0};
    std::atomic<int> calls{0};
    comm.OnException = [&](std::exception_ptr) { ++reported; };
    comm.OnRxChar = [&](TSerCustomComm& sender, int) {
        std::string text;
        sender.ReadText(text);
        ++calls;
        throw std::runtime_error("handler failed");
    };
    comm.OnOpen = [](TSerCustomComm&) { throw std::runtime_error("open handler failed"); };
    comm.Open();
    EXPECT_TRUE(comm.Active());  // OnOpen failing does not undo the open
    EXPECT_EQ(reported.load(), 1);
    pty.Send("x");
    ASSERT_TRUE(WaitUntil([&] { return calls.load() == 1; }));
    pty.Send("y");
    ASSERT_TRUE(WaitUntil([&] { return calls.load() == 2; }));
    EXPECT_TRUE(WaitUntil([&] { return reported.load() == 3; }));
}

TEST_F(CommOnPty, FarEndClosingGivesOnErrorAndCleanClose) {
    std::atomic<int> errors{0};
    comm.OnError = [&](TSerCustomComm&, int e) { errors = e; };
    comm.Open();
    ASSERT_TRUE(comm.WriteText("before"));
    EXPECT_EQ(pty.Receive(6), "before");
    close(pty.keep_slave);
    pty.keep_slave = -1;
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return errors.load() != 0; }));
    EXPECT_TRUE(errors.load() & kSerErrHangup);
    EXPECT_TRUE(WaitUntil([&] { return !comm.Active(); }));  // the port closed itself
    EXPECT_FALSE(comm.WriteText("after"));
    comm.Close();
    EXPECT_FALSE(comm.Active());
}

TEST_F(CommOnPty, CloseReturnsWhileBothThreadsAreBusy) {
    TestLoop loop;
    std::mutex gate;
    gate.lock();
    loop.Post([&] { std::lock_guard hold(gate); });  // the "window thread" is busy
    comm.SetDispatcher(loop.Dispatcher());
    std::atomic<int> handled{0};
    comm.OnRxChar = [&](TSerCustomComm&, int) { ++handled; };
    comm.Buffers().SetWriteTimeout(2000);
    comm.Open();
    pty.Send("waiting for the loop");
    // Nobody reads the master, so the write thread ends up blocked on a full device queue.
    const std::string chunk(1024, 'z');
    for (int i = 0; i < 100; ++i) {
        if (ErrorOf([&] { comm.WriteText(chunk); }) == kBufferFull) break;
    }
    comm.Close();
    EXPECT_FALSE(comm.Active());
    gate.unlock();
    // The loop runs its jobs in order: once this one ran, the late notification has run too.
    std::promise<void> drained;
    loop.Post([&] { drained.set_value(); });
    drained.get_future().wait();
    EXPECT_EQ(handled.load(), 0);  // the late notification found the port closed
}

TEST_F(CommOnPty, CloseFromInsideAHandler) {
    std::atomic<bool> closed{false};
    std::atomic<int> close_events{0};
    comm.OnClose = [&](TSerCustomComm&) { ++close_events; };
    comm.OnRxChar = [&](TSerCustomComm& sender, int) {
        std::string text;
        sender.ReadText(text);
        if (text != "bye") return;
        sender.Close();
        closed = true;
    };
    comm.Open();
    pty.Send("bye");
    ASSERT_TRUE(WaitUntil([&] { return closed.load(); }));
    EXPECT_FALSE(comm.Active());
    EXPECT_EQ(close_events.load(), 1);
    comm.Open();  // and the port can be opened again
    EXPECT_TRUE(comm.WriteText("again"));
    EXPECT_EQ(pty.Receive(5), "again");
}

TEST_F(CommOnPty, DirectWriteWritesSynchronously) {
    comm.SetDirectWrite(true);
    EXPECT_EQ(comm.ComputedEventMask(), 0x0085u);
    comm.Open();
    const std::string data = RandomBytes(3000, 3);
    std::string received;
    std::thread reader([&] { received = pty.Receive(data.size()); });
    EXPECT_EQ(comm.WriteBuf(data.data(), static_cast<int>(data.size())), 3000);
    reader.join();
    EXPECT_TRUE(received == data);
}

TEST_F(CommOnPty, AutoOpenOpensWhenLoaded) {
    comm.Loaded();
    EXPECT_FALSE(comm.Active());
    comm.SetAutoOpen(true);
    comm.Loaded();
    EXPECT_TRUE(comm.Active());
}

TEST(CommSocat, BulkThroughASecondProcessAndItsDisappearance) {
    if (!serial_test::HaveSocat()) GTEST_SKIP() << "socat not installed";
    TempDir dir;
    serial_test::SocatPair pair(dir.path.string());
    ASSERT_TRUE(pair.Ready());
    TSerComm comm;
    comm.SetDeviceName(pair.a);
    comm.SetBaudrate(br115200);
    comm.Buffers().SetWriteTimeout(5000);
    std::atomic<int> errors{0};
    comm.OnError = [&](TSerCustomComm&, int e) { errors |= e; };
    std::mutex mutex;
    std::string echoed;
    comm.OnRxChar = [&](TSerCustomComm& sender, int) {
        std::string text;
        sender.ReadText(text);
        std::lock_guard lock(mutex);
        echoed += text;
    };
    comm.Open();
    const int far = open(pair.b.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(far, 0);
    const std::string data = RandomBytes(100 * 1024, 99);
    std::string received;
    std::thread reader([&] { received = Pty::ReadFd(far, data.size(), 5000); });
    std::string failure;
    for (std::size_t at = 0; at < data.size() && failure.empty(); at += 1024) {
        failure = ErrorOf([&] { comm.WriteText(data.substr(at, 1024)); });
    }
    reader.join();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);

    ASSERT_EQ(write(far, "pong", 4), 4);
    EXPECT_TRUE(WaitUntil([&] {
        std::lock_guard lock(mutex);
        return echoed == "pong";
    }));
    close(far);
    pair.Stop();
    EXPECT_TRUE(WaitUntil([&] { return (errors.load() & kSerErrHangup) != 0; }));
    EXPECT_TRUE(WaitUntil([&] { return !comm.Active(); }));
    comm.Close();
    EXPECT_FALSE(comm.Active());
}

}  // namespace
}  // namespace common
