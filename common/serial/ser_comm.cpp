#include "common/serial/ser_comm.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

namespace common {

namespace {

constexpr const char* kRefused = "Can't perform this operation while port is open";
constexpr const char* kBufferFull = "Output buffer is full. Please check comm status.";
constexpr std::uint32_t kModemEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing;
constexpr int kLinePollMs = 50;     // interval for line state the kernel cannot wake us for
constexpr int kWriteRetryMs = 250;  // pause before retrying a failed device write

// Wakes a thread blocked in TIOCMIWAIT at Close; the handler only has to exist.
int ModemWakeSignal() {
    return SIGRTMIN + 4;
}
void InstallModemWakeHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = [](int) {};
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;  // no SA_RESTART: the ioctl must return EINTR
        sigaction(ModemWakeSignal(), &sa, nullptr);
    });
}

void ApplyNice(pid_t tid, TThreadPriority priority) {
    if (tid > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceValueFor(priority));
}

bool IsDeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE;
}

}  // namespace

void TSerDirectDispatch(const std::function<void()>& job, std::stop_token) {
    job();
}

TSerDispatcher MakeBlockingDispatcher(std::function<void(std::function<void()>)> post,
                                      std::function<bool()> on_owner_thread) {
    return [post = std::move(post), on_owner_thread = std::move(on_owner_thread)](
               const std::function<void()>& job, std::stop_token stop) {
        if (on_owner_thread && on_owner_thread()) {
            job();
            return;
        }
        struct State {
            std::mutex mutex;
            std::condition_variable_any cv;
            bool done = false;
        };
        auto state = std::make_shared<State>();
        post([state, job] {
            job();
            {
                std::lock_guard lock(state->mutex);
                state->done = true;
            }
            state->cv.notify_all();
        });
        std::unique_lock lock(state->mutex);
        state->cv.wait(lock, stop, [&] { return state->done; });
    };
}

// Runtime state of one open period. Worker threads share it, so a worker that outlives the
// component's interest (Close from inside a handler on that worker) never touches freed memory,
// and a notification that reaches the owner's thread after Close finds no owner and does nothing.
struct TSerSession : std::enable_shared_from_this<TSerSession> {
    int fd = -1;
    std::uint32_t mask = 0;
    char event_char = 0;
    TSerDispatcher dispatcher;
    std::stop_source stop;
    int stop_fd = -1;  // eventfd, readable once stop is requested
    int kick_fd = -1;  // eventfd, wakes the event thread for pending_events
    std::atomic<std::uint32_t> line_errors{0};
    std::atomic<std::uint32_t> pending_events{0};

    std::recursive_mutex owner_mutex;
    TSerCustomComm* owner = nullptr;

    // Write side: the write lock guards buffer, data_ready's clearing and the direct-write path.
    TSerCriticalSection write_lock;
    std::condition_variable_any space_cv;
    std::unique_ptr<TSerCommBuffer> buffer;
    TSerWaitEvent data_ready;

    std::thread event_thread;
    std::thread write_thread;
    std::thread modem_thread;
    std::atomic<pid_t> event_tid{0};
    std::atomic<pid_t> write_tid{0};
    std::atomic<bool> modem_done{false};
    std::atomic<bool> modem_poll{false};  // TIOCMIWAIT refused: the event thread polls instead

    ~TSerSession() {
        if (stop_fd >= 0) ::close(stop_fd);
        if (kick_fd >= 0) ::close(kick_fd);
    }

    bool Stopping() const { return stop.stop_requested(); }

    // Under the write lock. Stop is requested before RequestStop takes the lock to set the event,
    // so checking it here keeps a reset from swallowing that wake-up.
    void ResetDataReady() {
        if (!Stopping()) data_ready.ResetEvent();
    }

    void RequestStop() {
        stop.request_stop();
        std::uint64_t one = 1;
        if (stop_fd >= 0) (void)!::write(stop_fd, &one, sizeof one);
        {
            std::lock_guard lock(write_lock);
            data_ready.SetEvent();
        }
        space_cv.notify_all();
    }

    void Kick(std::uint32_t events) {
        pending_events.fetch_or(events);
        std::uint64_t one = 1;
        (void)!::write(kick_fd, &one, sizeof one);
    }

    // Runs the dispatch for `w` on the owner's thread and waits for it (or for stop).
    void RunOnOwner(std::uint32_t w) {
        if (Stopping()) return;
        auto self = shared_from_this();
        std::function<void()> job = [self, w] {
            std::lock_guard lock(self->owner_mutex);
            if (self->owner != nullptr && !self->Stopping()) self->owner->DispatchEvents(w);
        };
        try {
            dispatcher(job, stop.get_token());
        } catch (...) {
            // A failing dispatcher must not end the worker; the notification is lost.
        }
    }

    // Returns true when stop was requested, false after `ms` (negative: no limit).
    bool SleepUnlessStopped(int ms) {
        pollfd p{stop_fd, POLLIN, 0};
        while (!Stopping()) {
            int r = ::poll(&p, 1, ms);
            if (r >= 0 || errno != EINTR) break;
        }
        return Stopping();
    }

    void EventLoop();
    void WriteLoop();
    void ModemLoop();
};

void TSerSession::EventLoop() {
    const bool want_rx = (mask & kEvRxChar) != 0;
    const bool want_modem = (mask & kModemEvents) != 0;
    const bool want_line_errors = (mask & (kEvErr | kEvBreak)) != 0;

    serial_icounter_struct last_count{};
    const bool have_icount = ioctl(fd, TIOCGICOUNT, &last_count) == 0;
    int last_lines = 0;
    const bool have_lines = ioctl(fd, TIOCMGET, &last_lines) == 0;

    bool alive = true;
    bool rx_unread = false;  // bytes were left unread after OnRxChar: wait for more, not for any
    int rx_seen = 0;

    while (!Stopping()) {
        const bool watch_lines = have_lines && want_modem && (!have_icount || modem_poll.load());
        const bool periodic = alive && (rx_unread || watch_lines ||
                                        (have_icount && (want_line_errors || want_modem)));
        pollfd fds[3] = {
            {stop_fd, POLLIN, 0},
            {kick_fd, POLLIN, 0},
            {alive ? fd : -1, static_cast<short>(want_rx && !rx_unread ? POLLIN : 0), 0}};
        int r = ::poll(fds, 3, periodic ? kLinePollMs : -1);
        if (r < 0 && errno != EINTR) break;
        if (Stopping()) break;

        std::uint32_t w = 0;
        if (fds[1].revents & POLLIN) {
            std::uint64_t drained;
            (void)!::read(kick_fd, &drained, sizeof drained);
            w |= pending_events.exchange(0);
        }
        if (alive && (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            // The other end went away: report it once, then stop watching the device.
            alive = false;
            line_errors.fetch_or(kSerErrHangup);
            w |= kEvErr;
        }
        if (alive && want_rx) {
            int queued = 0;
            if (ioctl(fd, FIONREAD, &queued) == 0) {
                if (queued > 0 && (!rx_unread || queued > rx_seen)) w |= kEvRxChar;
                if (rx_unread && queued < rx_seen) rx_seen = queued;
                if (queued == 0) rx_unread = false;
            }
        }
        if (alive && have_icount) {
            serial_icounter_struct now{};
            if (ioctl(fd, TIOCGICOUNT, &now) == 0) {
                std::uint32_t errors = 0;
                if (now.frame != last_count.frame) errors |= kSerErrFrame;
                if (now.overrun != last_count.overrun) errors |= kSerErrOverrun;
                if (now.parity != last_count.parity) errors |= kSerErrParity;
                if (now.buf_overrun != last_count.buf_overrun) errors |= kSerErrRxOver;
                if (now.brk != last_count.brk) {
                    errors |= kSerErrBreak;
                    w |= kEvBreak;
                }
                if (errors != 0) {
                    line_errors.fetch_or(errors);
                    w |= kEvErr;
                }
                if (now.cts != last_count.cts) w |= kEvCts;
                if (now.dsr != last_count.dsr) w |= kEvDsr;
                if (now.dcd != last_count.dcd) w |= kEvRlsd;
                if (now.rng != last_count.rng) w |= kEvRing;
                last_count = now;
            }
        }
        if (alive && watch_lines) {
            int lines = 0;
            if (ioctl(fd, TIOCMGET, &lines) == 0) {
                const int changed = lines ^ last_lines;
                if (changed & TIOCM_CTS) w |= kEvCts;
                if (changed & TIOCM_DSR) w |= kEvDsr;
                if (changed & TIOCM_CD) w |= kEvRlsd;
                if ((changed & TIOCM_RNG) && (lines & TIOCM_RNG)) w |= kEvRing;
                last_lines = lines;
            }
        }

        w &= mask;
        if (w == 0) continue;
        RunOnOwner(w);
        if (Stopping()) break;
        if ((w & kEvRxChar) && alive) {
            int left = 0;
            if (ioctl(fd, FIONREAD, &left) == 0) {
                rx_unread = left > 0;
                rx_seen = left;
            }
        }
    }
}

void TSerSession::WriteLoop() {
    while (true) {
        data_ready.WaitFor(-1);
        if (Stopping()) return;
        const std::uint8_t* start;
        std::size_t fill;
        {
            std::lock_guard lock(write_lock);
            start = buffer->Data();
            fill = buffer->Fill();
            if (fill == 0) {
                ResetDataReady();
                continue;
            }
        }
        // Appends only add behind the fill count, so [start, start + fill) stays put meanwhile.
        const ssize_t written = ::write(fd, start, fill);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) {
            pollfd fds[2] = {{stop_fd, POLLIN, 0}, {fd, POLLOUT, 0}};
            ::poll(fds, 2, -1);
            continue;
        }
        if (written < 0) {
            const int err = errno;
            line_errors.fetch_or(IsDeviceGone(err) ? kSerErrHangup : kSerErrWrite);
            RunOnOwner(kEvErr);
            // The data stays queued. A vanished device will not come back on this handle, so wait
            // for Close; otherwise retry after a pause rather than spinning on the error.
            if (SleepUnlessStopped(IsDeviceGone(err) ? -1 : kWriteRetryMs)) return;
            continue;
        }
        bool empty;
        {
            std::lock_guard lock(write_lock);
            buffer->Consume(static_cast<std::size_t>(written));
            empty = buffer->Fill() == 0;
            if (empty) ResetDataReady();
        }
        space_cv.notify_all();
        if (empty) RunOnOwner(kEvTxEmpty);
    }
}

void TSerSession::ModemLoop() {
    const int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
    while (!Stopping()) {
        if (ioctl(fd, TIOCMIWAIT, lines) == 0) {
            if (!Stopping()) Kick(0);
            continue;
        }
        if (errno == EINTR) continue;
        if (!Stopping()) {
            modem_poll.store(true);
            Kick(0);
        }
        break;
    }
    modem_done.store(true);
}

TSerCustomComm::TSerCustomComm() {
    event_chars_.SetOnChange([this](TSerPersistent&) { LineChanged(); });
    flow_control_.SetOnChange([this](TSerPersistent&) { LineChanged(); });
    buffers_.SetOnChange([this](TSerPersistent&) { RefuseWhileOpen(); });
}

TSerCustomComm::~TSerCustomComm() {
    destroying_ = true;
    try {
        Close();
    } catch (...) {
        // Nothing sensible remains to be done with a failure while going away.
    }
}

void TSerCustomComm::RefuseWhileOpen() const {
    if (Active()) throw ESerCommError(kRefused);
}

TSerDcb TSerCustomComm::CurrentDcb() const {
    return ComputeDcb(line_, flow_control_, event_chars_, buffers_);
}

void TSerCustomComm::ApplyLineSettings() {
    if (!Active() || !update_dcb_) return;
    if (int err = ApplyDcb(fd_.load(), CurrentDcb()); err != 0) {
        throw ESerCommError(SerSysMessage("Error writing dcb ", err));
    }
}

void TSerCustomComm::LineChanged() {
    ApplyLineSettings();
}

void TSerCustomComm::Report(std::exception_ptr error) {
    if (OnException) {
        OnException(error);
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
    } catch (...) {
        std::cerr << "unknown exception in a serial port handler\n";
    }
}

void TSerCustomComm::Loaded() {
    if (auto_open_) Open();
}

void TSerCustomComm::Open() {
    RefuseWhileOpen();
    const std::string name = FormattedDeviceName();
    const std::string path = DevicePath(name, com_prefix_);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int err = errno;
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Another user holds the device: exclusive access as the port promises.
        err = errno;
        ::close(fd);
        throw ESerCommError(SerSysMessage("Unable to open specified device " + name + " ", err));
    }
    if (fd < 0)
        throw ESerCommError(SerSysMessage("Unable to open specified device " + name + " ", err));
    ioctl(fd, TIOCEXCL);
    fd_.store(fd);
    try {
        ApplyLineSettings();
        // The kernel sizes its own queues; what is checked here is that the sizes are usable.
        if (buffers_.ReadSize() <= 0 || buffers_.WriteSize() <= 0) {
            throw ESerCommError(SerSysMessage("Error initializing buffers ", EINVAL));
        }
        termios tio{};
        if (tcgetattr(fd, &tio) != 0)
            throw ESerCommError(SerSysMessage("Error setting timeouts ", errno));
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (tcsetattr(fd, TCSANOW, &tio) != 0) {
            throw ESerCommError(SerSysMessage("Error setting timeouts ", errno));
        }
        StartThreads();
    } catch (...) {
        StopThreads();
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        fd_.store(-1);
        throw;
    }
    if (OnOpen) {
        try {
            OnOpen(*this);
        } catch (...) {
            Report(std::current_exception());
        }
    }
}

void TSerCustomComm::StartThreads() {
    auto s = std::make_shared<TSerSession>();
    s->fd = fd_.load();
    s->mask = ComputedEventMask();
    s->event_char = event_chars_.EventChar();
    s->dispatcher = dispatcher_ ? dispatcher_ : TSerDispatcher(TSerDirectDispatch);
    s->owner = this;
    s->stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    s->kick_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s->stop_fd < 0 || s->kick_fd < 0) {
        throw ESerCommError(SerSysMessage(" Error setting EventMask ", errno));
    }
    session_ = s;
    const TThreadPriority event_priority = event_priority_;
    const TThreadPriority write_priority = write_priority_;
    if (s->mask != 0) {
        s->event_thread = std::thread([s, event_priority] {
            s->event_tid.store(gettid());
            ApplyNice(s->event_tid.load(), event_priority);
            s->EventLoop();
        });
        serial_icounter_struct probe{};
        if ((s->mask & kModemEvents) && ioctl(s->fd, TIOCGICOUNT, &probe) == 0) {
            InstallModemWakeHandler();
            s->modem_thread = std::thread([s] { s->ModemLoop(); });
        }
    }
    if (!direct_write_) {
        s->buffer =
            std::make_unique<TSerCommBuffer>(static_cast<std::size_t>(buffers_.WriteSize()));
        s->write_thread = std::thread([s, write_priority] {
            s->write_tid.store(gettid());
            ApplyNice(s->write_tid.load(), write_priority);
            s->WriteLoop();
        });
    }
}

void TSerCustomComm::StopThreads() {
    auto s = session_;
    if (!s) return;
    {
        std::lock_guard lock(read_lock_);
        s->RequestStop();
    }
    {
        // Waits for a dispatch running on another thread; from inside a handler it is ours.
        std::lock_guard lock(s->owner_mutex);
        s->owner = nullptr;
    }
    const auto self = std::this_thread::get_id();
    for (std::thread* t : {&s->event_thread, &s->write_thread}) {
        if (!t->joinable()) continue;
        if (t->get_id() == self) {
            t->detach();  // Close from a handler running on this worker: it ends on its own
        } else {
            t->join();
        }
    }
    if (s->modem_thread.joinable()) {
        while (!s->modem_done.load()) {
            pthread_kill(s->modem_thread.native_handle(), ModemWakeSignal());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        s->modem_thread.join();
    }
    std::lock_guard lock(read_lock_);
    session_.reset();
}

void TSerCustomComm::Close() {
    if (!Active()) return;
    auto s = session_;
    StopThreads();
    {
        std::lock_guard read(read_lock_);
        const int fd = fd_.exchange(-1);
        if (s) {
            std::lock_guard write(s->write_lock);
            ioctl(fd, TIOCNXCL);
            ::close(fd);
        } else {
            ioctl(fd, TIOCNXCL);
            ::close(fd);
        }
    }
    if (!destroying_ && OnClose) OnClose(*this);
}

void TSerCustomComm::GetStatus(std::uint32_t& errors, TSerComStat& status) {
    std::lock_guard lock(read_lock_);
    errors = 0;
    status = TSerComStat{};
    const int fd = fd_.load();
    if (fd < 0) return;
    int in_queue = 0;
    std::uint32_t gone = 0;
    if (ioctl(fd, FIONREAD, &in_queue) != 0) {
        // A hung-up device is a line condition for OnError to report, not a failed query.
        if (!IsDeviceGone(errno))
            throw ESerCommError(SerSysMessage("Error retrieving statistics ", errno));
        in_queue = 0;
        gone = kSerErrHangup;
    }
    int out_queue = 0;
    if (ioctl(fd, TIOCOUTQ, &out_queue) != 0) out_queue = 0;
    status.cbInQue = static_cast<std::uint32_t>(in_queue);
    status.cbOutQue = static_cast<std::uint32_t>(out_queue);
    errors = gone;
    if (session_) errors |= session_->line_errors.exchange(0);
}

int TSerCustomComm::InQueCount() {
    if (!Active()) return 0;
    std::uint32_t errors;
    TSerComStat status;
    GetStatus(errors, status);
    if (errors != 0 && session_) session_->line_errors.fetch_or(errors);  // leave them for OnError
    return static_cast<int>(status.cbInQue);
}

int TSerCustomComm::ReadBuf(void* buffer, int count) {
    std::lock_guard lock(read_lock_);
    const int fd = fd_.load();
    if (fd < 0 || count <= 0) return 0;
    ssize_t got;
    do {
        got = ::read(fd, buffer, static_cast<std::size_t>(count));
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        if (errno == EAGAIN) return 0;  // nothing queued: reads return at once
        throw ESerCommError(SerSysMessage("Read error ", errno));
    }
    if (got > 0 && session_ && (session_->mask & kEvRxFlag) &&
        std::memchr(buffer, session_->event_char, static_cast<std::size_t>(got)) != nullptr) {
        session_->Kick(kEvRxFlag);
    }
    return static_cast<int>(got);
}

void TSerCustomComm::ReadText(std::string& text) {
    const int n = InQueCount();
    if (n <= 0) {
        text.clear();
        return;
    }
    text.resize(static_cast<std::size_t>(n));
    // Keep only what was read: padding with stale bytes would hand out data never received.
    text.resize(static_cast<std::size_t>(ReadBuf(text.data(), n)));
}

int TSerCustomComm::WriteBuf(const void* buffer, int count) {
    if (!Active() || count <= 0) return 0;
    if (direct_write_) return DirectWriteBuf(buffer, count);
    auto s = session_;
    const auto bytes = static_cast<std::size_t>(count);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(buffers_.WriteTimeout());
    std::unique_lock lock(s->write_lock);
    const bool fits = s->space_cv.wait_until(
        lock, deadline, [&] { return s->Stopping() || s->buffer->Free() >= bytes; });
    if (s->Stopping()) return 0;
    if (!fits) throw ESerCommError(kBufferFull);
    s->buffer->Append(buffer, bytes);
    s->data_ready.SetEvent();
    return count;
}

int TSerCustomComm::DirectWriteBuf(const void* buffer, int count) {
    auto s = session_;
    std::lock_guard lock(s->write_lock);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(buffers_.WriteTimeout());
    int done = 0;
    while (done < count) {
        const ssize_t written =
            ::write(s->fd, bytes + done, static_cast<std::size_t>(count - done));
        if (written > 0) {
            done += static_cast<int>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) {
            if (done == 0) throw ESerCommError(SerSysMessage("Write error ", errno));
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        // Waits on its own descriptor set, never on anything a read uses.
        pollfd fds[2] = {{s->stop_fd, POLLIN, 0}, {s->fd, POLLOUT, 0}};
        ::poll(fds, 2, static_cast<int>(left.count()));
        if (s->Stopping()) break;
    }
    // Bytes that left are reported even on timeout; 0 would claim nothing was sent.
    return done;
}

bool TSerCustomComm::WriteText(const std::string& text) {
    return WriteBuf(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
}

void TSerCustomComm::DispatchEvents(std::uint32_t w) {
    try {
        if (w & kEvRxChar) {
            const int n = InQueCount();
            if (n > 0 && OnRxChar) OnRxChar(*this, n);
            w &= ~kEvRxChar;
        }
        if (w == 0) return;
        if (w & kEvErr) {
            std::uint32_t errors;
            TSerComStat status;
            GetStatus(errors, status);
            if (errors != 0 && OnError) {
                try {
                    OnError(*this, static_cast<int>(errors));
                } catch (...) {
                    Report(std::current_exception());
                }
            }
        }
        const std::pair<std::uint32_t, TNotifyEvent*> order[] = {
            {kEvRxFlag, &OnRxFlag}, {kEvCts, &OnCts},      {kEvDsr, &OnDsr},
            {kEvRing, &OnRing},     {kEvRlsd, &OnRlsd},    {kEvTxEmpty, &OnTxEmpty},
            {kEvBreak, &OnBreak},   {kEvPErr, &OnPErr},    {kEvRx80Full, &OnRx80Full},
            {kEvEvent1, &OnEvent1}, {kEvEvent2, &OnEvent2}};
        for (const auto& [bit, handler] : order) {
            if ((w & bit) && *handler) (*handler)(*this);
        }
    } catch (...) {
        Report(std::current_exception());
    }
}

void TSerCustomComm::SetBaudrate(TSerBaudrate value) {
    line_.baudrate = value;
    if (value != brUser) line_.user_baudrate = 0;
    LineChanged();
}

void TSerCustomComm::SetUserBaudrate(std::int32_t value) {
    if (value == line_.user_baudrate) return;
    line_.user_baudrate = value;
    line_.baudrate = brUser;
    LineChanged();
}

void TSerCustomComm::SetParity(TSerParity value) {
    line_.parity = value;
    LineChanged();
}

void TSerCustomComm::SetParityCheck(bool value) {
    line_.parity_check = value;
    LineChanged();
}

void TSerCustomComm::SetDatabits(TSerDatabits value) {
    line_.databits = value;
    LineChanged();
}

void TSerCustomComm::SetStopbits(TSerStopbits value) {
    line_.stopbits = value;
    LineChanged();
}

void TSerCustomComm::SetOptions(TSerCommOptions value) {
    line_.options = value;
    LineChanged();
}

void TSerCustomComm::SetPortNum(int value) {
    RefuseWhileOpen();
    port_num_ = value;
}

void TSerCustomComm::SetDeviceName(const std::string& value) {
    RefuseWhileOpen();
    device_name_ = value;
}

void TSerCustomComm::SetMonitorEvents(TSerCommEvents value) {
    RefuseWhileOpen();
    monitor_events_ = value;
}

void TSerCustomComm::SetDirectWrite(bool value) {
    RefuseWhileOpen();
    direct_write_ = value;
}

void TSerCustomComm::SetUpdateDCB(bool value) {
    RefuseWhileOpen();
    update_dcb_ = value;
}

void TSerCustomComm::SetEventPriority(TThreadPriority value) {
    event_priority_ = value;
    if (session_) ApplyNice(session_->event_tid.load(), value);
}

void TSerCustomComm::SetWritePriority(TThreadPriority value) {
    write_priority_ = value;
    if (session_) ApplyNice(session_->write_tid.load(), value);
}

}  // namespace common
