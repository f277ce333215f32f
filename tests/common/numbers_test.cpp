#include "common/numbers.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

using common::FormatFixed;
using common::ParseDouble;
using common::ParseInt;

TEST(ParseDouble, AcceptsDecimalPointAndSurroundingBlanks) {
    EXPECT_DOUBLE_EQ(*ParseDouble("5133.0000"), 5133.0);
    EXPECT_DOUBLE_EQ(*ParseDouble("  1500"), 1500.0);
    EXPECT_DOUBLE_EQ(*ParseDouble(" -7 "), -7.0);
    EXPECT_DOUBLE_EQ(*ParseDouble("+1.5e3"), 1500.0);
    EXPECT_DOUBLE_EQ(*ParseDouble(".5"), 0.5);
}

TEST(ParseDouble, RejectsWhatIsNotANumber) {
    for (const char* bad : {"", "   ", "1,5", "12abc", "nan", "inf", "0x10", "1.2.3", "-", "--1"})
        EXPECT_FALSE(ParseDouble(bad).has_value()) << bad;
}

TEST(ParseInt, AcceptsBlanksRejectsFractions) {
    EXPECT_EQ(*ParseInt("  300"), 300);
    EXPECT_EQ(*ParseInt("-7"), -7);
    EXPECT_FALSE(ParseInt("2.5").has_value());
    EXPECT_FALSE(ParseInt("").has_value());
    EXPECT_FALSE(ParseInt("99999999999999999999").has_value());
}

TEST(FormatFixed, RoundsToSignificantDigitsThenWritesDecimals) {
    EXPECT_EQ(FormatFixed(12.34, 3, 2), "12.30");
    EXPECT_EQ(FormatFixed(6.0, 3, 2), "6.00");
    EXPECT_EQ(FormatFixed(1013.2, 5, 1), "1013.2");
    EXPECT_EQ(FormatFixed(987.5, 7, 1), "987.5");
    EXPECT_EQ(FormatFixed(0.123456, 3, 2), "0.12");
    EXPECT_EQ(FormatFixed(1234.5, 7, 0), "1234");
    EXPECT_EQ(FormatFixed(262.14, 3, 2), "262.00");
    EXPECT_EQ(FormatFixed(-3.0, 7, 1), "-3.0");
    EXPECT_EQ(FormatFixed(-0.04, 7, 1), "0.0");
    EXPECT_EQ(FormatFixed(0.0, 7, 1), "0.0");
}

namespace {
// A locale with "," as decimal separator: the machine's own, or one built for the test.
bool UseGermanNumbers() {
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) return true;
    const std::string dir = ::testing::TempDir() + "tavrin-locale";
    const std::string cmd = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(("mkdir -p " + dir + " && " + cmd).c_str()) != 0) return false;
    ::setenv("LOCPATH", dir.c_str(), 1);
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}
}  // namespace

TEST(FormatFixed, IgnoresTheProcessLocale) {
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    if (!UseGermanNumbers()) GTEST_SKIP() << "no locale with a decimal comma here";
    char check[16];
    std::snprintf(check, sizeof check, "%.1f", 1.5);
    ASSERT_STREQ(check, "1,5");  // the C library now writes a comma
    EXPECT_EQ(FormatFixed(1013.2, 5, 1), "1013.2");
    EXPECT_DOUBLE_EQ(*ParseDouble("1013.2"), 1013.2);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

// Station and monitor read the same temperature values and word their number errors alike.
TEST(SharedTelemetryTexts, HalfDegreesAndNotANumber) {
    EXPECT_EQ(common::HalfDegreesToCelsius(0x00FD), -1);
    EXPECT_EQ(common::HalfDegreesToCelsius(0x1233), 25);
    EXPECT_EQ(common::HalfDegreesToCelsius(-2), -1);  // a negative raw value keeps its low byte
    EXPECT_EQ(common::NotANumberText("Tbat", "1\t2"), "Tbat \"1\\x092\" is not a valid number");
    const std::string e = common::NotANumberText("Taus", std::string(1000, '\xFF'));
    EXPECT_EQ(e.size(), std::string("Taus \"...\" is not a valid number").size() + 80);
}
