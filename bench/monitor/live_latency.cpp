// live_latency: how soon headless pelmora shows each record a server sends while the navigation
// device on its serial port reads nothing, and how soon it ends after SIGINT. The real program
// against a loopback server of this program, its serial port a pseudo-terminal whose queue in
// the kernel is full.
// Usage: live_latency [RUNS]   (default 5; each run 30 records, one every 100 ms, then SIGINT)
// Targets: every record shown within 100 ms of its arrival (before a busy server's next one),
// every run ended within 1000 ms of SIGINT; exits 1 when one is missed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "records.h"
#include "serial_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRecords = 30;
constexpr auto kInterval = std::chrono::milliseconds(100);
constexpr double kRecordTargetMs = 100, kExitTargetMs = 1000;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

struct Run {
    std::vector<double> recordMs;
    std::optional<double> exitMs;
    std::string failure;
};

// Reads pelmora's standard output until `line` starts a line, or `limit` passes.
bool WaitForLine(int fd, std::string& buffer, const std::string& line,
                 std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (true) {
        for (std::size_t at = 0; at < buffer.size();) {
            const std::size_t nl = buffer.find('\n', at);
            if (nl == std::string::npos) {
                buffer.erase(0, at);
                break;
            }
            if (buffer.compare(at, line.size(), line) == 0) {
                buffer.erase(0, nl + 1);
                return true;
            }
            at = nl + 1;
            if (at == buffer.size()) buffer.clear();
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

Run OneRun() {
    Run run;
    serial_test::Pty pty;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        run.failure = "no loopback server";
        return run;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        run.failure = "no pipe";
        return run;
    }
    const std::string server = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(pty.master);
        ::close(pty.keep_slave);
        std::freopen("/dev/null", "w", stderr);
        ::execl(PELMORA_EXECUTABLE, "pelmora", "--headless", "--server", server.c_str(), "--serial",
                pty.slave_path.c_str(), "--no-record-log", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    pty.FillUntilFull();
    pollfd p{listener, POLLIN, 0};
    const int peer =
        ::poll(&p, 1, 10000) == 1 ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    std::string buffer;
    if (peer < 0) run.failure = "pelmora did not connect";
    for (int n = 1; n <= kRecords && run.failure.empty(); ++n) {
        monitor::testing::Fix fix;
        char time[16];
        std::snprintf(time, sizeof time, "1200%02d.00", n % 60);
        fix.time = time;
        const std::string record = monitor::testing::Record(fix);
        const auto sent = Clock::now();
        if (::send(peer, record.data(), record.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(record.size())) {
            run.failure = "could not send";
            break;
        }
        if (!WaitForLine(out[0], buffer, "record=" + std::to_string(n) + "\t",
                         std::chrono::seconds(10))) {
            run.failure = "record " + std::to_string(n) + " not shown within 10 s";
            break;
        }
        run.recordMs.push_back(MsSince(sent));
        std::this_thread::sleep_until(sent + kInterval);
    }
    ::kill(pid, SIGINT);
    const auto signalled = Clock::now();
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (MsSince(signalled) > 30000) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        run.exitMs = MsSince(signalled);
    else if (run.failure.empty())
        run.failure = "pelmora did not end cleanly after SIGINT";
    if (peer >= 0) ::close(peer);
    ::close(listener);
    ::close(out[0]);
    return run;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<double> records, exits;
    for (int r = 0; r < runs; ++r) {
        const Run run = OneRun();
        if (!run.failure.empty()) {
            std::fprintf(stderr, "live_latency: run %d: %s\n", r + 1, run.failure.c_str());
            return 1;
        }
        records.insert(records.end(), run.recordMs.begin(), run.recordMs.end());
        exits.push_back(*run.exitMs);
    }
    const double slowestRecord = *std::max_element(records.begin(), records.end());
    const double slowestExit = *std::max_element(exits.begin(), exits.end());
    const bool recordsMet = slowestRecord <= kRecordTargetMs;
    const bool exitMet = slowestExit <= kExitTargetMs;
    std::printf(
        "live_latency: %d runs of %d records at %lld ms intervals, navigation device "
        "not reading\n",
        runs, kRecords, static_cast<long long>(kInterval.count()));
    std::printf(
        "  record shown after its arrival: median %.1f ms, slowest %.1f ms "
        "(target <= %.0f ms): %s\n",
        Median(records), slowestRecord, kRecordTargetMs, recordsMet ? "met" : "MISSED");
    std::printf("  end after SIGINT: median %.1f ms, slowest %.1f ms (target <= %.0f ms): %s\n",
                Median(exits), slowestExit, kExitTargetMs, exitMet ? "met" : "MISSED");
    const bool met = recordsMet && exitMet;
    std::printf("%s\n", met ? "every live latency target met" : "SOME LIVE LATENCY TARGETS MISSED");
    return met ? 0 : 1;
}
