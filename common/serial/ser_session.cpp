#include "common/serial/ser_session.h"

#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

namespace common {

namespace {

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

}  // namespace

void ApplyNice(pid_t tid, TThreadPriority priority) {
    if (tid > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceValueFor(priority));
}

bool IsDeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE;
}

// What the event thread remembers between two waits.
struct TSerSession::EventWatch {
    bool want_rx = false;
    bool want_modem = false;
    bool want_line_errors = false;
    bool have_icount = false;  // the driver counts line errors and modem-line changes
    bool have_lines = false;   // the driver reports the modem lines
    serial_icounter_struct last_count{};
    int last_lines = 0;
    bool rx_unread = false;  // bytes were left unread after OnRxChar: wait for more, not for any
    int rx_seen = 0;
    int rx_told = 0;  // bytes queued when OnRxChar was last raised
};

TSerSession::TSerSession(int device, std::uint32_t event_mask, char event_character,
                         TSerDispatcher dispatch, TSerCustomComm* component)
    : fd(device),
      mask(event_mask),
      event_char(event_character),
      dispatcher(std::move(dispatch)),
      owner(component) {
    stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    kick_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    write_kick_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd < 0 || kick_fd < 0 || write_kick_fd < 0) {
        const int err = errno;
        for (int f : {stop_fd, kick_fd, write_kick_fd})
            if (f >= 0) ::close(f);
        throw ESerCommError(SerSysMessage(" Error setting EventMask ", err));
    }
}

TSerSession::~TSerSession() {
    ::close(stop_fd);
    ::close(kick_fd);
    ::close(write_kick_fd);
}

void TSerSession::StartThreads(TThreadPriority event_priority, TThreadPriority write_priority,
                               std::size_t write_buffer_bytes) {
    auto self = shared_from_this();
    if (mask != 0) {
        event_thread = std::thread([self, event_priority] {
            self->event_tid.store(gettid());
            ApplyNice(self->event_tid.load(), event_priority);
            self->EventLoop();
        });
        serial_icounter_struct probe{};
        if ((mask & kModemEvents) && ioctl(fd, TIOCGICOUNT, &probe) == 0) {
            InstallModemWakeHandler();
            modem_thread = std::thread([self] { self->ModemLoop(); });
        }
    }
    if (write_buffer_bytes > 0) {
        buffer = std::make_unique<TSerCommBuffer>(write_buffer_bytes);
        write_thread = std::thread([self, write_priority] {
            self->write_tid.store(gettid());
            ApplyNice(self->write_tid.load(), write_priority);
            self->WriteLoop();
        });
    }
}

void TSerSession::StopThreads() {
    RequestStop();
    {
        std::lock_guard lock(owner_mutex);
        owner = nullptr;
    }
    const auto self = std::this_thread::get_id();
    for (std::thread* t : {&event_thread, &write_thread}) {
        if (!t->joinable()) continue;
        if (t->get_id() == self) {
            t->detach();
        } else {
            t->join();
        }
    }
    if (modem_thread.joinable()) {
        while (!modem_done.load()) {
            pthread_kill(modem_thread.native_handle(), ModemWakeSignal());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        modem_thread.join();
    }
}

void TSerSession::RequestStop() {
    stop.request_stop();
    std::uint64_t one = 1;
    (void)!::write(stop_fd, &one, sizeof one);
    {
        std::lock_guard lock(write_lock);
        data_ready.SetEvent();
    }
    space_cv.notify_all();
}

void TSerSession::ResetDataReady() {
    if (!Stopping()) data_ready.ResetEvent();
}

void TSerSession::AddPiece(std::size_t bytes,
                           std::optional<std::chrono::steady_clock::time_point> start_by) {
    if (!start_by && !pieces.empty() && !pieces.back().start_by) {
        pieces.back().bytes += bytes;
        return;
    }
    pieces.push_back({bytes, start_by});
}

void TSerSession::WakeWriter() {
    std::uint64_t one = 1;
    (void)!::write(write_kick_fd, &one, sizeof one);
}

bool TSerSession::DropLatePieces(std::chrono::steady_clock::time_point now) {
    bool dropped = false;
    std::size_t offset = 0;
    for (auto it = pieces.begin(); it != pieces.end();) {
        const bool begun = it == pieces.begin() && head_sent > 0;
        if (!begun && it->start_by && *it->start_by <= now) {
            buffer->Erase(offset, it->bytes);
            it = pieces.erase(it);
            piece_counts->dropped.fetch_add(1);
            dropped = true;
            continue;
        }
        // The buffer holds only what is left of a begun piece.
        offset += begun ? it->bytes - head_sent : it->bytes;
        ++it;
    }
    return dropped;
}

bool TSerSession::DropPiecesNotBegun() {
    if (!buffer) return false;
    const bool begun = !pieces.empty() && head_sent > 0;
    const std::size_t keep = begun ? pieces.front().bytes - head_sent : 0;
    while (pieces.size() > (begun ? 1u : 0u)) {
        if (pieces.back().start_by) piece_counts->dropped.fetch_add(1);
        pieces.pop_back();
    }
    if (buffer->Fill() > keep) buffer->Erase(keep, buffer->Fill() - keep);
    return begun;
}

void TSerSession::PiecesWritten(std::size_t bytes) {
    head_sent += bytes;
    while (!pieces.empty() && head_sent >= pieces.front().bytes) {
        head_sent -= pieces.front().bytes;
        if (pieces.front().start_by) piece_counts->sent.fetch_add(1);
        pieces.pop_front();
    }
}

void TSerSession::WaitForDevice() {
    int timeout_ms = -1;
    {
        std::lock_guard lock(write_lock);
        const auto now = std::chrono::steady_clock::now();
        bool first = true;
        for (const Piece& p : pieces) {
            const bool begun = first && head_sent > 0;
            first = false;
            if (begun || !p.start_by) continue;
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*p.start_by - now).count();
            const int ms = static_cast<int>(std::max<std::int64_t>(left, 0));
            if (timeout_ms < 0 || ms < timeout_ms) timeout_ms = ms;
        }
    }
    pollfd fds[3] = {{stop_fd, POLLIN, 0}, {write_kick_fd, POLLIN, 0}, {fd, POLLOUT, 0}};
    ::poll(fds, 3, timeout_ms);
    if (fds[1].revents & POLLIN) {
        std::uint64_t drained;
        (void)!::read(write_kick_fd, &drained, sizeof drained);
    }
}

void TSerSession::Kick(std::uint32_t events) {
    pending_events.fetch_or(events);
    std::uint64_t one = 1;
    (void)!::write(kick_fd, &one, sizeof one);
}

void TSerSession::RunWithOwner(const std::function<void(TSerCustomComm&)>& job) {
    if (Stopping()) return;
    auto self = shared_from_this();
    std::function<void()> run = [self, job] {
        std::lock_guard lock(self->owner_mutex);
        if (self->owner != nullptr && !self->Stopping()) job(*self->owner);
    };
    try {
        dispatcher(run, stop.get_token());
    } catch (...) {
        // A failing dispatcher must not end the worker; the notification is lost.
    }
}

void TSerSession::RunOnOwner(std::uint32_t w) {
    RunWithOwner([w](TSerCustomComm& owner) { owner.DispatchEvents(w); });
}

void TSerSession::ReportLineLost(std::uint32_t errors) {
    if (line_lost.exchange(true)) return;
    RunWithOwner([errors](TSerCustomComm& owner) { owner.LineLost(errors); });
}

bool TSerSession::SleepUnlessStopped(int ms) {
    pollfd p{stop_fd, POLLIN, 0};
    while (!Stopping()) {
        int r = ::poll(&p, 1, ms);
        if (r >= 0 || errno != EINTR) break;
    }
    return Stopping();
}

void TSerSession::EventLoop() {
    EventWatch watch;
    watch.want_rx = (mask & kEvRxChar) != 0;
    watch.want_modem = (mask & kModemEvents) != 0;
    watch.want_line_errors = (mask & (kEvErr | kEvBreak)) != 0;
    watch.have_icount = ioctl(fd, TIOCGICOUNT, &watch.last_count) == 0;
    watch.have_lines = ioctl(fd, TIOCMGET, &watch.last_lines) == 0;

    while (true) {
        short device_revents = 0;
        bool kicked = false;
        const WaitResult waited = WaitForLine(watch, device_revents, kicked);
        if (waited == WaitResult::Stopped) return;
        if (waited == WaitResult::Failed) {
            ReportLineLost(kSerErrWait);
            break;
        }
        if (device_revents & (POLLHUP | POLLERR | POLLNVAL)) {
            ReportLineLost(kSerErrHangup);
            break;
        }
        std::uint32_t w = kicked ? TakeKickedEvents() : 0;
        w |= CheckInput(watch);
        w |= CheckCounters(watch);
        w |= CheckModemLines(watch);
        w &= mask;
        if (w == 0) continue;
        const std::uint64_t read_before = bytes_read.load();
        RunOnOwner(w);
        if (Stopping()) return;
        if (w & kEvRxChar) NoteUnreadInput(watch, bytes_read.load() != read_before);
    }
    // The port is closing, or the owner could not be reached: nothing is left to watch.
    SleepUnlessStopped(-1);
}

TSerSession::WaitResult TSerSession::WaitForLine(EventWatch& watch, short& device_revents,
                                                 bool& kicked) {
    const bool watch_lines =
        watch.have_lines && watch.want_modem && (!watch.have_icount || modem_poll.load());
    const bool periodic = watch.rx_unread || watch_lines ||
                          (watch.have_icount && (watch.want_line_errors || watch.want_modem));
    // The device is always in the set: hang-up and errors are reported whatever is asked for.
    pollfd fds[3] = {{stop_fd, POLLIN, 0},
                     {kick_fd, POLLIN, 0},
                     {fd, static_cast<short>(watch.want_rx && !watch.rx_unread ? POLLIN : 0), 0}};
    while (::poll(fds, 3, periodic ? kLinePollMs : -1) < 0) {
        if (errno != EINTR) return Stopping() ? WaitResult::Stopped : WaitResult::Failed;
    }
    if (Stopping()) return WaitResult::Stopped;
    kicked = (fds[1].revents & POLLIN) != 0;
    device_revents = fds[2].revents;
    return WaitResult::Ready;
}

std::uint32_t TSerSession::TakeKickedEvents() {
    std::uint64_t drained;
    (void)!::read(kick_fd, &drained, sizeof drained);
    return pending_events.exchange(0);
}

std::uint32_t TSerSession::CheckInput(EventWatch& watch) {
    if (!watch.want_rx) return 0;
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) != 0) return 0;
    std::uint32_t w = 0;
    if (queued > 0 && (!watch.rx_unread || queued > watch.rx_seen)) {
        w |= kEvRxChar;
        watch.rx_told = queued;
    }
    if (watch.rx_unread && queued < watch.rx_seen) watch.rx_seen = queued;
    if (queued == 0) watch.rx_unread = false;
    return w;
}

std::uint32_t TSerSession::CheckCounters(EventWatch& watch) {
    if (!watch.have_icount) return 0;
    serial_icounter_struct now{};
    if (ioctl(fd, TIOCGICOUNT, &now) != 0) return 0;
    const serial_icounter_struct& last = watch.last_count;
    std::uint32_t w = 0;
    std::uint32_t errors = 0;
    if (now.frame != last.frame) errors |= kSerErrFrame;
    if (now.overrun != last.overrun) errors |= kSerErrOverrun;
    if (now.parity != last.parity) errors |= kSerErrParity;
    if (now.buf_overrun != last.buf_overrun) errors |= kSerErrRxOver;
    if (now.brk != last.brk) {
        errors |= kSerErrBreak;
        w |= kEvBreak;
    }
    if (errors != 0) {
        line_errors.fetch_or(errors);
        w |= kEvErr;
    }
    if (now.cts != last.cts) w |= kEvCts;
    if (now.dsr != last.dsr) w |= kEvDsr;
    if (now.dcd != last.dcd) w |= kEvRlsd;
    if (now.rng != last.rng) w |= kEvRing;
    watch.last_count = now;
    return w;
}

std::uint32_t TSerSession::CheckModemLines(EventWatch& watch) {
    const bool watch_lines =
        watch.have_lines && watch.want_modem && (!watch.have_icount || modem_poll.load());
    if (!watch_lines) return 0;
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) != 0) return 0;
    const int changed = lines ^ watch.last_lines;
    std::uint32_t w = 0;
    if (changed & TIOCM_CTS) w |= kEvCts;
    if (changed & TIOCM_DSR) w |= kEvDsr;
    if (changed & TIOCM_CD) w |= kEvRlsd;
    if ((changed & TIOCM_RNG) && (lines & TIOCM_RNG)) w |= kEvRing;
    watch.last_lines = lines;
    return w;
}

// A count of queued bytes cannot tell bytes the owner left from bytes that came after it read.
// An owner that read is told about whatever is queued at the next wait; one that read nothing
// is told again only when more is queued than it was told about.
void TSerSession::NoteUnreadInput(EventWatch& watch, bool owner_read) {
    watch.rx_unread = !owner_read;
    watch.rx_seen = watch.rx_told;
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
            if (fill == 0) ResetDataReady();
        }
        if (fill == 0) continue;
        // Appends only add behind the fill count, and only this thread drops pieces, so
        // [start, start + fill) stays put meanwhile.
        const ssize_t written = ::write(fd, start, fill);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) {
            // Only a device that refuses bytes makes pieces late: a write thread that merely
            // ran late (a busy owner thread, a loaded machine) drops nothing the device takes.
            WaitForDevice();
            bool dropped;
            {
                std::lock_guard lock(write_lock);
                dropped = DropLatePieces(std::chrono::steady_clock::now());
            }
            if (dropped) space_cv.notify_all();
            continue;
        }
        if (written < 0) {
            const int err = errno;
            if (IsDeviceGone(err)) {
                // It will not come back on this handle: the port closes.
                ReportLineLost(kSerErrHangup);
                SleepUnlessStopped(-1);
                return;
            }
            // The data stays queued and is tried again after a pause, not in a spin.
            line_errors.fetch_or(kSerErrWrite);
            RunOnOwner(kEvErr);
            if (SleepUnlessStopped(kWriteRetryMs)) return;
            continue;
        }
        bool empty;
        {
            std::lock_guard lock(write_lock);
            buffer->Consume(static_cast<std::size_t>(written));
            PiecesWritten(static_cast<std::size_t>(written));
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

}  // namespace common
