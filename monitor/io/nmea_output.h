// Passes the probe's GPS sentence on to a serial port, so a navigation program or device
// there sees the balloon as a GPS receiver.
#pragma once

#include <string>

#include "common/serial/ser_comm.h"

namespace monitor {

inline constexpr common::TSerBaudrate kNmeaBaudrate = common::br4800;

// The port as the monitor uses it: 4800 baud, no hardware or XON/XOFF flow control, DTR and
// RTS off. `port` is a port number ("3" opens COM3, i.e. /dev/ttyS2) or a device path.
// Throws std::invalid_argument for anything else.
void ConfigureNmeaPort(common::TSerComm& comm, const std::string& port);

class NmeaOutput {
  public:
    // Installs the port's OnRxChar handler; `comm` must outlive this object.
    explicit NmeaOutput(common::TSerComm& comm);

    // A new record's line (sentence + CR LF) replaces the last one and goes out if the port is
    // open, followed by `waypoint` (a whole sentence with CR LF) when waypoints are on and one is
    // given. Errors of the port (ESerCommError) reach the caller.
    void SetLine(const std::string& line, const std::string& waypoint = {});
    void SetWaypointOn(bool on) { waypointOn_ = on; }
    bool WaypointOn() const { return waypointOn_; }
    const std::string& LastLine() const { return lastLine_; }

  private:
    // Whatever the device sends is read and dropped; it gets the last line again in answer.
    void SerComm1RxChar(int count);

    common::TSerComm& comm_;
    std::string lastLine_;
    bool waypointOn_ = false;
};

}  // namespace monitor
