// One open period of the serial component: the device, the worker threads that watch and feed
// it, and the hand-off of their notifications to the owner's thread. Private to the component.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "common/serial/ser_classes.h"
#include "common/serial/ser_comm.h"
#include "common/serial/ser_line.h"

namespace common {

// Nice value for a worker thread (by its kernel thread id; 0 means not started yet).
void ApplyNice(pid_t tid, TThreadPriority priority);
// The errno of a device that is gone for good (unplugged adapter, far end of a pty closed).
bool IsDeviceGone(int err);

// Worker threads share the session, so a worker that outlives the component's interest (Close
// from inside a handler on that worker) never touches freed memory, and a notification that
// reaches the owner's thread after Close finds no owner and does nothing.
struct TSerSession : std::enable_shared_from_this<TSerSession> {
    int fd = -1;
    std::uint32_t mask = 0;
    char event_char = 0;
    TSerDispatcher dispatcher;
    std::stop_source stop;
    int stop_fd = -1;        // eventfd, readable once stop is requested
    int kick_fd = -1;        // eventfd, wakes the event thread for pending_events
    int write_kick_fd = -1;  // eventfd, wakes a write thread waiting for the device
    std::atomic<std::uint32_t> line_errors{0};
    std::atomic<std::uint32_t> pending_events{0};
    std::atomic<bool> line_lost{false};        // the loss was reported; the port is being closed
    std::atomic<std::uint64_t> bytes_read{0};  // by the owner, since the port opened

    std::recursive_mutex owner_mutex;
    TSerCustomComm* owner = nullptr;

    // Write side: the write lock guards buffer, data_ready's clearing and the direct-write path.
    TSerCriticalSection write_lock;
    std::condition_variable_any space_cv;
    std::unique_ptr<TSerCommBuffer> buffer;
    TSerWaitEvent data_ready;
    // How the buffer's bytes divide into pieces, in order; a piece with a start-by time is
    // dropped unsent once that passes. Bytes of plain writes form untimed pieces.
    struct Piece {
        std::size_t bytes = 0;
        std::optional<std::chrono::steady_clock::time_point> start_by;
    };
    std::deque<Piece> pieces;
    std::size_t head_sent = 0;  // bytes of the first piece already written
    std::shared_ptr<TSerPieceCounts> piece_counts = std::make_shared<TSerPieceCounts>();

    std::thread event_thread;
    std::thread write_thread;
    std::thread modem_thread;
    std::atomic<pid_t> event_tid{0};
    std::atomic<pid_t> write_tid{0};
    std::atomic<bool> modem_done{false};
    std::atomic<bool> modem_poll{false};  // TIOCMIWAIT refused: the event thread polls instead

    // Throws ESerCommError when the wake-up descriptors cannot be made.
    TSerSession(int device, std::uint32_t event_mask, char event_character, TSerDispatcher dispatch,
                TSerCustomComm* component);
    ~TSerSession();
    TSerSession(const TSerSession&) = delete;
    TSerSession& operator=(const TSerSession&) = delete;

    // Starts the event thread when the mask is non-zero (with the modem-line waiter where the
    // device counts line changes) and, given a buffer size, the write thread.
    void StartThreads(TThreadPriority event_priority, TThreadPriority write_priority,
                      std::size_t write_buffer_bytes);
    // Stops every worker and forgets the owner. Waits for a dispatch running on another thread;
    // a worker that is the calling thread (Close from a handler on it) is left to end alone.
    void StopThreads();

    // Tells every worker to stop and wakes it; returns at once. May be called again.
    void RequestStop();
    bool Stopping() const { return stop.stop_requested(); }
    // Wakes the event thread to raise `events` (bits of the comm-event word).
    void Kick(std::uint32_t events);
    // Under the write lock: `bytes` just appended to the buffer form a piece.
    void AddPiece(std::size_t bytes, std::optional<std::chrono::steady_clock::time_point> start_by);
    // Wakes the write thread if it waits for the device, so it sees a new start-by time.
    void WakeWriter();
    // Under the write lock: drops every piece not yet begun, timed or not. Returns whether the
    // buffer still holds the rest of a begun one.
    bool DropPiecesNotBegun();

  private:
    struct EventWatch;

    // Under the write lock. Stop is requested before RequestStop takes the lock to set the
    // event, so checking it here keeps a reset from swallowing that wake-up.
    void ResetDataReady();
    // Runs `job` with the owner on the owner's thread and waits for it (or for stop).
    void RunWithOwner(const std::function<void(TSerCustomComm&)>& job);
    // Dispatch of the comm-event word `w`.
    void RunOnOwner(std::uint32_t w);
    // The line is gone (hang-up, vanished device, failed wait): the first worker to see it has
    // the owner report `errors` through OnError and close the port.
    void ReportLineLost(std::uint32_t errors);
    // Returns true when stop was requested, false after `ms` (negative: no limit).
    bool SleepUnlessStopped(int ms);

    void EventLoop();
    void WriteLoop();
    // Under the write lock: drops the timed pieces not yet begun whose time has passed.
    // Returns whether any was dropped.
    bool DropLatePieces(std::chrono::steady_clock::time_point now);
    // Under the write lock: `bytes` from the front were written.
    void PiecesWritten(std::size_t bytes);
    // Waits until the device takes bytes again, stop, a new piece, or the next start-by time.
    void WaitForDevice();
    void ModemLoop();

    // Steps of the event loop: wait, then collect the event word from each source.
    enum class WaitResult { Ready, Stopped, Failed };
    WaitResult WaitForLine(EventWatch& watch, short& device_revents, bool& kicked);
    std::uint32_t TakeKickedEvents();
    std::uint32_t CheckInput(EventWatch& watch);
    std::uint32_t CheckCounters(EventWatch& watch);
    std::uint32_t CheckModemLines(EventWatch& watch);
    void NoteUnreadInput(EventWatch& watch, bool owner_read);
};

}  // namespace common
