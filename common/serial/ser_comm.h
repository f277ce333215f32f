// Serial-port component: opens one device, configures the line, watches it from an event
// thread, drains an output buffer from a write thread and hands every notification to the
// owner's thread through an injected dispatcher.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

#include "common/serial/ser_classes.h"
#include "common/serial/ser_line.h"
#include "common/serial/ser_prst.h"

namespace common {

// Runs `job` on the owner's thread and returns once it has run. It must also return, with
// the job run later or never, as soon as `stop` is requested: that is how Close() gets a
// worker back that is waiting for a busy or stopped event loop.
using TSerDispatcher = std::function<void(const std::function<void()>& job, std::stop_token stop)>;

// Runs the job on the calling thread (no event loop involved).
void TSerDirectDispatch(const std::function<void()>& job, std::stop_token stop);

// Builds a blocking dispatcher from a non-blocking `post` that queues a job on the owner's
// thread, and `on_owner_thread`, which tells whether the caller already is that thread (the
// job then runs at once instead of waiting for itself).
TSerDispatcher MakeBlockingDispatcher(std::function<void(std::function<void()>)> post,
                                      std::function<bool()> on_owner_thread);

struct TSerComStat {
    std::uint32_t Flags = 0;
    std::uint32_t cbInQue = 0;   // bytes waiting in the input queue
    std::uint32_t cbOutQue = 0;  // bytes waiting in the driver's output queue
};

class TSerCustomComm;
using TNotifyEvent = std::function<void(TSerCustomComm& sender)>;
using TSerCommErrorEvent = std::function<void(TSerCustomComm& sender, int errors)>;
using TSerCommRxCharEvent = std::function<void(TSerCustomComm& sender, int count)>;
using TSerCommRxBufEvent =
    std::function<void(TSerCustomComm& sender, const std::uint8_t* data, int count)>;

struct TSerSession;

struct TSerPieceCounts {
    std::atomic<std::uint64_t> sent{0};
    std::atomic<std::uint64_t> dropped{0};
};

class TSerCustomComm : public TSerComponent {
  public:
    TSerCustomComm();
    ~TSerCustomComm() override;
    TSerCustomComm(const TSerCustomComm&) = delete;
    TSerCustomComm& operator=(const TSerCustomComm&) = delete;

    void Open();
    // The port also closes on its own when the line is lost (far end gone, device unplugged,
    // line events no longer to be had): OnError first, with kSerErrHangup or kSerErrWait, then
    // OnClose, both on the owner's thread.
    void Close();
    bool Active() const { return fd_.load() >= 0; }
    // Calls Open() when AutoOpen is set; the owner calls it once its settings are loaded.
    void Loaded();

    // Reads and clears the line-error word and fills the queue counts.
    void GetStatus(std::uint32_t& errors, TSerComStat& status);
    int InQueCount();
    int ReadBuf(void* buffer, int count);
    void ReadText(std::string& text);
    int WriteBuf(const void* buffer, int count);
    bool WriteText(const std::string& text);
    // Hands the bytes to the write thread as one piece that reaches the device whole or not at
    // all, and never waits: refused (false) when the output buffer lacks room for all of it,
    // dropped unsent when the device refuses bytes and has not begun taking it within
    // `within_ms` (a device that takes bytes never loses one to a late write thread). A piece the
    // device has begun is always finished, so a reader never sees one cut short. Refused and
    // dropped pieces are counted. Needs the write thread (DirectWrite off).
    bool WritePiece(const void* buffer, int count, int within_ms);
    // Pieces written whole and pieces dropped, since construction.
    std::uint64_t PiecesSent() const { return piece_counts_->sent.load(); }
    std::uint64_t PiecesDropped() const { return piece_counts_->dropped.load(); }
    // Waits up to `ms` until the write thread's buffer is empty (written or dropped); true then,
    // or when the port is closed.
    bool WaitWritten(int ms);
    // Before a close that must be quick and leave the device no piece cut short: pieces not yet
    // begun are dropped, a begun one is given up to `ms` to finish, and so is the system's own
    // output queue. What the device has still not taken by then is discarded when the port
    // closes, so the close never waits for a device that stopped reading (a terminal's close
    // would, for up to its closing wait). True when nothing had to be discarded.
    bool SettleOutput(int ms);

    // Device name as Open() forms it from DeviceName and PortNum.
    std::string FormattedDeviceName() const { return FormatDeviceName(device_name_, port_num_); }
    // The path Open() opens for it.
    std::string DevicePathName() const { return DevicePath(FormattedDeviceName(), com_prefix_); }
    // Event mask the event thread watches (also valid while closed).
    std::uint32_t ComputedEventMask() const { return EventMask(monitor_events_, direct_write_); }
    // Line settings as the next write to the device would use them.
    TSerDcb CurrentDcb() const;

    // Not published: where "COMn" names live ("/dev/ttyS" by default) and how notifications
    // reach the owner's thread. Both are read at Open().
    void SetComDevicePrefix(std::string prefix) { com_prefix_ = std::move(prefix); }
    void SetDispatcher(TSerDispatcher dispatcher) { dispatcher_ = std::move(dispatcher); }
    // Stands in for the application's default exception handler: gets what handlers threw
    // during dispatch and from OnOpen. Without one the message goes to standard error.
    std::function<void(std::exception_ptr)> OnException;

    // Published properties.
    bool AutoOpen() const { return auto_open_; }
    void SetAutoOpen(bool value) { auto_open_ = value; }
    TSerBaudrate Baudrate() const { return line_.baudrate; }
    void SetBaudrate(TSerBaudrate value);
    TSerParity Parity() const { return line_.parity; }
    void SetParity(TSerParity value);
    bool ParityCheck() const { return line_.parity_check; }
    void SetParityCheck(bool value);
    TSerDatabits Databits() const { return line_.databits; }
    void SetDatabits(TSerDatabits value);
    TSerStopbits Stopbits() const { return line_.stopbits; }
    void SetStopbits(TSerStopbits value);
    TSerEventChars& EventChars() { return event_chars_; }
    const TSerEventChars& EventChars() const { return event_chars_; }
    void SetEventChars(const TSerEventChars& value) { event_chars_.Assign(value); }
    TSerFlowControl& FlowControl() { return flow_control_; }
    const TSerFlowControl& FlowControl() const { return flow_control_; }
    void SetFlowControl(const TSerFlowControl& value) { flow_control_.Assign(value); }
    TSerCommOptions Options() const { return line_.options; }
    void SetOptions(TSerCommOptions value);
    int PortNum() const { return port_num_; }
    void SetPortNum(int value);
    const std::string& DeviceName() const { return device_name_; }
    void SetDeviceName(const std::string& value);
    TSerCommEvents MonitorEvents() const { return monitor_events_; }
    void SetMonitorEvents(TSerCommEvents value);
    TSerBuffers& Buffers() { return buffers_; }
    const TSerBuffers& Buffers() const { return buffers_; }
    void SetBuffers(const TSerBuffers& value) { buffers_.Assign(value); }
    TThreadPriority EventPriority() const { return event_priority_; }
    void SetEventPriority(TThreadPriority value);
    TThreadPriority WritePriority() const { return write_priority_; }
    void SetWritePriority(TThreadPriority value);
    bool DirectWrite() const { return direct_write_; }
    void SetDirectWrite(bool value);
    bool UpdateDCB() const { return update_dcb_; }
    void SetUpdateDCB(bool value);
    std::int32_t UserBaudrate() const { return line_.user_baudrate; }
    void SetUserBaudrate(std::int32_t value);

    TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak, OnRxFlag, OnTxEmpty,
        OnPErr, OnRx80Full, OnEvent1, OnEvent2;
    TSerCommErrorEvent OnError;
    TSerCommRxCharEvent OnRxChar;
    TSerCommRxBufEvent OnRxBuf;

  private:
    friend struct TSerSession;

    void RefuseWhileOpen() const;
    void ApplyLineSettings();
    void LineChanged();
    void DispatchEvents(std::uint32_t w);
    // On the owner's thread once the line is gone: OnError with `errors`, then Close.
    void LineLost(std::uint32_t errors);
    void Report(std::exception_ptr error);
    void StartThreads();
    void StopThreads();
    int DirectWriteBuf(const void* buffer, int count);

    std::atomic<int> fd_{-1};
    std::shared_ptr<TSerSession> session_;
    // Shared with the sessions' write threads, which count as they write and drop.
    std::shared_ptr<TSerPieceCounts> piece_counts_ = std::make_shared<TSerPieceCounts>();
    TSerDispatcher dispatcher_ = TSerDirectDispatch;
    std::string com_prefix_ = "/dev/ttyS";
    // Guards ReadBuf, GetStatus and the stopping of threads; the write lock lives in the
    // session because the write thread shares it.
    TSerCriticalSection read_lock_;
    // Held through Close, so a close on another thread is finished before the caller goes on.
    std::recursive_mutex close_mutex_;

    bool auto_open_ = false;
    TSerLineSettings line_;
    TSerEventChars event_chars_;
    TSerFlowControl flow_control_;
    TSerBuffers buffers_;
    int port_num_ = 0;
    std::string device_name_ = "COM%d";
    TSerCommEvents monitor_events_{ceError, ceRxChar, ceTxEmpty};
    TThreadPriority event_priority_ = tpNormal;
    TThreadPriority write_priority_ = tpHighest;
    bool direct_write_ = false;
    bool update_dcb_ = true;
    std::atomic<bool> discard_at_close_{false};  // SettleOutput left bytes the device has not taken
};

class TSerComm : public TSerCustomComm {};

}  // namespace common
