// The command line as a user types it: what is accepted and what is refused with a message.
#include "monitor/options.h"

#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace monitor {
namespace {

ParsedOptions Parse(std::vector<std::string_view> args) {
    return ParseOptions(args);
}

TEST(ParseOptions, AcceptedCommandLines) {
    const ParsedOptions a = Parse({"--headless", "--replay", "flight.txt"});
    EXPECT_TRUE(a.error.empty());
    EXPECT_TRUE(a.options.headless);
    EXPECT_EQ(a.options.replayPath, "flight.txt");
    EXPECT_EQ(a.options.locator, "JN49EA");
    EXPECT_FALSE(a.options.speedMs);

    const ParsedOptions b = Parse({"--replay=-", "--locator=jo31aa", "--ms", "--headless"});
    EXPECT_TRUE(b.error.empty());
    EXPECT_EQ(b.options.replayPath, "-");
    EXPECT_EQ(b.options.locator, "jo31aa");
    EXPECT_TRUE(b.options.speedMs);

    EXPECT_TRUE(Parse({"--help"}).options.help);
    EXPECT_TRUE(Parse({"--version"}).options.version);
    // Without --headless the window opens.
    EXPECT_TRUE(Parse({}).error.empty());
    const ParsedOptions c =
        Parse({"--server", "[::1]:3000", "--headless", "--serial=/dev/ttyUSB0"});
    EXPECT_TRUE(c.error.empty());
    EXPECT_EQ(c.options.server, "[::1]:3000");
    EXPECT_EQ(c.options.serialPort, "/dev/ttyUSB0");
    EXPECT_TRUE(Parse({"--server", "localhost", "--serial", "3"}).error.empty());

    const ParsedOptions d =
        Parse({"--predict", "-33.95,-70.5,2026-12-08T23:59:30Z", "--winds", "w.grib2"});
    ASSERT_TRUE(d.error.empty()) << d.error;
    ASSERT_TRUE(d.options.predict);
    EXPECT_EQ(d.options.predict->point.lat, -33.95);
    EXPECT_EQ(d.options.predict->point.lon, -70.5);
    EXPECT_EQ(d.options.predict->unixS, 1796774400 - 30);  // 2026-12-09 00:00 less 30 s
    EXPECT_TRUE(Parse({"--predict=50,8,2026-12-08T10:00Z", "--winds=w"}).error.empty());
}

TEST(ParseOptions, RejectedCommandLines) {
    const std::vector<std::vector<std::string_view>> bad = {
        {"--bogus"},
        {"--headless"},
        {"--headless", "--replay"},
        {"--headless", "--replay="},
        {"--headless", "--replay", "f", "--locator"},
        {"--replay", "f"},
        {"--headless", "--server"},
        {"--headless", "--server", "h", "--replay", "f"},
        {"--headless", "--replay", "f", "extra"},
        {"--predict", "50,8,2026-12-08T10:00Z"},  // no model winds
        {"--predict", "50,8,2026-12-08T10:00Z", "--winds", "w", "--server", "h"},
        {"--predict", "50;8;2026-12-08T10:00Z", "--winds", "w"},
        {"--predict", "50,181,2026-12-08T10:00Z", "--winds", "w"},
        {"--predict", "-91,8,2026-12-08T10:00Z", "--winds", "w"},
        {"--predict", "50,8,2026-12-08", "--winds", "w"},
    };
    for (const auto& args : bad) {
        const ParsedOptions p = ParseOptions(args);
        EXPECT_FALSE(p.error.empty()) << (args.empty() ? "" : args.front());
    }
}

}  // namespace
}  // namespace monitor
