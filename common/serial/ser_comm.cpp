#include "common/serial/ser_comm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "common/serial/ser_session.h"

namespace common {

namespace {

constexpr const char* kRefused = "Can't perform this operation while port is open";
constexpr const char* kBufferFull = "Output buffer is full. Please check comm status.";

// How many dispatches run on this thread: a Close from inside one must not wait for a close
// that is itself waiting for that dispatch to end.
thread_local int dispatch_depth = 0;

struct DispatchScope {
    DispatchScope() { ++dispatch_depth; }
    ~DispatchScope() { --dispatch_depth; }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;
};

}  // namespace

TSerCustomComm::TSerCustomComm() {
    event_chars_.SetOnChange([this](TSerPersistent&) { LineChanged(); });
    flow_control_.SetOnChange([this](TSerPersistent&) { LineChanged(); });
    buffers_.SetOnChange([this](TSerPersistent&) { RefuseWhileOpen(); });
}

TSerCustomComm::~TSerCustomComm() {
    // Under the close lock: an event thread closing a lost line reads destroying_.
    std::lock_guard closing(close_mutex_);
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
    session_ = std::make_shared<TSerSession>(
        fd_.load(), ComputedEventMask(), event_chars_.EventChar(),
        dispatcher_ ? dispatcher_ : TSerDispatcher(TSerDirectDispatch), this);
    session_->piece_counts = piece_counts_;
    const std::size_t write_buffer =
        direct_write_ ? 0 : static_cast<std::size_t>(buffers_.WriteSize());
    session_->StartThreads(event_priority_, write_priority_, write_buffer);
}

void TSerCustomComm::StopThreads() {
    auto s = session_;
    if (!s) return;
    {
        std::lock_guard lock(read_lock_);
        s->RequestStop();
    }
    s->StopThreads();
    std::lock_guard lock(read_lock_);
    session_.reset();
}

void TSerCustomComm::Close() {
    // A close under way on another thread (the event thread closing a lost line, when
    // handlers run on the workers) is waited for, except from a handler that it waits for.
    std::unique_lock closing(close_mutex_, std::defer_lock);
    if (dispatch_depth > 0) {
        if (!closing.try_lock()) return;
    } else {
        closing.lock();
    }
    if (!Active()) return;
    auto s = session_;
    StopThreads();
    {
        std::lock_guard read(read_lock_);
        const int fd = fd_.exchange(-1);
        // With the write thread gone nothing can follow the discarded bytes: the device never
        // gets the tail of a piece without its start.
        if (discard_at_close_.exchange(false)) tcflush(fd, TCOFLUSH);
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
    if (got > 0 && session_) session_->bytes_read.fetch_add(static_cast<std::uint64_t>(got));
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
    s->AddPiece(bytes, std::nullopt);
    s->data_ready.SetEvent();
    return count;
}

bool TSerCustomComm::WritePiece(const void* buffer, int count, int within_ms) {
    if (direct_write_) throw std::logic_error("WritePiece needs the write thread");
    if (!Active() || count <= 0) return false;
    auto s = session_;
    const auto bytes = static_cast<std::size_t>(count);
    {
        std::lock_guard lock(s->write_lock);
        if (!s->Stopping() && s->buffer->Append(buffer, bytes)) {
            s->AddPiece(bytes, std::chrono::steady_clock::now() +
                                   std::chrono::milliseconds(std::max(within_ms, 0)));
            s->data_ready.SetEvent();
            s->WakeWriter();
            return true;
        }
    }
    piece_counts_->dropped.fetch_add(1);
    return false;
}

bool TSerCustomComm::WaitWritten(int ms) {
    auto s = session_;
    if (!Active() || !s || !s->buffer) return true;
    std::unique_lock lock(s->write_lock);
    return s->space_cv.wait_for(lock, std::chrono::milliseconds(ms),
                                [&] { return s->Stopping() || s->buffer->Fill() == 0; });
}

bool TSerCustomComm::SettleOutput(int ms) {
    auto s = session_;
    const int fd = fd_.load();
    if (fd < 0 || !s) return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    bool finished = true;
    if (s->buffer) {
        std::unique_lock lock(s->write_lock);
        s->DropPiecesNotBegun();
        s->space_cv.notify_all();
        finished = s->space_cv.wait_until(lock, deadline,
                                          [&] { return s->Stopping() || s->buffer->Fill() == 0; });
        finished = finished && s->buffer->Fill() == 0;
    }
    // A UART's queue drains at the line's pace; a pseudo-terminal reports none.
    int queued = 0;
    while (finished && ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool discard = !finished || queued > 0;
    discard_at_close_ = discard;
    return !discard;
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

void TSerCustomComm::LineLost(std::uint32_t errors) {
    DispatchScope scope;
    if (session_) errors |= session_->line_errors.exchange(0);
    try {
        if (OnError) OnError(*this, static_cast<int>(errors));
    } catch (...) {
        Report(std::current_exception());
    }
    try {
        Close();
    } catch (...) {
        Report(std::current_exception());
    }
}

void TSerCustomComm::DispatchEvents(std::uint32_t w) {
    DispatchScope scope;
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
