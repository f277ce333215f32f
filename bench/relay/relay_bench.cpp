// Relay throughput: records per second delivered to every monitor on loopback, and the relay's
// peak resident memory; then the same records kept as history (--history) and replayed to a
// monitor that connects afterwards. Prints figures; it is not a pass/fail test.
//   relay_bench [--stations N] [--monitors N] [--records N (per station)] [--pad BYTES]
#include "tools/relay/harness.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace relay::harness;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int stations = 10, monitors = 20, records = 10000;
    std::size_t pad = 0;
};

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const long v = std::strtol(argv[i + 1], nullptr, 10);
        if (v <= 0) continue;
        if (!std::strcmp(argv[i], "--stations"))
            o.stations = static_cast<int>(v);
        else if (!std::strcmp(argv[i], "--monitors"))
            o.monitors = static_cast<int>(v);
        else if (!std::strcmp(argv[i], "--records"))
            o.records = static_cast<int>(v);
        else if (!std::strcmp(argv[i], "--pad"))
            o.pad = static_cast<std::size_t>(v);
    }
    return o;
}

std::string Record(int station, int seq, std::size_t pad) {
    return "ST" + std::to_string(station) +
           ";JN49EA;$GPGGA,123456,5133.0000,N,00009.0000,E,1,07,1.0,1234.5,M;  100,   200,  " +
           std::to_string(seq) + ", " + std::string(pad, '0') + "27.07.2024 12:34:56#";
}

void ReadAll(const std::vector<int>& fds, std::vector<std::size_t>& got, int waitMs) {
    std::vector<pollfd> polls;
    for (int fd : fds) polls.push_back({fd, POLLIN, 0});
    ::poll(polls.data(), polls.size(), waitMs);
    std::string buffer;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        buffer.clear();
        ReadAvailable(fds[i], buffer);
        got[i] += buffer.size();
    }
}

// The same uploads into a relay that keeps an hour of history (as much as its memory bound
// allows), then one monitor that connects once they are all in: how fast it gets the flight so
// far. A live record sent as it connects comes after the whole history and ends the count.
bool Replay(const Options& o, const std::vector<std::string>& outbox) {
    RelayProcess relay;
    if (!relay.Start({"--max-per-address", "0", "--history", "60"})) {
        std::fprintf(stderr, "relay_bench: cannot start the relay\n%s", relay.Log().c_str());
        return false;
    }
    for (int s = 0; s < o.stations; ++s) {
        const int fd = ConnectLoopback(relay.StationPort());
        if (!SendAll(fd, "ST" + std::to_string(s) + ";JN49EA;" + outbox[s],
                     std::chrono::seconds(120))) {
            std::fprintf(stderr, "relay_bench: station %d could not send\n", s);
            return false;
        }
        ::close(fd);
    }
    // Each station's disconnect is logged once all it sent has been read.
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (relay.CountInLog(" disconnected (") < static_cast<std::size_t>(o.stations)) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "relay_bench: the uploads were not read within 120 s\n");
            return false;
        }
        ::usleep(10000);
    }
    const long kept = relay.PeakMemoryKiB();
    const int live = ConnectLoopback(relay.StationPort());
    const std::string last = Record(-1, 0, 0);
    SendAll(live, "ST-1;JN49EA;");
    const auto start = Clock::now();
    const int late = ConnectLoopback(relay.MonitorPort());
    SendAll(live, last);
    std::string got;
    std::size_t records = 0, counted = 0;
    while (got.size() < last.size() || got.compare(got.size() - last.size(), last.size(), last)) {
        if (Clock::now() > start + std::chrono::seconds(120)) {
            std::fprintf(stderr, "relay_bench: the history did not arrive within 120 s\n");
            return false;
        }
        pollfd p{late, POLLIN, 0};
        ::poll(&p, 1, 10);
        ReadAvailable(late, got);
        records += static_cast<std::size_t>(std::count(got.begin() + counted, got.end(), '#'));
        counted = got.size();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "  history replayed:   %10.0f records per second to a late monitor (%zu in %.3f s)\n",
        static_cast<double>(records - 1) / seconds, records - 1, seconds);
    std::printf("  relay peak memory:  %10ld KiB VmHWM keeping them, %ld KiB after the replay\n",
                kept, relay.PeakMemoryKiB());
    ::close(late);
    ::close(live);
    relay.Stop(SIGTERM);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = Parse(argc, argv);
    RelayProcess relay;
    if (!relay.Start({"--max-per-address", "0"})) {
        std::fprintf(stderr, "relay_bench: cannot start the relay\n%s", relay.Log().c_str());
        return 1;
    }
    std::vector<int> monitors, stations;
    for (int m = 0; m < o.monitors; ++m) monitors.push_back(ConnectLoopback(relay.MonitorPort()));
    std::vector<std::size_t> got(monitors.size(), 0);
    for (int s = 0; s < o.stations; ++s) {
        stations.push_back(ConnectLoopback(relay.StationPort()));
        SendAll(stations.back(), "ST" + std::to_string(s) + ";JN49EA;");
    }
    // Wait until the relay has taken every monitor on: a probe record must reach them all.
    const std::string probe = Record(0, -1, 0);
    for (bool all = false; !all;) {
        SendAll(stations[0], probe);
        ReadAll(monitors, got, 50);
        all = true;
        for (std::size_t g : got) all = all && g > 0;
    }
    // Let replies to the earlier probes arrive so they are not counted as benchmark records.
    for (int i = 0; i < 4; ++i) ReadAll(monitors, got, 50);
    const std::vector<std::size_t> base = got;

    std::vector<std::string> outbox(stations.size());
    std::size_t perMonitor = 0;
    for (int s = 0; s < o.stations; ++s) {
        for (int n = 0; n < o.records; ++n) outbox[s] += Record(s, n, o.pad);
        perMonitor += outbox[s].size();
    }
    const long memoryBefore = relay.PeakMemoryKiB();
    const auto start = Clock::now();
    constexpr std::size_t kChunk = 16 * 1024;
    std::vector<std::size_t> sent(stations.size(), 0);
    auto done = [&] {
        for (std::size_t i = 0; i < got.size(); ++i)
            if (got[i] - base[i] < perMonitor) return false;
        return true;
    };
    const auto deadline = start + std::chrono::seconds(120);
    while (!done() && Clock::now() < deadline) {
        for (std::size_t s = 0; s < stations.size(); ++s) {
            if (sent[s] >= outbox[s].size()) continue;
            const std::size_t n = std::min(kChunk, outbox[s].size() - sent[s]);
            if (!SendAll(stations[s], std::string_view(outbox[s]).substr(sent[s], n))) {
                std::fprintf(stderr, "relay_bench: station %zu could not send\n", s);
                return 1;
            }
            sent[s] += n;
        }
        ReadAll(monitors, got, 0);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!done()) {
        std::fprintf(stderr, "relay_bench: not everything arrived within 120 s\n");
        return 1;
    }
    const long peak = relay.PeakMemoryKiB();
    const double records = static_cast<double>(o.stations) * o.records;
    std::printf("relay_bench: %d stations, %d monitors, %.0f records of %zu bytes\n", o.stations,
                o.monitors, records, outbox[0].size() / static_cast<std::size_t>(o.records));
    std::printf("  records relayed:    %10.0f per second\n", records / seconds);
    std::printf("  deliveries:         %10.0f per second (records x monitors)\n",
                records * o.monitors / seconds);
    std::printf("  bytes to monitors:  %10.1f MB/s\n",
                static_cast<double>(perMonitor) * o.monitors / seconds / 1e6);
    std::printf("  elapsed:            %10.3f s\n", seconds);
    std::printf("  relay peak memory:  %10ld KiB VmHWM (%ld KiB before the run)\n", peak,
                memoryBefore);
    for (int fd : monitors) ::close(fd);
    for (int fd : stations) ::close(fd);
    relay.Stop(SIGTERM);
    return Replay(o, outbox) ? 0 : 1;
}
