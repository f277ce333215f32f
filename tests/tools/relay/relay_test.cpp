// Drives the real relay program over loopback with plain sockets.
#include "tools/relay/harness.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <sstream>
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

// Raises the soft limit on open files to `wanted`; false if the hard limit is lower.
bool RaiseDescriptorLimit(rlim_t wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max < wanted) return false;
    if (limit.rlim_cur >= wanted) return true;
    limit.rlim_cur = wanted;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

// How many of `fds` the relay has closed.
int Closed(const std::vector<int>& fds) {
    std::string ignored;
    return static_cast<int>(
        std::count_if(fds.begin(), fds.end(), [&](int fd) { return !ReadAvailable(fd, ignored); }));
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
// sent afterwards cannot race the relay's accepting. The probe records, sent by `station`
// logged in as `call`, are stripped again.
std::vector<int> ConnectMonitors(RelayProcess& relay, int station, const std::string& call,
                                 int count, Fds& owner, std::vector<std::string>& got) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) fds.push_back(owner.Add(ConnectLoopback(relay.MonitorPort())));
    got.assign(fds.size(), "");
    for (int probe = 0;; ++probe) {
        const std::string record = call + ";JN49EA;probe;" + std::to_string(probe) + "#";
        EXPECT_TRUE(SendAll(station, record));
        const bool all = Pump(
            fds, got,
            [&] {
                for (const auto& g : got)
                    if (g.find(";probe;") == std::string::npos) return false;
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
                      CliCase{"BindName", {"--bind", "example.org"}, 2, "numeric address"},
                      CliCase{"PerAddressNotNumber",
                              {"--max-per-address", "-1"},
                              2,
                              "--max-per-address wants a number from 0"},
                      CliCase{
                          "HistoryOverADay", {"--history", "1441"}, 2, "minutes from 0 to 1440"}),
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
    const std::vector<int> monitors = ConnectMonitors(relay, probeStation, "PROBE", 2, owner, got);

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
    const std::vector<int> monitors = ConnectMonitors(relay, station, "DL1ABC", 1, owner, got);

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
    EXPECT_EQ(counts["bytes"], garbage.size() + 1 + 64 * 1024 + 1 + 4097) << relay.Log();
}

TEST(RelayRecords, StationThatVanishesMidRecordRelaysNothingOfIt) {
    RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    Fds owner;
    const int probe = StartStation(relay, owner, "PROBE");
    std::vector<std::string> got;
    const std::vector<int> monitors = ConnectMonitors(relay, probe, "PROBE", 1, owner, got);

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
    const std::vector<int> reading = ConnectMonitors(relay, station, "DL1ABC", 1, owner, got);
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
    ASSERT_TRUE(relay.Start({"--max-connections", "300", "--max-per-address", "0"}));
    Fds owner;
    const int station = StartStation(relay, owner);
    std::vector<std::string> got;
    std::vector<int> monitors = ConnectMonitors(relay, station, "DL1ABC", 20, owner, got);
    // Logged-in stations: none of them is given up to make room.
    std::vector<int> more;
    for (int i = 0; i < 300; ++i) {
        more.push_back(owner.Add(ConnectLoopback(relay.StationPort())));
        SendAll(more.back(), "ST" + std::to_string(i) + ";JN49EA;");
    }
    EXPECT_TRUE(WaitUntil([&] { return Closed(more) >= 21; }));
    ASSERT_TRUE(SendAll(station, Record("DL1ABC", 1)));
    ASSERT_TRUE(Pump(monitors, got, [&] {
        for (const auto& g : got)
            if (g != Record("DL1ABC", 1)) return false;
        return true;
    }));
    EXPECT_EQ(Closed(more), 21);  // 1 + 20 + 279 fit under 300
    ASSERT_TRUE(WIFEXITED(relay.Stop(SIGTERM)));
    auto counts = relay.Counts();
    EXPECT_EQ(counts["refused connections"], 21u) << relay.Log();
    EXPECT_EQ(counts["evicted"], 0u) << relay.Log();
}

TEST(RelayLoad, FiftyStationsTwentyMonitorsEveryRecordOnceAndInOrder) {
    constexpr int kStations = 50, kMonitors = 20, kRecords = 40;
    RelayProcess relay;
    ASSERT_TRUE(relay.Start({"--max-per-address", "0"}));
    Fds owner;
    const int probe = StartStation(relay, owner, "PROBE");
    std::vector<std::string> got;
    const std::vector<int> monitors = ConnectMonitors(relay, probe, "PROBE", kMonitors, owner, got);
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
        const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z relay: .*)");
        std::istringstream lines(relay.Log());
        for (std::string line; std::getline(lines, line);)
            EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
}

// The defaults hold 2,000 station connections and 50 from one address: idle connections from
// 40 hosts fill every station slot, and a station and a monitor still get through at once.
TEST(RelayGuard, IdleConnectionsFromManyHostsKeepNoStationOrMonitorOut) {
    constexpr int kHosts = 40, kPerHost = 50;
    if (!RaiseDescriptorLimit(kHosts * kPerHost + 500))
        GTEST_SKIP() << "the hard limit on open files is below " << kHosts * kPerHost + 500;
    RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    Fds owner;
    const auto host = [](int h) { return "127.0.0." + std::to_string(2 + h); };
    const auto start = Clock::now();
    std::vector<int> idle, extra;
    for (int h = 0; h < kHosts; ++h) {
        for (int i = 0; i < kPerHost; ++i) {
            idle.push_back(owner.Add(ConnectLoopbackFrom(host(h).c_str(), relay.StationPort())));
            ASSERT_GE(idle.back(), 0) << host(h);
        }
    }
    if (Clock::now() - start > 5s)
        GTEST_SKIP() << "opening the connections took half the relay's 10 s login deadline";
    // One more from each host is refused. The relay takes connections in order, so once these
    // are closed it holds every idle one.
    for (int h = 0; h < kHosts; ++h)
        extra.push_back(owner.Add(ConnectLoopbackFrom(host(h).c_str(), relay.StationPort())));
    ASSERT_TRUE(WaitUntil([&] { return Closed(extra) == kHosts; }, 100s));
    EXPECT_EQ(Closed(idle), 0);

    const int station = StartStation(relay, owner);
    std::vector<std::string> got;
    const std::vector<int> monitors = ConnectMonitors(relay, station, "DL1ABC", 1, owner, got);
    EXPECT_EQ(Closed(idle), 1);  // the oldest gave its room to the station

    // The login deadline closes the rest; the station, logged in and silent since, stays.
    ASSERT_TRUE(WaitUntil([&] { return Closed(idle) == kHosts * kPerHost; }, 100s));
    ASSERT_TRUE(SendAll(station, Record("DL1ABC", 1)));
    ASSERT_TRUE(Pump(monitors, got, [&] { return got[0] == Record("DL1ABC", 1); })) << got[0];
    ASSERT_TRUE(WIFEXITED(relay.Stop(SIGTERM)));
    auto counts = relay.Counts();
    EXPECT_EQ(counts["refused connections"], static_cast<std::uint64_t>(kHosts)) << relay.Log();
    EXPECT_EQ(counts["evicted"], 1u);
    EXPECT_EQ(counts["login timeouts"], static_cast<std::uint64_t>(kHosts * kPerHost - 1));
}

TEST(RelayGuard, TwentyMegabytesOfGarbageWriteAFewLogLines) {
    RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    std::mt19937 rng(20);
    std::string garbage(20 << 20, '\0');
    for (char& c : garbage) c = static_cast<char>(rng() & 0xff);
    garbage.back() = '#';
    const std::size_t linesBefore = relay.CountInLog("\n");
    const int stranger = ConnectLoopback(relay.StationPort());
    const int station = ConnectLoopback(relay.StationPort());
    ASSERT_TRUE(SendAll(station, "DL1ABC;JN49EA;"));
    ASSERT_TRUE(SendAll(stranger, garbage, 100s));
    ASSERT_TRUE(SendAll(station, garbage, 100s));
    ::close(stranger);
    ::close(station);
    ASSERT_TRUE(relay.WaitForLog("closed 1 station connection without", 100s)) << relay.Log();
    ASSERT_TRUE(relay.WaitForLog(" disconnected (", 100s)) << relay.Log();
    // The station's connect, login, first drop and disconnect; the stranger's first drop and
    // its close.
    EXPECT_LE(relay.CountInLog("\n") - linesBefore, 6u) << relay.Log();
    ASSERT_TRUE(WIFEXITED(relay.Stop(SIGTERM)));
    auto counts = relay.Counts();
    EXPECT_EQ(counts["bytes"], 2 * garbage.size()) << relay.Log();
}

// A late monitor gets ten minutes of records, far more than its queue may hold, whole and in
// order before live ones; monitors that read none of it cost the relay no more than their queue
// each.
TEST(RelayHistory, ReplayBeyondTheMonitorQueueArrivesWholeInBoundedMemory) {
    constexpr int kStalled = 10;
    RelayProcess relay;
    ASSERT_TRUE(relay.Start({"--history", "10", "--monitor-queue", "65536"}));
    Fds owner;
    const int station = ConnectLoopback(relay.StationPort());
    std::string flight;
    for (int i = 0; i < 16000; ++i) flight += Record("DL1ABC", i, 500);
    ASSERT_TRUE(SendAll(station, "DL1ABC;JN49EA;" + flight, 100s));
    ::close(station);
    ASSERT_TRUE(relay.WaitForLog(" disconnected (16000 records)", 100s)) << relay.Log();
    const long memoryBefore = relay.PeakMemoryKiB();

    for (int i = 0; i < kStalled; ++i) owner.Add(ConnectLoopback(relay.MonitorPort(), 4096));
    const int late = owner.Add(ConnectLoopback(relay.MonitorPort()));
    // Live records while it replays come after the history.
    const int live = StartStation(relay, owner, "DL2XYZ");
    const std::string news = Record("DL2XYZ", 1) + Record("DL2XYZ", 2);
    ASSERT_TRUE(SendAll(live, news));
    std::vector<std::string> got(1);
    ASSERT_TRUE(Pump(
        {late}, got, [&] { return got[0].size() >= flight.size() + news.size(); }, 100s));
    EXPECT_TRUE(got[0] == flight + news) << "out of order or incomplete";
    const long grown = relay.PeakMemoryKiB() - memoryBefore;
    EXPECT_LT(grown, static_cast<long>(flight.size() / 1024) * kStalled / 4)
        << "KiB for " << kStalled << " monitors that read nothing";
    ASSERT_TRUE(WIFEXITED(relay.Stop(SIGTERM)));
    EXPECT_EQ(relay.Counts()["stalled monitors"], 0u) << relay.Log();
}
