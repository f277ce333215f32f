#include "monitor/replay.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "records.h"

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
    };
    for (const auto& args : bad) {
        const ParsedOptions p = ParseOptions(args);
        EXPECT_FALSE(p.error.empty()) << (args.empty() ? "" : args.front());
    }
}

TEST(FormatReplayLine, StartCaptionsInTheFixedOrder) {
    EXPECT_EQ(FormatReplayLine(1, Displays{}),
              "record=1\trxstatlb=-\tutclb=--:--:--\tsatlb=-\tubatlb=--.-V\ttbatlb=-\ttauslb=-\t"
              "plb=----,- hPa\thgpslb=-\tgvlb=-\tghlb=-\tdvllb=-\ttacholb=-\tcourse=-\n");
}

TEST(FormatReplayLine, ValuesCannotBreakTheLine) {
    Displays d;
    d.rxstatlb = "A\tB\r\nC";
    d.courseDrawn = true;
    d.courseDeg = 269.96;
    const std::string line = FormatReplayLine(7, d);
    EXPECT_NE(line.find("rxstatlb=A B  C\t"), std::string::npos);
    EXPECT_NE(line.find("course=270.0\n"), std::string::npos);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(RunReplay, PrintsEveryRecordAndReportsErrors) {
    testing::Fix a;
    testing::Fix b;
    b.time = "123500.00";
    b.lat = "4901.3345";
    b.words[15] = "n/a";
    std::istringstream in(testing::Record(a) + testing::Record(b) + "DL1ABC;JN49");
    std::ostringstream out, err;
    StreamReader reader;
    EXPECT_EQ(RunReplay(in, reader, out, err), 2u);

    std::istringstream lines(out.str());
    std::string l1, l2, l3;
    std::getline(lines, l1);
    std::getline(lines, l2);
    EXPECT_FALSE(std::getline(lines, l3));
    EXPECT_EQ(l1.rfind("record=1\trxstatlb=DL1ABC  in  JN49EA\tutclb=12:34:56\t", 0), 0u) << l1;
    EXPECT_NE(l2.find("record=2\t"), std::string::npos);
    EXPECT_NE(l2.find("\tplb=987.5 hPa\t"), std::string::npos) << "pressure kept from record 1";
    EXPECT_NE(l2.find("\tghlb=168.5 km/h\t"), std::string::npos);
    EXPECT_NE(l2.find("\tcourse=0.0"), std::string::npos);

    const std::string e = err.str();
    EXPECT_NE(e.find("record 2: pressure \"   n/a\" is not a valid number"), std::string::npos)
        << e;
    EXPECT_NE(e.find("ignored 11 bytes"), std::string::npos) << e;
}

}  // namespace
}  // namespace monitor
