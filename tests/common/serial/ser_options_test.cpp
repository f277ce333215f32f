// Pure parts of the serial component: tables, masks, the flag word, names, option objects.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "common/serial/ser_line.h"

namespace common {
namespace {

struct MaskCase {
    TSerCommEvents events;
    bool direct_write;
    std::uint32_t mask;
};

class EventMaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(EventMaskTest, BitsOfMonitoredEvents) {
    EXPECT_EQ(EventMask(GetParam().events, GetParam().direct_write), GetParam().mask);
}

INSTANTIATE_TEST_SUITE_P(Table, EventMaskTest,
                         ::testing::Values(MaskCase{{ceError, ceRxChar, ceTxEmpty}, false, 0x0081},
                                           MaskCase{{ceError, ceRxChar, ceTxEmpty}, true, 0x0085},
                                           MaskCase{{}, false, 0}, MaskCase{{ceTxEmpty}, false, 0},
                                           MaskCase{{ceBreak, ceCts, ceDsr, ceError, ceRing, ceRlsd,
                                                     ceRxChar, ceRxFlag, ceTxEmpty, cePErr,
                                                     ceRx80Full, ceEvent1, ceEvent2},
                                                    true,
                                                    0x1FFF},
                                           MaskCase{{ceCts, ceRing, ceEvent2}, false, 0x1108}));

class XonLimitTest : public ::testing::TestWithParam<std::pair<TSerIntW, std::uint32_t>> {};

TEST_P(XonLimitTest, QuarterOfReadSizeCappedAt1024) {
    TSerBuffers buffers;
    buffers.SetReadSize(GetParam().first);
    const TSerDcb dcb = ComputeDcb({}, TSerFlowControl{}, TSerEventChars{}, buffers);
    EXPECT_EQ(dcb.xon_lim, GetParam().second);
    EXPECT_EQ(dcb.xoff_lim, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Table, XonLimitTest,
                         ::testing::Values(std::pair{4096, 1024u}, std::pair{8192, 1024u},
                                           std::pair{100, 25u}, std::pair{4100, 1024u},
                                           std::pair{4092, 1023u}, std::pair{3, 0u}));

struct FlagCase {
    const char* name;
    std::function<void(TSerLineSettings&, TSerFlowControl&)> setup;
    std::uint32_t flags;
};

class DcbFlagTest : public ::testing::TestWithParam<FlagCase> {};

TEST_P(DcbFlagTest, FlagWord) {
    TSerLineSettings line;
    TSerFlowControl flow;
    GetParam().setup(line, flow);
    EXPECT_EQ(ComputeDcb(line, flow, TSerEventChars{}, TSerBuffers{}).flags, GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DcbFlagTest,
    ::testing::Values(
        FlagCase{"Defaults", [](auto&, auto&) {}, 0x0001},
        FlagCase{"ParityCheck", [](auto& l, auto&) { l.parity_check = true; }, 0x0003},
        FlagCase{"Cts", [](auto&, auto& f) { f.SetOutCtsFlow(true); }, 0x0005},
        FlagCase{"Dsr", [](auto&, auto& f) { f.SetOutDsrFlow(true); }, 0x0009},
        FlagCase{"DtrEnabled", [](auto&, auto& f) { f.SetControlDtr(dtrEnabled); }, 0x0011},
        FlagCase{"DtrHandshake", [](auto&, auto& f) { f.SetControlDtr(dtrHandshake); }, 0x0021},
        FlagCase{"DsrSensitivity", [](auto&, auto& f) { f.SetDsrSensitivity(true); }, 0x0041},
        FlagCase{"TxContinue", [](auto&, auto& f) { f.SetTxContinueOnXoff(true); }, 0x0081},
        FlagCase{"XonXoffOut", [](auto&, auto& f) { f.SetXonXoffOut(true); }, 0x0101},
        FlagCase{"XonXoffIn", [](auto&, auto& f) { f.SetXonXoffIn(true); }, 0x0201},
        FlagCase{"ErrorChar", [](auto& l, auto&) { l.options = {coErrorChar}; }, 0x0401},
        FlagCase{"NullStrip", [](auto& l, auto&) { l.options = {coNullStrip}; }, 0x0801},
        FlagCase{"RtsEnabled", [](auto&, auto& f) { f.SetControlRts(rtsEnabled); }, 0x1001},
        FlagCase{"RtsHandshake", [](auto&, auto& f) { f.SetControlRts(rtsHandshake); }, 0x2001},
        FlagCase{"RtsToggle", [](auto&, auto& f) { f.SetControlRts(rtsToggle); }, 0x3001},
        FlagCase{"Everything",
                 [](auto& l, auto& f) {
                     l.parity_check = true;
                     l.options = {coErrorChar, coNullStrip};
                     f.SetOutCtsFlow(true);
                     f.SetOutDsrFlow(true);
                     f.SetControlDtr(dtrHandshake);
                     f.SetControlRts(rtsToggle);
                     f.SetXonXoffIn(true);
                     f.SetXonXoffOut(true);
                     f.SetDsrSensitivity(true);
                     f.SetTxContinueOnXoff(true);
                 },
                 0x3FEF}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineTables, BaudratesDatabitsAndCharacters) {
    const std::pair<TSerBaudrate, std::uint32_t> rates[] = {
        {br110, 110},       {br300, 300},       {br600, 600},      {br1200, 1200},
        {br2400, 2400},     {br4800, 4800},     {br9600, 9600},    {br14400, 14400},
        {br19200, 19200},   {br38400, 38400},   {br56000, 56000},  {br57600, 57600},
        {br115200, 115200}, {br128000, 128000}, {br256000, 256000}};
    for (auto [rate, bps] : rates) EXPECT_EQ(BaudrateValue(rate, 31250), bps) << rate;
    EXPECT_EQ(BaudrateValue(brUser, 31250), 31250u);
    EXPECT_EQ(BaudrateValue(brUser, -5), 0u);
    EXPECT_EQ(DatabitsValue(db4), 4);
    EXPECT_EQ(DatabitsValue(db8), 8);

    TSerEventChars chars;
    chars.SetEventChar('\n');
    TSerLineSettings line;
    line.baudrate = br4800;
    line.databits = db7;
    line.parity = paEven;
    line.stopbits = sb2;
    const TSerDcb dcb = ComputeDcb(line, TSerFlowControl{}, chars, TSerBuffers{});
    EXPECT_EQ(dcb.baud_rate, 4800u);
    EXPECT_EQ(dcb.byte_size, 7);
    EXPECT_EQ(dcb.parity, paEven);
    EXPECT_EQ(dcb.stop_bits, sb2);
    EXPECT_EQ(dcb.xon_char, 17);
    EXPECT_EQ(dcb.xoff_char, 19);
    EXPECT_EQ(dcb.evt_char, '\n');
}

TEST(DeviceNames, PatternTakesOnlyThePortNumber) {
    EXPECT_EQ(FormatDeviceName("COM%d", 3), "COM3");
    EXPECT_EQ(FormatDeviceName("COM%d", 1), "COM1");
    EXPECT_EQ(FormatDeviceName("/dev/ttyUSB%d", 0), "/dev/ttyUSB0");
    // User text, never a format string: other conversions stay as typed.
    EXPECT_EQ(FormatDeviceName("%s%n%x%d", 7), "%s%n%x7");
    EXPECT_EQ(FormatDeviceName("100%%", 7), "100%");
    EXPECT_EQ(FormatDeviceName("COM%", 7), "COM%");

    EXPECT_EQ(DevicePath("COM1", "/dev/ttyS"), "/dev/ttyS0");
    EXPECT_EQ(DevicePath("COM3", "/dev/ttyS"), "/dev/ttyS2");
    EXPECT_EQ(DevicePath("COM12", "/x/ttyS"), "/x/ttyS11");
    EXPECT_EQ(DevicePath("/dev/pts/4", "/dev/ttyS"), "/dev/pts/4");
    EXPECT_EQ(DevicePath("ttyUSB0", "/dev/ttyS"), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePath("COM0", "/dev/ttyS"), "/dev/COM0");
    EXPECT_EQ(DevicePath("COM01", "/dev/ttyS"), "/dev/COM01");
    EXPECT_EQ(DevicePath("COM-1", "/dev/ttyS"), "/dev/COM-1");
}

TEST(Messages, SystemCodeAndText) {
    EXPECT_EQ(SerSysMessage("Read error ", EIO), "Read error (5), Input/output error");
    EXPECT_EQ(SerSysMessage("Unable to open specified device COM3 ", ENOENT),
              "Unable to open specified device COM3 (2), No such file or directory");
}

TEST(Persistent, UpdateCounterBatchesNotifications) {
    TSerFlowControl flow;
    int calls = 0;
    flow.SetOnChange([&](TSerPersistent&) { ++calls; });
    flow.SetOutCtsFlow(true);
    flow.SetOutCtsFlow(true);  // unchanged: no call
    EXPECT_EQ(calls, 1);
    flow.BeginUpdate();
    flow.SetXonXoffIn(true);
    flow.SetXonXoffOut(true);
    EXPECT_EQ(calls, 1);
    flow.EndUpdate();
    EXPECT_EQ(calls, 2);
    flow.EndUpdate();  // counter stays at 0 and still notifies
    EXPECT_EQ(flow.UpdateCount(), 0);
    EXPECT_EQ(calls, 3);

    TSerEventChars chars;
    int char_calls = 0;
    chars.SetOnChange([&](TSerPersistent&) { ++char_calls; });
    chars.SetXonChar(17);  // same value: event chars notify anyway
    EXPECT_EQ(char_calls, 1);
}

TEST(Persistent, AssignCopiesWithOneNotification) {
    TSerFlowControl source;
    source.SetControlDtr(dtrEnabled);
    source.SetControlRts(rtsHandshake);
    source.SetXonXoffIn(true);
    TSerFlowControl target;
    int calls = 0;
    target.SetOnChange([&](TSerPersistent&) { ++calls; });
    target.Assign(source);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(target.ControlDtr(), dtrEnabled);
    EXPECT_EQ(target.ControlRts(), rtsHandshake);
    EXPECT_TRUE(target.XonXoffIn());

    TSerBuffers buffers;
    EXPECT_THROW(buffers.Assign(source), std::invalid_argument);
    EXPECT_EQ(buffers.UpdateCount(), 0);

    // A refusing owner still leaves the object usable and the values copied.
    TSerBuffers big;
    big.SetWriteSize(64);
    buffers.SetOnChange([](TSerPersistent&) { throw std::runtime_error("refused"); });
    EXPECT_THROW(buffers.Assign(big), std::runtime_error);
    EXPECT_EQ(buffers.WriteSize(), 64);
    EXPECT_EQ(buffers.UpdateCount(), 0);
}

TEST(CommBuffer, AppendAndConsumeKeepOrder) {
    TSerCommBuffer buffer(8);
    EXPECT_TRUE(buffer.Append("abcde", 5));
    EXPECT_FALSE(buffer.Append("wxyz", 4));
    EXPECT_EQ(buffer.Fill(), 5u);
    buffer.Consume(2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Fill()), "cde");
    EXPECT_TRUE(buffer.Append("fghij", 5));
    EXPECT_EQ(buffer.Free(), 0u);
    buffer.Consume(100);
    EXPECT_EQ(buffer.Fill(), 0u);
}

TEST(WaitEvent, ManualResetStaysSetUntilReset) {
    TSerWaitEvent event;
    EXPECT_EQ(event.WaitFor(0), TSerEvent::TWaitResult::wrTimeout);
    event.SetEvent();
    EXPECT_EQ(event.WaitFor(0), TSerEvent::TWaitResult::wrSignaled);
    EXPECT_EQ(event.WaitFor(10), TSerEvent::TWaitResult::wrSignaled);
    event.ResetEvent();
    EXPECT_EQ(event.WaitFor(1), TSerEvent::TWaitResult::wrTimeout);
}

}  // namespace
}  // namespace common
