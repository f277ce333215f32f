// The GPS sentence output on a pseudo-terminal standing in for the navigation device's port.
#include "monitor/io/nmea_output.h"

#include <future>
#include <stdexcept>

#include <gtest/gtest.h>

#include "serial_test_support.h"

namespace {

using serial_test::Pty;
using serial_test::TestLoop;

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
    Rig() {
        comm.SetDispatcher(loop.Dispatcher());
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
    void SetLine(const std::string& line) {
        OnLoop(loop, [&] {
            out->SetLine(line);
            return 0;
        });
    }
};

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
    rig.pty.Send("?");  // before the first record: read, nothing written
    EXPECT_EQ(rig.pty.Receive(1, 300), "");
    rig.SetLine(kLine);
    EXPECT_EQ(rig.pty.Receive(kLine.size()), kLine);
    rig.pty.Send("$PXXX,poll*00\r\n");
    EXPECT_EQ(rig.pty.Receive(kLine.size()), kLine);
    EXPECT_EQ(OnLoop(rig.loop, [&] { return rig.comm.InQueCount(); }), 0);
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
