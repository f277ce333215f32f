// The relay server in this process: its counts read directly and its clock moved by the test, so
// deadlines and history windows need no waiting. Clients are plain sockets.
#include "tools/relay/relay_server.h"
#include "tools/relay/harness.h"

#include "qt_wait.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

using namespace relay::harness;
using relay::DropReason;
using test_support::WaitFor;

namespace {

struct Server {
    std::int64_t now = 1'000'000'000;
    relay::RelayServer relay;
    std::vector<int> fds;

    explicit Server(relay::RelayConfig config) : relay(WithClock(std::move(config), &now)) {
        QString error;
        EXPECT_TRUE(relay.Start(&error)) << error.toStdString();
    }
    ~Server() {
        for (int fd : fds) ::close(fd);
    }
    static relay::RelayConfig WithClock(relay::RelayConfig config, std::int64_t* now) {
        config.stationPort = config.monitorPort = 0;
        config.clockMs = [now] { return *now; };
        return config;
    }
    int Station(const std::string& bytes = "") {
        fds.push_back(ConnectLoopback(relay.StationPort()));
        EXPECT_TRUE(SendAll(fds.back(), bytes));
        return fds.back();
    }
    int Monitor() {
        fds.push_back(ConnectLoopback(relay.MonitorPort()));
        const std::size_t before = relay.Monitors();
        EXPECT_TRUE(WaitFor([&] { return relay.Monitors() > before; }));
        return fds.back();
    }
    std::uint64_t Drops(DropReason reason) const {
        return relay.Counts().drops[static_cast<std::size_t>(reason)];
    }
};

std::string Record(const std::string& login, int n) {
    return login + "$GPGGA,123456,5133.0000,N,00009.0000,E,1,07,1.0,1234.5,M;  " +
           std::to_string(n) + ", 27.07.2024 12:34:56#";
}

std::string ReadUntil(int fd, const std::string& last) {
    std::string got;
    WaitFor([&] {
        ReadAvailable(fd, got);
        return got.find(last) != std::string::npos;
    });
    return got;
}

}  // namespace

TEST(RelayHistory, LateMonitorGetsTheLastMinutesBeforeLiveRecordsAndNothingOlder) {
    relay::RelayConfig config;
    config.historyMinutes = 10;
    Server s(config);
    const std::string login = "DL1ABC;JN49EA;";
    const int station = s.Station(login);
    const auto upload = [&](int n) {
        EXPECT_TRUE(SendAll(station, Record(login, n)));
        return WaitFor([&] { return s.relay.Counts().records == static_cast<std::uint64_t>(n); });
    };
    ASSERT_TRUE(upload(1));
    s.now += 5 * 60000;
    ASSERT_TRUE(upload(2));
    s.now += 6 * 60000;  // record 1 is 11 minutes old
    ASSERT_TRUE(upload(3));
    const int late = s.Monitor();
    ASSERT_TRUE(upload(4));
    EXPECT_EQ(ReadUntil(late, Record(login, 4)),
              Record(login, 2) + Record(login, 3) + Record(login, 4));

    s.now += 10 * 60000 + 1;  // ten quiet minutes: nothing is left to replay
    const int later = s.Monitor();
    ASSERT_TRUE(upload(5));
    EXPECT_EQ(ReadUntil(later, Record(login, 5)), Record(login, 5));
}

// Idle and dribbling connections are closed 10 s after they came; a logged-in station is kept
// however long it is silent.
TEST(RelayLogin, DeadlineCountsFromTheConnectAndSparesLoggedInStations) {
    Server s(relay::RelayConfig{});
    const int silent = s.Station("DL1ABC;JN49EA;");
    s.Station();
    const int dribbling = s.Station();
    ASSERT_TRUE(WaitFor([&] { return s.relay.Stations() == 3; }));
    for (char c : std::string("DL2XYZ;JN4")) {
        s.now += 999;
        ASSERT_TRUE(SendAll(dribbling, std::string(1, c)));
    }
    test_support::Pump(1500);  // two housekeeping turns
    EXPECT_EQ(s.relay.Stations(), 3u);
    s.now += 10;
    ASSERT_TRUE(WaitFor([&] { return s.relay.Stations() == 1; }));
    EXPECT_EQ(s.relay.Counts().loginTimeouts, 2u);

    s.now += 24 * 3600 * 1000LL;
    const int monitor = s.Monitor();
    ASSERT_TRUE(SendAll(silent, Record("DL1ABC;JN49EA;", 1)));
    EXPECT_EQ(ReadUntil(monitor, "#"), Record("DL1ABC;JN49EA;", 1));
}

TEST(RelayScreening, NothingFromAConnectionWithoutAGoodLoginReachesAMonitor) {
    Server s(relay::RelayConfig{});
    const int monitor = s.Monitor();
    std::string hello;
    for (int i = 0; i < 1000; ++i) hello += "hello world#";
    const std::string stranger = Record("DL1ABC;JN49EA;", 1);  // well formed, under no login
    const std::vector<std::string> senders = {
        hello,                                                     // no login at all
        std::string(300, 'z') + ";JN49EA;" + stranger + stranger,  // login too long
        "DL1ABC;JN49EA#" + stranger,                               // login cut by "#"
        ";;" + Record(";;", 1),                                    // empty fields
        "X;Y;" + hello + "X;Y;a;b#",                               // a good one among junk
    };
    for (const std::string& bytes : senders) {
        ::close(s.Station(bytes));
        s.fds.pop_back();
    }
    // A connection is only gone once its last byte was read.
    ASSERT_TRUE(WaitFor([&] {
        return s.relay.Counts().stationConnects == senders.size() && s.relay.Stations() == 0;
    }));
    s.Station("S;T;" + Record("S;T;", 1));
    EXPECT_EQ(ReadUntil(monitor, Record("S;T;", 1)), "X;Y;a;b#" + Record("S;T;", 1));
    EXPECT_EQ(s.Drops(DropReason::BadLogin), 3u);
    EXPECT_EQ(s.Drops(DropReason::NoLogin), 999u + 1 + 1 + 1);
    EXPECT_EQ(s.Drops(DropReason::NotOwn), 1000u);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
