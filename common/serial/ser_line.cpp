#include "common/serial/ser_line.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace common {

int SetCustomBaudrate(int fd, unsigned rate);

int NiceValueFor(TThreadPriority priority) {
    switch (priority) {
        case tpIdle:
            return 19;
        case tpLowest:
            return 10;
        case tpLower:
            return 5;
        default:
            return 0;
    }
}

std::uint32_t BaudrateValue(TSerBaudrate rate, std::int32_t user_baudrate) {
    static constexpr std::uint32_t kTable[] = {0,     110,    300,    600,   1200,  2400,
                                               4800,  9600,   14400,  19200, 38400, 56000,
                                               57600, 115200, 128000, 256000};
    if (rate == brUser) return user_baudrate > 0 ? static_cast<std::uint32_t>(user_baudrate) : 0;
    return kTable[rate];
}

int DatabitsValue(TSerDatabits bits) {
    return 4 + static_cast<int>(bits);
}

std::uint32_t EventBit(TSerCommEvent event) {
    switch (event) {
        case ceBreak:
            return kEvBreak;
        case ceCts:
            return kEvCts;
        case ceDsr:
            return kEvDsr;
        case ceError:
            return kEvErr;
        case ceRing:
            return kEvRing;
        case ceRlsd:
            return kEvRlsd;
        case ceRxChar:
            return kEvRxChar;
        case ceRxFlag:
            return kEvRxFlag;
        case ceTxEmpty:
            return kEvTxEmpty;
        case cePErr:
            return kEvPErr;
        case ceRx80Full:
            return kEvRx80Full;
        case ceEvent1:
            return kEvEvent1;
        case ceEvent2:
            return kEvEvent2;
    }
    return 0;
}

std::uint32_t EventMask(TSerCommEvents events, bool direct_write) {
    std::uint32_t mask = 0;
    for (int e = ceBreak; e <= ceEvent2; ++e) {
        if (events.Contains(static_cast<TSerCommEvent>(e)))
            mask |= EventBit(static_cast<TSerCommEvent>(e));
    }
    if (!direct_write) mask &= ~kEvTxEmpty;
    return mask;
}

std::uint32_t XonXoffLimit(TSerIntW read_size) {
    if (read_size <= 0) return 0;
    return std::min<std::uint32_t>(static_cast<std::uint32_t>(read_size) / 4, 1024);
}

TSerDcb ComputeDcb(const TSerLineSettings& line, const TSerFlowControl& flow,
                   const TSerEventChars& chars, const TSerBuffers& buffers) {
    TSerDcb dcb;
    dcb.baud_rate = BaudrateValue(line.baudrate, line.user_baudrate);
    dcb.byte_size = DatabitsValue(line.databits);
    dcb.parity = line.parity;
    dcb.stop_bits = line.stopbits;
    dcb.xon_char = chars.XonChar();
    dcb.xoff_char = chars.XoffChar();
    dcb.error_char = chars.ErrorChar();
    dcb.eof_char = chars.EofChar();
    dcb.evt_char = chars.EventChar();
    dcb.xon_lim = dcb.xoff_lim = XonXoffLimit(buffers.ReadSize());

    std::uint32_t f = kDcbBinary;
    if (line.parity_check) f |= kDcbParity;
    if (flow.OutCtsFlow()) f |= kDcbOutxCtsFlow;
    if (flow.OutDsrFlow()) f |= kDcbOutxDsrFlow;
    if (flow.ControlDtr() == dtrEnabled) f |= kDcbDtrEnable;
    if (flow.ControlDtr() == dtrHandshake) f |= kDcbDtrHandshake;
    if (flow.DsrSensitivity()) f |= kDcbDsrSensitivity;
    if (flow.TxContinueOnXoff()) f |= kDcbTxContinueOnXoff;
    if (flow.XonXoffOut()) f |= kDcbOutX;
    if (flow.XonXoffIn()) f |= kDcbInX;
    if (line.options.Contains(coErrorChar)) f |= kDcbErrorChar;
    if (line.options.Contains(coNullStrip)) f |= kDcbNull;
    switch (flow.ControlRts()) {
        case rtsDisabled:
            break;
        case rtsEnabled:
            f |= kDcbRtsEnable;
            break;
        case rtsHandshake:
            f |= kDcbRtsHandshake;
            break;
        case rtsToggle:
            f |= kDcbRtsToggle;
            break;
    }
    dcb.flags = f;
    return dcb;
}

namespace {

speed_t StandardSpeed(std::uint32_t rate) {
    switch (rate) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return B0;
    }
}

void SetModemLine(int fd, int line, bool on) {
    // Pseudo-terminals and some adapters have no modem lines; that is not an error here.
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

}  // namespace

int ApplyDcb(int fd, const TSerDcb& dcb) {
    if (dcb.baud_rate == 0) return EINVAL;
    tcflag_t size;
    switch (dcb.byte_size) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return EINVAL;  // the terminal interface has no 4-bit bytes
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return errno;
    tio = termios{};
    tio.c_cflag = CREAD | CLOCAL | size;
    switch (dcb.parity) {
        case paNone:
            break;
        case paOdd:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case paEven:
            tio.c_cflag |= PARENB;
            break;
        case paMark:
            tio.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case paSpace:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
    }
    // CSTOPB means 1.5 stop bits with 5-bit bytes and 2 otherwise, as UARTs do.
    if (dcb.stop_bits != sb1) tio.c_cflag |= CSTOPB;
    const bool rts_handshake = (dcb.flags & kDcbRtsMask) == kDcbRtsHandshake;
    if ((dcb.flags & kDcbOutxCtsFlow) || rts_handshake) tio.c_cflag |= CRTSCTS;
    if (dcb.flags & kDcbParity) tio.c_iflag |= INPCK;
    if (dcb.flags & kDcbOutX) tio.c_iflag |= IXON;
    if (dcb.flags & kDcbInX) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.xon_char);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.xoff_char);
    tio.c_cc[VEOF] = static_cast<cc_t>(dcb.eof_char);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    const speed_t speed = StandardSpeed(dcb.baud_rate);
    const bool custom = speed == B0;
    cfsetispeed(&tio, custom ? B38400 : speed);
    cfsetospeed(&tio, custom ? B38400 : speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return errno;
    if (custom) {
        if (int err = SetCustomBaudrate(fd, dcb.baud_rate); err != 0) return err;
    }

    const bool dtr = (dcb.flags & (kDcbDtrEnable | kDcbDtrHandshake)) != 0;
    SetModemLine(fd, TIOCM_DTR, dtr);
    if (!(tio.c_cflag & CRTSCTS)) SetModemLine(fd, TIOCM_RTS, (dcb.flags & kDcbRtsMask) != 0);
    return 0;
}

std::string FormatDeviceName(const std::string& pattern, int port_num) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == 'd') {
                out += std::to_string(port_num);
                ++i;
                continue;
            }
            if (pattern[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string DevicePath(const std::string& device_name, const std::string& com_prefix) {
    if (!device_name.empty() && device_name.front() == '/') return device_name;
    if (device_name.size() > 3 && device_name.compare(0, 3, "COM") == 0) {
        int n = 0;
        const char* first = device_name.data() + 3;
        const char* last = device_name.data() + device_name.size();
        auto [end, ec] = std::from_chars(first, last, n);
        if (ec == std::errc{} && end == last && n >= 1 && *first != '0') {
            return com_prefix + std::to_string(n - 1);
        }
    }
    return "/dev/" + device_name;
}

}  // namespace common
