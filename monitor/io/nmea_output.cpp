#include "monitor/io/nmea_output.h"

#include <stdexcept>

#include "common/numbers.h"

namespace monitor {

void ConfigureNmeaPort(common::TSerComm& comm, const std::string& port) {
    comm.SetBaudrate(kNmeaBaudrate);
    common::TSerFlowControl flow;
    flow.SetControlDtr(common::dtrDisabled);
    flow.SetControlRts(common::rtsDisabled);
    comm.SetFlowControl(flow);
    if (!port.empty() && port.front() == '/') {
        comm.SetDeviceName(port);
        return;
    }
    const auto number = common::ParseInt(port);
    if (!number || *number < 1 || *number > 255)
        throw std::invalid_argument("serial port \"" + port +
                                    "\" is neither a port number (1..255) nor a device path");
    comm.SetDeviceName("COM%d");
    comm.SetPortNum(static_cast<int>(*number));
}

NmeaOutput::NmeaOutput(common::TSerComm& comm) : comm_(comm) {
    comm_.OnRxChar = [this](common::TSerCustomComm&, int count) { SerComm1RxChar(count); };
}

void NmeaOutput::SetLine(const std::string& line, const std::string& waypoint) {
    lastLine_ = line;
    if (!comm_.Active()) return;
    comm_.WriteText(lastLine_);
    if (waypointOn_ && !waypoint.empty()) comm_.WriteText(waypoint);
}

void NmeaOutput::SerComm1RxChar(int) {
    std::string ignored;
    comm_.ReadText(ignored);
    if (!lastLine_.empty()) comm_.WriteText(lastLine_);
}

}  // namespace monitor
