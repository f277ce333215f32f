#include "monitor/io/nmea_output.h"

#include <algorithm>
#include <stdexcept>

#include "common/numbers.h"

namespace monitor {

namespace {

constexpr int kBitsPerByte = 10;  // 8N1: start bit, eight data bits, stop bit
constexpr int kWaitSlackMs = 100;

}  // namespace

void ConfigureNmeaPort(common::TSerComm& comm, const std::string& port) {
    comm.SetBaudrate(kNmeaBaudrate);
    common::TSerFlowControl flow;
    flow.SetControlDtr(common::dtrDisabled);
    flow.SetControlRts(common::rtsDisabled);
    comm.SetFlowControl(flow);
    if (!port.empty() && port.front() == '/') {
        comm.SetDeviceName(port);
        comm.SetDirectWrite(false);
        return;
    }
    const auto number = common::ParseInt(port);
    if (!number || *number < 1 || *number > 255)
        throw std::invalid_argument("serial port \"" + port +
                                    "\" is neither a port number (1..255) nor a device path");
    comm.SetDeviceName("COM%d");
    comm.SetPortNum(static_cast<int>(*number));
    comm.SetDirectWrite(false);
}

int SentenceWaitMs(std::size_t bytes, std::uint32_t baud) {
    if (baud == 0) return kMinSentenceWaitMs;
    const auto ms = (bytes * kBitsPerByte * 1000 + baud - 1) / baud;
    return std::max(kMinSentenceWaitMs, static_cast<int>(std::min<std::size_t>(ms, 60000)));
}

NmeaOutput::NmeaOutput(common::TSerComm& comm) : comm_(comm) {
    comm_.OnRxChar = [this](common::TSerCustomComm&, int count) { SerComm1RxChar(count); };
    comm_.OnTxEmpty = [this](common::TSerCustomComm&) {
        CheckDevice();
        // The write thread may have emptied the buffer between two sentences of a record.
        if (OnSent && !Sending()) OnSent();
    };
}

void NmeaOutput::SetLine(const std::string& line, const std::string& waypoint) {
    std::vector<std::string> lines{line};
    if (waypointOn_ && !waypoint.empty()) lines.push_back(waypoint);
    SetLines(std::move(lines));
}

const std::string& NmeaOutput::LastLine() const {
    static const std::string none;
    return lastLines_.empty() ? none : lastLines_.front();
}

std::uint32_t NmeaOutput::Baud() const {
    return common::BaudrateValue(comm_.Baudrate(), comm_.UserBaudrate());
}

void NmeaOutput::SetLines(std::vector<std::string> lines) {
    lastLines_ = std::move(lines);
    if (comm_.Active()) Send();
}

void NmeaOutput::Send() {
    const std::uint32_t baud = Baud();
    for (const std::string& line : lastLines_)
        comm_.WritePiece(line.data(), static_cast<int>(line.size()),
                         SentenceWaitMs(line.size(), baud));
    CheckDevice();
}

bool NmeaOutput::Sending() const {
    return comm_.Active() && !comm_.WaitWritten(0);
}

int NmeaOutput::SendTimeMs() const {
    int ms = kWaitSlackMs;
    for (const std::string& line : lastLines_) ms += SentenceWaitMs(line.size(), Baud());
    return ms;
}

void NmeaOutput::CheckDevice() {
    const std::uint64_t dropped = comm_.PiecesDropped();
    const std::uint64_t sent = comm_.PiecesSent();
    if (!stalled_ && dropped > droppedSeen_) {
        stalled_ = true;
        stallDropped_ = droppedSeen_;
        stallSent_ = sent;
        if (OnNotice)
            OnNotice("navigation device not reading: " + std::to_string(dropped - stallDropped_) +
                     " sentences dropped");
    } else if (stalled_ && sent > stallSent_) {
        stalled_ = false;
        if (OnNotice)
            OnNotice("navigation device reading again: " + std::to_string(dropped - stallDropped_) +
                     " sentences dropped");
    }
    droppedSeen_ = dropped;
}

void NmeaOutput::SerComm1RxChar(int) {
    std::string ignored;
    comm_.ReadText(ignored);
    if (!lastLines_.empty()) Send();
}

}  // namespace monitor
