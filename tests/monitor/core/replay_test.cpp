#include "monitor/core/replay.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "one_line.h"
#include "records.h"

namespace monitor {
namespace {

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
    EXPECT_NE(line.find("rxstatlb=A\\x09B\\x0D\\x0AC\t"), std::string::npos) << line;
    EXPECT_NE(line.find("course=270.0\n"), std::string::npos);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
}

// Records received in noise: every byte reaches the line, escaped, and each line stays one valid
// UTF-8 line with every field; error messages quote only the start of a field, escaped too.
TEST(RunReplay, RecordsWithRawBytesGiveOneCleanCompleteLineEach) {
    testing::Fix a;
    a.time = std::string(
        "12\x00"
        "456\t",
        7);
    testing::Fix b;
    b.sats = "\r\n\x80\xFF\\";
    b.words[15] = std::string(400, '\x01');
    std::istringstream in(testing::Record(a, std::string("D\x00L\xA0", 4)) + testing::Record(b));
    std::ostringstream out, err;
    StreamReader reader;
    EXPECT_EQ(RunReplay(in, reader, out, err), 2u);

    std::istringstream lines(out.str());
    std::string l1, l2, l3;
    ASSERT_TRUE(std::getline(lines, l1) && std::getline(lines, l2));
    EXPECT_FALSE(std::getline(lines, l3));
    for (const std::string& l : {l1, l2}) {
        const auto fields = test_support::CleanFields(l);
        ASSERT_EQ(fields.size(), 14u) << l;
        EXPECT_EQ(fields.back().substr(0, 7), "course=") << l;
    }
    EXPECT_NE(l1.find("rxstatlb=D\\x00L\u00A0  in  JN49EA\t"), std::string::npos) << l1;
    EXPECT_NE(l2.find("satlb=\\x0D\\x0A\\x80\u00FF\\x5C\t"), std::string::npos) << l2;

    const std::string e = err.str();
    std::istringstream messages(e);
    for (std::string m; std::getline(messages, m);) EXPECT_TRUE(test_support::IsCleanUtf8(m)) << m;
    EXPECT_NE(e.find("record 1: time \"12\\x00456\\x09\" is not a valid number"), std::string::npos)
        << e;
    std::string quoted = " ";  // the word's field starts after ", "
    for (int i = 1; i < 40; ++i) quoted += "\\x01";
    EXPECT_NE(e.find("record 2: pressure \"" + quoted + "...\" is not a valid number"),
              std::string::npos)
        << e;
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
