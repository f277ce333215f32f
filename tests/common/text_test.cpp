#include "common/text.h"

#include <gtest/gtest.h>

using common::CharSlice;
using common::CleanText;
using common::ExtractField;
using common::FirstWord;

TEST(ExtractField, CountsFromOneAndStopsAtNextSeparator) {
    const std::string gga = "$GPGGA,123456,5133.0000,N,00009.0000,E,1,07,1.0,1234.5,M";
    EXPECT_EQ(ExtractField(gga, 1, ','), "$GPGGA");
    EXPECT_EQ(ExtractField(gga, 2, ','), "123456");
    EXPECT_EQ(ExtractField(gga, 10, ','), "1234.5");
    EXPECT_EQ(ExtractField(gga, 11, ','), "M");
    EXPECT_EQ(ExtractField(gga, 12, ','), "");
    EXPECT_EQ(ExtractField(gga, 0, ','), "");
}

TEST(ExtractField, EmptyFieldsAndMissingSeparators) {
    EXPECT_EQ(ExtractField("a;;c", 2, ';'), "");
    EXPECT_EQ(ExtractField("a;;c", 3, ';'), "c");
    EXPECT_EQ(ExtractField("abc", 1, ';'), "abc");
    EXPECT_EQ(ExtractField("abc", 2, ';'), "");
    EXPECT_EQ(ExtractField("abc;", 2, ';'), "");
    EXPECT_EQ(ExtractField("", 1, '#'), "");
    EXPECT_EQ(ExtractField("rec#next#", 1, '#'), "rec");
}

TEST(CharSlice, ClipsAndEmpties) {
    EXPECT_EQ(CharSlice("123456", 1, 2), "12");
    EXPECT_EQ(CharSlice("123456", 5, 6), "56");
    EXPECT_EQ(CharSlice("5133.0000", 3, 9), "33.0000");
    EXPECT_EQ(CharSlice("12345", 3, 9), "345");
    EXPECT_EQ(CharSlice("1234", 5, 6), "");
    EXPECT_EQ(CharSlice("", 1, 2), "");
}

TEST(FirstWord, TakesFirstRunOfNonBlanks) {
    EXPECT_EQ(FirstWord("DL1ABC portable"), "DL1ABC");
    EXPECT_EQ(FirstWord("   JN49EA  "), "JN49EA");
    EXPECT_EQ(FirstWord("    "), "");
    EXPECT_EQ(FirstWord(""), "");
    EXPECT_EQ(FirstWord(std::string(300, 'X')).size(), 255u);
}

TEST(CleanText, DropsCodesOutside26To126) {
    EXPECT_EQ(CleanText("$GPGGA,1\r\n"), "$GPGGA,1");
    EXPECT_EQ(CleanText(std::string("a\x1a"
                                    "b\x7f"
                                    "c\xb0",
                                    7)),
              "a\x1a"
              "bc");
    EXPECT_EQ(CleanText(std::string("\x00\x19", 2)), "");
}

TEST(EscapeReceived, ControlBytesBackslashAndLatin1) {
    using common::EscapeReceived;
    EXPECT_EQ(EscapeReceived(std::string("a\0b\tc\r\n", 7)), "a\\x00b\\x09c\\x0D\\x0A");
    EXPECT_EQ(EscapeReceived("C:\\x"), "C:\\x5Cx");
    EXPECT_EQ(EscapeReceived("\x7F\x80\x9F"), "\\x7F\\x80\\x9F");
    EXPECT_EQ(EscapeReceived("\xA0\xB0\xFF"), "\xC2\xA0\xC2\xB0\xC3\xBF");
    EXPECT_EQ(EscapeReceived("$GPGGA,1;2#"), "$GPGGA,1;2#");
    EXPECT_EQ(EscapeReceived("abcdef", 4), "abcd...");
    EXPECT_EQ(EscapeReceived("abcd", 4), "abcd");
}

TEST(SplitHostPort, NamesIPv4AndBracketedOrBareIPv6) {
    common::HostPort hp;
    ASSERT_TRUE(common::SplitHostPort(" example.org ", hp));
    EXPECT_EQ(hp.host, "example.org");
    EXPECT_EQ(hp.port, 0);
    ASSERT_TRUE(common::SplitHostPort("127.0.0.1:3001", hp));
    EXPECT_EQ(hp.host, "127.0.0.1");
    EXPECT_EQ(hp.port, 3001);
    ASSERT_TRUE(common::SplitHostPort("[::1]:3000", hp));
    EXPECT_EQ(hp.host, "::1");
    EXPECT_EQ(hp.port, 3000);
    ASSERT_TRUE(common::SplitHostPort("[fe80::1]", hp));
    EXPECT_EQ(hp.host, "fe80::1");
    EXPECT_EQ(hp.port, 0);
    ASSERT_TRUE(common::SplitHostPort("::1", hp));
    EXPECT_EQ(hp.host, "::1");
    EXPECT_EQ(hp.port, 0);
    for (const char* bad :
         {"", "host:", "host:0", "host:65536", "host:3x", ":3000", "[::1", "[::1]3000", "[]:3000"})
        EXPECT_FALSE(common::SplitHostPort(bad, hp)) << bad;
}

TEST(SplitHostPort, TakesEveryPortFromOneTo65535) {
    common::HostPort hp;
    for (const char* text : {"host:1", "[::1]:1"}) {
        ASSERT_TRUE(common::SplitHostPort(text, hp)) << text;
        EXPECT_EQ(hp.port, 1) << text;
    }
    for (const char* text : {"host:65535", "[::1]:65535"}) {
        ASSERT_TRUE(common::SplitHostPort(text, hp)) << text;
        EXPECT_EQ(hp.port, 65535) << text;
    }
    for (const char* text : {"host:0", "[::1]:0", "host:65536", "[::1]:65536"})
        EXPECT_FALSE(common::SplitHostPort(text, hp)) << text;
}
