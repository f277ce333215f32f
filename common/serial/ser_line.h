// Enumerations, tables and pure computations of the serial line settings, plus the few
// functions that map them onto the Linux terminal interface.
#pragma once

#include <cstdint>
#include <string>

#include "common/serial/ser_classes.h"
#include "common/serial/ser_prst.h"

namespace common {

enum TSerBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TSerParity { paNone, paOdd, paEven, paMark, paSpace };
enum TSerDatabits { db4, db5, db6, db7, db8 };
enum TSerStopbits { sb1, sb15, sb2 };
enum TSerCommOption { coErrorChar, coNullStrip };
using TSerCommOptions = TSerSet<TSerCommOption>;

enum TSerCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceRxFlag,
    ceTxEmpty,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
using TSerCommEvents = TSerSet<TSerCommEvent>;

// Stored on Linux and applied as a nice value to the worker thread: lowering works for any
// user, raising needs privileges, so everything from tpNormal up leaves the thread at 0.
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
int NiceValueFor(TThreadPriority priority);

// Line event bits of the comm-event word.
inline constexpr std::uint32_t kEvRxChar = 0x0001;
inline constexpr std::uint32_t kEvRxFlag = 0x0002;
inline constexpr std::uint32_t kEvTxEmpty = 0x0004;
inline constexpr std::uint32_t kEvCts = 0x0008;
inline constexpr std::uint32_t kEvDsr = 0x0010;
inline constexpr std::uint32_t kEvRlsd = 0x0020;
inline constexpr std::uint32_t kEvBreak = 0x0040;
inline constexpr std::uint32_t kEvErr = 0x0080;
inline constexpr std::uint32_t kEvRing = 0x0100;
inline constexpr std::uint32_t kEvPErr = 0x0200;
inline constexpr std::uint32_t kEvRx80Full = 0x0400;
inline constexpr std::uint32_t kEvEvent1 = 0x0800;
inline constexpr std::uint32_t kEvEvent2 = 0x1000;

// Bits of the line-error word that GetStatus returns (and clears).
inline constexpr std::uint32_t kSerErrRxOver = 0x0001;   // driver input buffer overflowed
inline constexpr std::uint32_t kSerErrOverrun = 0x0002;  // UART overrun
inline constexpr std::uint32_t kSerErrParity = 0x0004;
inline constexpr std::uint32_t kSerErrFrame = 0x0008;
inline constexpr std::uint32_t kSerErrBreak = 0x0010;
inline constexpr std::uint32_t kSerErrWait = 0x2000;    // waiting for line events failed
inline constexpr std::uint32_t kSerErrWrite = 0x4000;   // a write to the device failed
inline constexpr std::uint32_t kSerErrHangup = 0x8000;  // device gone or other end closed

// Flag word of the line settings.
inline constexpr std::uint32_t kDcbBinary = 0x0001;
inline constexpr std::uint32_t kDcbParity = 0x0002;
inline constexpr std::uint32_t kDcbOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t kDcbOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t kDcbDtrEnable = 0x0010;
inline constexpr std::uint32_t kDcbDtrHandshake = 0x0020;
inline constexpr std::uint32_t kDcbDsrSensitivity = 0x0040;
inline constexpr std::uint32_t kDcbTxContinueOnXoff = 0x0080;
inline constexpr std::uint32_t kDcbOutX = 0x0100;
inline constexpr std::uint32_t kDcbInX = 0x0200;
inline constexpr std::uint32_t kDcbErrorChar = 0x0400;
inline constexpr std::uint32_t kDcbNull = 0x0800;
inline constexpr std::uint32_t kDcbRtsEnable = 0x1000;
inline constexpr std::uint32_t kDcbRtsHandshake = 0x2000;
inline constexpr std::uint32_t kDcbRtsToggle = 0x3000;
inline constexpr std::uint32_t kDcbRtsMask = 0x3000;

std::uint32_t BaudrateValue(TSerBaudrate rate, std::int32_t user_baudrate);
int DatabitsValue(TSerDatabits bits);
std::uint32_t EventBit(TSerCommEvent event);
// Bits of every monitored event; without direct writes the write thread reports
// transmit-empty itself, so 0x0004 is left out.
std::uint32_t EventMask(TSerCommEvents events, bool direct_write);
// XON and XOFF limit: a quarter of the input queue, at most 1024 bytes.
std::uint32_t XonXoffLimit(TSerIntW read_size);

struct TSerLineSettings {
    TSerBaudrate baudrate = br1200;
    std::int32_t user_baudrate = 0;
    TSerParity parity = paNone;
    bool parity_check = false;
    TSerDatabits databits = db8;
    TSerStopbits stopbits = sb1;
    TSerCommOptions options;
};

// The device-control record: what the line settings become before they meet the device.
struct TSerDcb {
    std::uint32_t baud_rate = 0;
    std::uint32_t flags = 0;
    std::uint32_t xon_lim = 0;
    std::uint32_t xoff_lim = 0;
    int byte_size = 0;
    TSerParity parity = paNone;
    TSerStopbits stop_bits = sb1;
    char xon_char = 0;
    char xoff_char = 0;
    char error_char = 0;
    char eof_char = 0;
    char evt_char = 0;
};

TSerDcb ComputeDcb(const TSerLineSettings& line, const TSerFlowControl& flow,
                   const TSerEventChars& chars, const TSerBuffers& buffers);

// Writes the record to a terminal device: raw mode, reads that return at once, speed, framing,
// flow control and modem lines. Returns 0 or the errno of the failing call. Settings Linux has
// no counterpart for (DSR output flow, DSR sensitivity, error and event characters, null
// stripping, continue-on-XOFF, the XON/XOFF limits) are kept in the record only.
int ApplyDcb(int fd, const TSerDcb& dcb);

// Device name made from the pattern: "%d" takes the port number, "%%" a percent sign, any
// other "%" sequence is kept as it stands (the pattern is user text, not a format string).
std::string FormatDeviceName(const std::string& pattern, int port_num);
// Where the named device lives: a name starting with "/" is a path; "COMn" (n >= 1) is the
// n-th serial port, "<com_prefix>(n-1)"; any other name is looked up in /dev.
std::string DevicePath(const std::string& device_name, const std::string& com_prefix);

}  // namespace common
