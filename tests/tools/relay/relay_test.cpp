// Drives the real relay program over loopback with plain sockets.
#include "tools/relay/harness.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace relay::harness;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::string Record(const std::string& call, int seq, std::size_t pad = 0) {
    return call + ";JN49EA;$GPGGA,123456,5133.0000,N,00009.0000,E,1,07,1.0,1234.5,M;  " +
           std::to_string(seq) + ", " + std::string(pad, '0') + "27.07.2024 12:34:56#";
}

// Reads every monitor until `done` holds or the time is up.
bool Pump(const std::vector<int>& fds, std::vector<std::string>& got,
          const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = Clock::now() + timeout;
    std::vector<pollfd> polls;
    for (int fd : fds) polls.push_back({fd, POLLIN, 0});
    for (;;) {
        for (std::size_t i = 0; i < fds.size(); ++i) ReadAvailable(fds[i], got[i]);
        if (done()) return true;
        if (Clock::now() > deadline) return false;
        ::poll(polls.data(), polls.size(), 20);
    }
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct Fds {
    std::vector<int> fds;
    ~Fds() {
        for (int fd : fds) ::close(fd);
    }
    int Add(int fd) {
        fds.push_back(fd);
        return fd;
    }
};

// Connects `count` monitors and returns once the relay delivers to every one of them, so records
// sent afterwards cannot race the relay's accepting. The probe records are stripped again.
std::vector<int> ConnectMonitors(RelayProcess& relay, int station, int count, Fds& owner,
                                 std::vector<std::string>& got) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) fds.push_back(owner.Add(ConnectLoopback(relay.MonitorPort())));
    got.assign(fds.size(), "");
    for (int probe = 0;; ++probe) {
        const std::string record = "PROBE;AA00AA;" + std::to_string(probe) + "#";
        EXPECT_TRUE(SendAll(station, record));
        const bool all = Pump(
            fds, got,
            [&] {
                for (const auto& g : got)
                    if (g.find("PROBE;") == std::string::npos) return false;
                return true;
            },
            200ms);
        if (all || probe > 100) break;
    }
    // Everything up to the last probe's end is probe traffic.
    Pump(
        fds, got, [] { return false; }, 50ms);
    for (auto& g : got) g.erase(0, g.rfind('#') + 1);
    return fds;
}

int StartStation(RelayProcess& relay, Fds& owner, const std::string& call = "DL1ABC") {
    const int fd = owner.Add(ConnectLoopback(relay.StationPort()));
    EXPECT_TRUE(SendAll(fd, call + ";JN49EA;"));
    return fd;
}

}  // namespace

struct CliCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* inOutput;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CliCase& c, std::ostream* os) {
    *os << c.name;
}

class RelayCommandLine : public ::testing::TestWithParam<CliCase> {};

TEST_P(RelayCommandLine, ExitCodeAndMessage) {
    const CliCase& c = GetParam();
    const RunResult r = RunRelay(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_NE((r.out + r.err).find(c.inOutput), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RelayCommandLine,
    ::testing::Values(CliCase{"Help", {"--help"}, 0, "usage: relay"},
                      CliCase{"Version", {"--version"}, 0, "relay "},
                      CliCase{"Unknown", {"--frobnicate"}, 2, "unknown argument"},
                      CliCase{"MissingValue", {"--station-port"}, 2, "needs a value"},
                      CliCase{"PortTooLarge", {"--monitor-port", "70000"}, 2, "port from 0"},
                      CliCase{"PortNotNumber", {"--station-port", "30x1"}, 2, "port from 0"},
                      CliCase{"BindName", {"--bind", "example.org"}, 2, "numeric address"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RelayCommandLine, PortInUseIsAnErrorNotAHang) {
    RelayProcess first;
    ASSERT_TRUE(first.Start());
    const RunResult r =
        RunRelay({"--station-port", std::to_string(first.StationPort()), "--monitor-port", "0"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot listen for stations"), std::string::npos) << r.err;
}

TEST(RelayRecords, SplitJoinedAndLoginInOnePacketArriveExactlyAsSent) {
    RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    Fds owner;
    const int probeStation = StartStation(relay, owner, "PROBE");
    std::vector<std::string> got;
    const std::vector<int> monitors = ConnectMonitors(relay, probeStation, 2, owner, got);

    const int station = owner.Add(ConnectLoopback(relay.StationPort()));
    const std::string r1 = Record("DL1ABC", 1), r2 = Record("DL1ABC", 2), r3 = Record("DL1ABC", 3);
    ASSERT_TRUE(SendAll(station, "DL1ABC;JN49EA;" + r1.substr(0, 10)));  // login and a record start
    ASSERT_TRUE(relay.WaitForLog("login DL1ABC JN49EA", 5s));
    ASSERT_TRUE(SendAll(station, r1.substr(10, 30)));
    ASSERT_TRUE(SendAll(station, r1.substr(40) + r2 + r3.substr(0, 1)));  // joined and split
    ASSERT_TRUE(SendAll(station, r3.substr(1)));
    const std::string expected = r1 + r2 + r3;
    ASSERT_TRUE(Pump(monitors, got, [&] {
        return got[0].size() >= expected.size() && got[1].size() >= expected.size();
    }));
    EXPECT_EQ(got[0], expected);
    EXPECT_EQ(got[1], expected);
}

TEST(RelayRecords, GarbageAndOverlongInputIsDroppedAndTheStreamResumes) {
    RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    Fds owner;
    const int station = StartStation(relay, owner);
    std::vector<std::string> got;
    const std::vector<int> monitors = ConnectMonitors(relay, station, 1, owner, got);

    std::mt19937 rng(7);
    std::string garbage(3000, '\0');
    for (char& c : garbage) c = static_cast<char>(rng() & 0xff);
    std::replace(garbage.begin(), garbage.end(), '#', '\0');  // one garbage record
    ASSERT_TRUE(SendAll(station, Record("DL1ABC", 1)));
    ASSERT_TRUE(SendAll(station, garbage + "#"));
    ASSERT_TRUE(SendAll(station, std::string(64 * 1024, 'x') + "#"));
    const std::size_t overBy1 = 4097 - Record("DL1ABC", 2).size();
    ASSERT_TRUE(SendAll(station, Record("DL1ABC", 2, overBy1)));  // one byte over 4 KiB
    ASSERT_EQ(Record("DL1ABC", 2, overBy1).size(), 4097u);
    ASSERT_TRUE(SendAll(station, Record("DL1ABC", 3)));
    const std::string expected = Record("DL1ABC", 1) + Record("DL1ABC", 3);
    ASSERT_TRUE(Pump(monitors, got, [&] { return got[0].size() >= expected.size(); }));
    EXPECT_EQ(got[0], expected);
    EXPECT_EQ(::kill(relay.Pid(), 0), 0) << "relay still running";
    ASSERT_TRUE(WIFEXITED(relay.Stop(SIGTERM)));
    auto counts = relay.Counts();
    EXPECT_EQ(counts["overlong"], 2u) << relay.Log();
    EXPECT_EQ(counts["garbage"], 1u) << relay.Log();
}

TEST(RelayRecords, StationThatVanishesMidRecordRelaysNothingOfIt) {
    RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    Fds owner;
    const int probe = StartStation(relay, owner, "PROBE");
    std::vector<std::string> got;
    const std::vector<int> monitors = ConnectMonitors(relay, probe, 1, owner, got);

    const int station = ConnectLoopback(relay.StationPort());
    ASSERT_TRUE(SendAll(station, "DL1ABC;JN49EA;" + Record("DL1ABC", 1) + "DL1ABC;JN49EA;half"));
    const linger reset{1, 0};  // close with RST, as a crashed peer's kernel would
    ::setsockopt(station, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(station);
    ASSERT_TRUE(relay.WaitForLog("bytes of an unfinished record dropped", 5s));
    ASSERT_TRUE(SendAll(probe, Record("PROBE", 99)));
    ASSERT_TRUE(Pump(monitors, got, [&] { return got[0].find("PROBE") != std::string::npos; }));
    EXPECT_EQ(got[0], Record("DL1ABC", 1) + Record("PROBE", 99));
}

TEST(RelayMonitors, StalledMonitorIsDroppedWhileReadingMonitorsGetEverything) {
    RelayProcess relay;
    ASSERT_TRUE(relay.Start({"--monitor-queue", "65536"}));
    Fds owner;
    const int station = StartStation(relay, owner);
    std::vector<std::string> got;
    const std::vector<int> reading = ConnectMonitors(relay, station, 1, owner, got);
    const int stalled = owner.Add(ConnectLoopback(relay.MonitorPort(), 4096));
    ASSERT_TRUE(WaitUntil([&] { return relay.CountInLog(" connected") == 3; }));

    // Enough to fill the stalled monitor's socket buffers and then the relay's queue for it.
    std::string expected;
    for (int i = 0; i < 3000 && relay.CountInLog("not reading") == 0; ++i) {
        const std::string record = Record("DL1ABC", i, 3000);
        expected += record;
        ASSERT_TRUE(SendAll(station, record));
        Pump(reading, got, [] { return true; });
    }
    ASSERT_TRUE(relay.WaitForLog("not reading", 10s)) << relay.Log();
    ASSERT_TRUE(Pump(reading, got, [&] { return got[0].size() >= expected.size(); }))
        << got[0].size() << " of " << expected.size() << relay.Log();
    EXPECT_EQ(got[0], expected);
    // The stalled monitor's connection is closed: reading it to the end finds EOF or a reset.
    std::string drained;
    const auto deadline = Clock::now() + 10s;
    while (ReadAvailable(stalled, drained) && Clock::now() < deadline) {
        pollfd p{stalled, POLLIN, 0};
        ::poll(&p, 1, 20);
    }
    EXPECT_LT(Clock::now(), deadline);
    EXPECT_LT(drained.size(), expected.size());
    ASSERT_TRUE(WIFEXITED(relay.Stop(SIGTERM)));
    auto counts = relay.Counts();
    EXPECT_EQ(counts["stalled monitors"], 1u) << relay.Log();
    EXPECT_EQ(counts["monitors open"], 1u) << relay.Log();
}

TEST(RelayMonitors, ConnectionsBeyondTheCapAreRefusedAndServiceGoesOn) {
    RelayProcess relay;
    ASSERT_TRUE(relay.Start({"--max-connections", "300"}));
    Fds owner;
    const int station = StartStation(relay, owner);
    std::vector<std::string> got;
    std::vector<int> monitors = ConnectMonitors(relay, station, 20, owner, got);
    for (int i = 0; i < 300; ++i) owner.Add(ConnectLoopback(relay.StationPort()));
    EXPECT_TRUE(WaitUntil([&] { return relay.CountInLog(" refused: ") >= 21; }));
    EXPECT_EQ(relay.CountInLog(" refused: "), 21u);  // 1 + 20 + 279 fit under 300
    ASSERT_TRUE(SendAll(station, Record("DL1ABC", 1)));
    ASSERT_TRUE(Pump(monitors, got, [&] {
        for (const auto& g : got)
            if (g != Record("DL1ABC", 1)) return false;
        return true;
    }));
}

TEST(RelayLoad, FiftyStationsTwentyMonitorsEveryRecordOnceAndInOrder) {
    constexpr int kStations = 50, kMonitors = 20, kRecords = 40;
    RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    Fds owner;
    const int probe = StartStation(relay, owner, "PROBE");
    std::vector<std::string> got;
    const std::vector<int> monitors = ConnectMonitors(relay, probe, kMonitors, owner, got);
    std::vector<int> stations;
    std::vector<std::string> outbox;
    for (int s = 0; s < kStations; ++s) {
        stations.push_back(owner.Add(ConnectLoopback(relay.StationPort())));
        const std::string call = "ST" + std::to_string(s);
        std::string text = call + ";JN49EA;";
        for (int n = 0; n < kRecords; ++n) text += Record(call, n);
        outbox.push_back(std::move(text));
    }
    // Interleave the stations' bytes in random-sized pieces.
    std::mt19937 rng(42);
    std::uniform_int_distribution<std::size_t> piece(1, 400);
    std::vector<std::size_t> sent(kStations, 0);
    for (bool more = true; more;) {
        more = false;
        for (int s = 0; s < kStations; ++s) {
            if (sent[s] >= outbox[s].size()) continue;
            const std::size_t n = std::min(piece(rng), outbox[s].size() - sent[s]);
            ASSERT_TRUE(SendAll(stations[s], std::string_view(outbox[s]).substr(sent[s], n)));
            sent[s] += n;
            more = true;
        }
        Pump(monitors, got, [] { return true; });
    }
    const std::size_t total = [&] {
        std::size_t bytes = 0;
        for (int s = 0; s < kStations; ++s)
            bytes += outbox[s].size() - ("ST" + std::to_string(s) + ";JN49EA;").size();
        return bytes;
    }();
    ASSERT_TRUE(Pump(
        monitors, got,
        [&] {
            for (const auto& g : got)
                if (g.size() < total) return false;
            return true;
        },
        30s));
    for (int m = 0; m < kMonitors; ++m) {
        SCOPED_TRACE("monitor " + std::to_string(m));
        std::map<std::string, int> next;
        std::size_t records = 0;
        for (std::size_t at = 0; at < got[m].size();) {
            const std::size_t end = got[m].find('#', at);
            ASSERT_NE(end, std::string::npos);
            const std::string record = got[m].substr(at, end + 1 - at);
            const std::string call = record.substr(0, record.find(';'));
            ASSERT_EQ(record, Record(call, next[call]++)) << "lost, repeated or out of order";
            ++records;
            at = end + 1;
        }
        EXPECT_EQ(records, static_cast<std::size_t>(kStations * kRecords));
    }
}

TEST(RelayLifecycle, SigintAndSigtermEndItCleanlyWithCounts) {
    for (const int sig : {SIGINT, SIGTERM}) {
        RelayProcess relay;
        ASSERT_TRUE(relay.Start());
        Fds owner;
        const int station = StartStation(relay, owner);
        ASSERT_TRUE(SendAll(station, Record("DL1ABC", 1)));
        ASSERT_TRUE(relay.WaitForLog("login DL1ABC", 5s));
        const int status = relay.Stop(sig);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_NE(relay.Log().find("counts: 1 stations"), std::string::npos) << relay.Log();
        EXPECT_NE(relay.Log().find("stopped"), std::string::npos);
    }
}
