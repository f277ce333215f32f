// Runs the real relay program on loopback and talks to it with plain non-blocking sockets,
// for tests and the benchmark. POSIX only; no Qt, so the clients cannot share the relay's bugs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace relay::harness {

class RelayProcess {
  public:
    RelayProcess() = default;
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;
    ~RelayProcess();

    // Starts `relay --station-port 0 --monitor-port 0 <extra>` and waits for its ports line.
    bool Start(const std::vector<std::string>& extra = {});
    std::uint16_t StationPort() const { return m_stationPort; }
    std::uint16_t MonitorPort() const { return m_monitorPort; }
    pid_t Pid() const { return m_pid; }

    std::string Log() const;  // standard error so far
    bool WaitForLog(std::string_view text, std::chrono::milliseconds timeout) const;
    std::size_t CountInLog(std::string_view text) const;
    // The figures of the last "counts:" line by name ("records", "stalled monitors", ...);
    // the relay writes one when it stops.
    std::map<std::string, std::uint64_t> Counts() const;
    long PeakMemoryKiB() const;  // VmHWM; -1 if unknown

    // Sends the signal and waits; the exit status as from waitpid, or -1 on timeout (then killed).
    int Stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(10));

  private:
    pid_t m_pid = -1;
    int m_errFd = -1;
    std::uint16_t m_stationPort = 0, m_monitorPort = 0;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::string m_log;
};

// Runs the relay binary with arguments to completion: exit status and everything it wrote.
struct RunResult {
    int exitCode = -1;
    std::string out, err;
};
RunResult RunRelay(const std::vector<std::string>& args);

// A connected non-blocking loopback socket, or -1.
int ConnectLoopback(std::uint16_t port, int receiveBufferBytes = 0);
// The same from another loopback address (127.0.0.2 and up), as a host of its own.
int ConnectLoopbackFrom(const char* sourceAddress, std::uint16_t port);
// Writes everything, waiting for room up to `timeout`; false on error or timeout.
bool SendAll(int fd, std::string_view data,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Appends whatever is readable now to `into`; false once the peer has closed or failed.
bool ReadAvailable(int fd, std::string& into);

}  // namespace relay::harness
