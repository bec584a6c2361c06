#include "platform/numbers.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>

#include "support/temp_dir.h"

namespace karvelo::platform {
namespace {

TEST(ParseInt, ReadsLikeTheCLibrary) {
    struct Case {
        const wchar_t* text;
        std::int32_t expected;
    };
    const Case cases[] = {
        {L"42", 42},
        {L"  \t-17", -17},
        {L"+8", 8},
        {L"12abc", 12},
        {L"abc", 0},
        {L"", 0},
        {L"- 5", 0},
        {L"3.9", 3},
        {L"0x10", 0},
        {L"007", 7},
        {L" 1 2", 1},
        {L"--1", 0},
        {L"2147483647", 2147483647},
        {L"99999999999999999999", 2147483647},
        {L"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {L"-99999999999", std::numeric_limits<std::int32_t>::min()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "text '" << std::string(c.text, c.text + wcslen(c.text)) << "'");
        EXPECT_EQ(ParseInt(c.text), c.expected);
    }
}

TEST(ParseDouble, ReadsDecimalPrefixes) {
    struct Case {
        const wchar_t* text;
        double expected;
    };
    const Case cases[] = {
        {L"1.5", 1.5},      {L"  -0.25xyz", -0.25},
        {L"60", 60.0},      {L".5", 0.5},
        {L"5.", 5.0},       {L"1e3", 1000.0},
        {L"2.5E-2", 0.025}, {L"3e", 3.0},
        {L"3e+", 3.0},      {L"1,5", 1.0},
        {L"abc", 0.0},      {L"", 0.0},
        {L".", 0.0},        {L"-", 0.0},
        {L"inf", 0.0},      {L"nan", 0.0},
        {L"0x1p3", 0.0},    {L"+7.25", 7.25},
        {L"1e-400", 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "text '" << std::string(c.text, c.text + wcslen(c.text)) << "'");
        EXPECT_DOUBLE_EQ(ParseDouble(c.text), c.expected);
    }
    EXPECT_TRUE(std::isinf(ParseDouble(L"1e999")));
    EXPECT_GT(ParseDouble(L"1e999"), 0);
}

TEST(FormatNumbers, MatchPrintfInTheCLocale) {
    EXPECT_EQ(FormatFixed(12.345, 3), L"12.345");
    EXPECT_EQ(FormatFixed(2.5, 0), L"2");  // round half to even, as printf
    EXPECT_EQ(FormatFixed(-0.0004, 3), L"-0.000");
    EXPECT_EQ(FormatFixed(1.0, -1), L"1.000000");
    EXPECT_EQ(FormatFixed(1e300, 2).size(), 304u);
    EXPECT_EQ(FormatG15(0.1), L"0.1");
    EXPECT_EQ(FormatG15(100000.0), L"100000");
    EXPECT_EQ(FormatG15(1e20), L"1e+20");
    EXPECT_EQ(FormatG15(1.0 / 3.0), L"0.333333333333333");
    EXPECT_EQ(FormatInt(-663), L"-663");
}

// A German desktop uses "," as the decimal point; the station must not.
TEST(FormatNumbers, IgnoreACommaLocale) {
    karvelo::testing::TempDir dir;
    const std::string out = dir.file("de_DE.UTF-8");
    const std::string cmd = "localedef -i de_DE -f UTF-8 '" + out + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 && !std::filesystem::exists(out)) {
        GTEST_SKIP() << "localedef cannot build a German locale here";
    }
    const char* oldLocpath = std::getenv("LOCPATH");
    setenv("LOCPATH", dir.path().c_str(), 1);
    const std::string previous = setlocale(LC_ALL, nullptr);
    ASSERT_NE(setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char probe[32];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5") << "the locale did not take effect";

    EXPECT_EQ(FormatFixed(12.345, 3), L"12.345");
    EXPECT_EQ(FormatG15(0.5), L"0.5");
    EXPECT_DOUBLE_EQ(ParseDouble(L"12.345"), 12.345);
    EXPECT_DOUBLE_EQ(ParseDouble(L"12,345"), 12.0);

    setlocale(LC_ALL, previous.c_str());
    if (oldLocpath)
        setenv("LOCPATH", oldLocpath, 1);
    else
        unsetenv("LOCPATH");
}

}  // namespace
}  // namespace karvelo::platform
