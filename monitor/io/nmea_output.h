// Passes the probe's GPS sentence on to a serial port, so a navigation program or device
// there sees the balloon as a GPS receiver.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/serial/ser_comm.h"

namespace monitor {

inline constexpr common::TSerBaudrate kNmeaBaudrate = common::br4800;

// The port as the monitor uses it: 4800 baud, no hardware or XON/XOFF flow control, DTR and
// RTS off, writes through the write thread. `port` is a port number ("3" opens COM3, i.e.
// /dev/ttyS2) or a device path. Throws std::invalid_argument for anything else.
void ConfigureNmeaPort(common::TSerComm& comm, const std::string& port);

// How long a sentence of `bytes` may wait for the device to begin taking it: its own time on
// the line at `baud` (ten bits a byte), at least kMinSentenceWaitMs.
inline constexpr int kMinSentenceWaitMs = 20;
int SentenceWaitMs(std::size_t bytes, std::uint32_t baud);

class NmeaOutput {
  public:
    // Installs the port's OnRxChar and OnTxEmpty handlers; `comm` must outlive this object.
    explicit NmeaOutput(common::TSerComm& comm);

    // A new record's line (sentence + CR LF) replaces the last one and goes out if the port is
    // open, followed by `waypoint` (a whole sentence with CR LF) when waypoints are on and one is
    // given. Errors of the port (ESerCommError) reach the caller.
    void SetLine(const std::string& line, const std::string& waypoint = {});
    void SetWaypointOn(bool on) { waypointOn_ = on; }
    bool WaypointOn() const { return waypointOn_; }
    // A record's sentences, each ending in CR LF, the probe's own first: they replace the last
    // record's and go out in order if the port is open. Writing never waits for the device:
    // each sentence goes out whole or not at all, and one the device has not begun taking
    // within its time on the line is dropped and counted.
    void SetLines(std::vector<std::string> lines);
    // The last record's first sentence; empty before the first record.
    const std::string& LastLine() const;
    // Sentences dropped since the port was set up.
    std::uint64_t Dropped() const { return comm_.PiecesDropped(); }
    // Whether the last record's sentences are still queued for the device, and how long they
    // take on the line (and a little more): a file replay waits for them, on the port owner's
    // event loop (the port's notifications run there), so it goes no faster than the line.
    bool Sending() const;
    int SendTimeMs() const;
    // On the port owner's thread when the last queued byte went to the device (none is queued).
    std::function<void()> OnSent;

    // Lines for the user, on the port owner's thread: the device stopped taking sentences
    // ("navigation device not reading: N sentences dropped"), or takes them again.
    std::function<void(const std::string&)> OnNotice;

  private:
    // Whatever the device sends is read and dropped; it gets the last record's lines again.
    void SerComm1RxChar(int count);
    void Send();
    // Tells the user when the device stopped or started reading since the last look.
    void CheckDevice();
    std::uint32_t Baud() const;

    common::TSerComm& comm_;
    std::vector<std::string> lastLines_;
    bool waypointOn_ = false;
    bool stalled_ = false;
    std::uint64_t droppedSeen_ = 0;   // drops already accounted for
    std::uint64_t stallDropped_ = 0;  // drop count when the device stopped reading
    std::uint64_t stallSent_ = 0;     // sentences sent by then
};

}  // namespace monitor
