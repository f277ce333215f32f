// Stand-ins for serial tests: pseudo-terminal pairs, a socat-linked pty pair, and a small
// event loop thread that plays the program's window thread.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "common/serial/ser_comm.h"

namespace serial_test {

// Polls `pred` until true or `limit` passes; the limit only guards against hangs.
inline bool WaitUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A pty whose slave the component opens by path; the test holds the master as the far end.
struct Pty {
    int master = -1;
    std::string slave_path;

    Pty() {
        int slave = -1;
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        slave_path = name;
        // Keep one slave descriptor open so the master sees no hang-up before the component opens.
        keep_slave = slave;
    }
    ~Pty() {
        CloseMaster();
        if (keep_slave >= 0) close(keep_slave);
    }
    void CloseMaster() {
        if (master >= 0) close(master);
        master = -1;
    }
    void Send(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
        }
    }
    // Reads until `count` bytes arrived or nothing came for `idle_ms`.
    std::string Receive(std::size_t count, int idle_ms = 3000) const {
        return ReadFd(master, count, idle_ms);
    }
    // Plays a device that stopped reading: fills what the kernel holds for the master with
    // `filler` bytes until it takes no more, also after the kernel has moved what it holds
    // on to the master's side (it does that a moment later). Returns the bytes written.
    std::size_t FillUntilFull(char filler = 'x') const {
        const int flags = fcntl(keep_slave, F_GETFL);
        fcntl(keep_slave, F_SETFL, flags | O_NONBLOCK);
        const std::string chunk(70, filler);
        std::size_t total = 0;
        while (true) {
            for (ssize_t n; (n = write(keep_slave, chunk.data(), chunk.size())) > 0;)
                total += static_cast<std::size_t>(n);
            pollfd p{keep_slave, POLLOUT, 0};
            if (poll(&p, 1, 200) <= 0) break;
        }
        fcntl(keep_slave, F_SETFL, flags);
        return total;
    }
    speed_t OutputSpeed() const {
        termios tio = Termios();
        return cfgetospeed(&tio);
    }
    termios Termios() const {
        termios tio{};
        tcgetattr(master, &tio);
        return tio;
    }

    static std::string ReadFd(int fd, std::size_t count, int idle_ms) {
        std::string out;
        char chunk[4096];
        while (out.size() < count) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, idle_ms) <= 0) break;
            ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) break;
            out.append(chunk, static_cast<std::size_t>(n));
        }
        return out;
    }

    int keep_slave = -1;
};

// Runs `calls` while the far end of `pty` reads nothing. A call that waited for the device would
// wait for good: past `limit` the far end reads again, so the test can end, and the answer is
// false. How long the calls take is for the benchmarks to say.
inline bool ReturnWhileTheDeviceStalls(const Pty& pty, const std::function<void()>& calls,
                                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto done = std::async(std::launch::async, calls);
    if (done.wait_for(limit) == std::future_status::ready) return true;
    while (done.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        pty.Receive(1 << 20, 50);
    return false;
}

// Two ptys joined by a socat process; each end is a device path.
struct SocatPair {
    pid_t pid = -1;
    std::string a, b;

    explicit SocatPair(const std::string& dir) {
        a = dir + "/end_a";
        b = dir + "/end_b";
        pid = fork();
        if (pid == 0) {
            const std::string arg_a = "pty,raw,echo=0,link=" + a;
            const std::string arg_b = "pty,raw,echo=0,link=" + b;
            execlp("socat", "socat", arg_a.c_str(), arg_b.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        WaitUntil([&] { return std::filesystem::exists(a) && std::filesystem::exists(b); },
                  std::chrono::seconds(5));
    }
    bool Ready() const {
        return pid > 0 && std::filesystem::exists(a) && std::filesystem::exists(b);
    }
    void Stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    ~SocatPair() { Stop(); }
};

inline bool HaveSocat() {
    return system("command -v socat >/dev/null 2>&1") == 0;
}

// The program's event loop in miniature: jobs run in order on one thread.
class TestLoop {
  public:
    TestLoop() : thread_([this] { Run(); }) {}
    ~TestLoop() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void Post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        cv_.notify_all();
    }
    bool OnLoop() const { return std::this_thread::get_id() == thread_.get_id(); }
    common::TSerDispatcher Dispatcher() {
        return common::MakeBlockingDispatcher(
            [this](std::function<void()> job) { Post(std::move(job)); },
            [this] { return OnLoop(); });
    }

  private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (true) {
            cv_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    bool quit_ = false;
    std::thread thread_;
};

// A fresh empty folder under the system temp folder, removed afterwards.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        char pattern[] = "/tmp/serial_test_XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

}  // namespace serial_test
