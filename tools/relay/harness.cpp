#include "tools/relay/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <regex>

namespace relay::harness {

using Clock = std::chrono::steady_clock;

RelayProcess::~RelayProcess() {
    if (m_pid > 0) Stop(SIGKILL);
    if (m_reader.joinable()) m_reader.join();
    if (m_errFd >= 0) ::close(m_errFd);
}

bool RelayProcess::Start(const std::vector<std::string>& extra) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    std::vector<std::string> args = {RELAY_BINARY, "--station-port", "0", "--monitor-port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    m_pid = ::fork();
    if (m_pid < 0) return false;
    if (m_pid == 0) {
        ::dup2(pipeFds[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    m_errFd = pipeFds[0];
    m_reader = std::thread([this] {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_errFd, buffer, sizeof buffer);
            if (n <= 0 && !(n < 0 && errno == EINTR)) break;
            if (n > 0) {
                std::lock_guard lock(m_mutex);
                m_log.append(buffer, static_cast<std::size_t>(n));
            }
        }
    });
    if (!WaitForLog("monitors on ", std::chrono::seconds(10))) return false;
    const std::regex ports(R"(stations on \S+:(\d+), monitors on \S+:(\d+))");
    std::smatch match;
    const std::string log = Log();
    if (!std::regex_search(log, match, ports)) return false;
    m_stationPort = static_cast<std::uint16_t>(std::stoi(match[1]));
    m_monitorPort = static_cast<std::uint16_t>(std::stoi(match[2]));
    return true;
}

std::string RelayProcess::Log() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}

bool RelayProcess::WaitForLog(std::string_view text, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    while (Log().find(text) == std::string::npos) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::size_t RelayProcess::CountInLog(std::string_view text) const {
    const std::string log = Log();
    std::size_t count = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
}

std::map<std::string, std::uint64_t> RelayProcess::Counts() const {
    const std::string log = Log();
    std::map<std::string, std::uint64_t> counts;
    const auto at = log.rfind("counts: ");
    if (at == std::string::npos) return counts;
    const std::string line = log.substr(at, log.find('\n', at) - at);
    // "N name" pieces between ":", ";" and ",".
    const std::regex figure(R"(([0-9]+) ([^,;:]+))");
    for (std::sregex_iterator it(line.begin(), line.end(), figure), end; it != end; ++it)
        counts[(*it)[2]] = std::stoull((*it)[1]);
    return counts;
}

long RelayProcess::PeakMemoryKiB() const {
    std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

int RelayProcess::Stop(int signal, std::chrono::milliseconds timeout) {
    if (m_pid <= 0) return -1;
    ::kill(m_pid, signal);
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) break;
        if (Clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    if (m_reader.joinable()) m_reader.join();
    return status;
}

RunResult RunRelay(const std::vector<std::string>& args) {
    RunResult result;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        std::vector<std::string> all = {RELAY_BINARY};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    // Short outputs only (usage texts): read one pipe after the other.
    for (auto [fd, into] :
         {std::pair{outPipe[0], &result.out}, std::pair{errPipe[0], &result.err}}) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            into->append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

namespace {

int Connect(std::uint16_t port, int receiveBufferBytes, const char* sourceAddress) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (receiveBufferBytes > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    if (sourceAddress != nullptr) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        if (::inet_pton(AF_INET, sourceAddress, &from.sin_addr) != 1 ||
            ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            ::close(fd);
            return -1;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

}  // namespace

int ConnectLoopback(std::uint16_t port, int receiveBufferBytes) {
    return Connect(port, receiveBufferBytes, nullptr);
}

int ConnectLoopbackFrom(const char* sourceAddress, std::uint16_t port) {
    return Connect(port, 0, sourceAddress);
}

bool SendAll(int fd, std::string_view data, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (Clock::now() > deadline) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return true;
}

bool ReadAvailable(int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) return false;
        return errno == EAGAIN || errno == EINTR;
    }
}

}  // namespace relay::harness
