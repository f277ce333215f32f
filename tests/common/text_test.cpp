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
