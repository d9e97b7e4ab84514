#include "core/Format.h"
#include "core/Quote.h"
#include "core/WindowsKind.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

namespace {

WindowsVersionFacts Win9x(unsigned minor, const char* sp, unsigned kernelMinor = 0)
{
    WindowsVersionFacts f;
    f.nt = false;
    f.major = 4;
    f.minor = minor;
    f.servicePack = sp;
    f.kernelMajor = kernelMinor ? 4 : 0;
    f.kernelMinor = kernelMinor;
    return f;
}

WindowsVersionFacts NT(unsigned major, unsigned minor)
{
    WindowsVersionFacts f;
    f.major = major;
    f.minor = minor;
    return f;
}

} // namespace

TEST(WindowsKind, Family9x)
{
    EXPECT_EQ(ClassifyWindows(Win9x(0, "")), wk95);
    EXPECT_EQ(ClassifyWindows(Win9x(0, " B ")), wk95OSR2);
    EXPECT_EQ(ClassifyWindows(Win9x(0, "C")), wk95);
    EXPECT_EQ(ClassifyWindows(Win9x(10, "")), wk98);
    EXPECT_EQ(ClassifyWindows(Win9x(10, " A ")), wk98SE);
    EXPECT_EQ(ClassifyWindows(Win9x(10, "a")), wk98);
    EXPECT_EQ(ClassifyWindows(Win9x(10, "A", 90)), wkME);
    EXPECT_EQ(ClassifyWindows(Win9x(90, "")), wkME);
    EXPECT_EQ(ClassifyWindows(Win9x(91, "")), wkUnknown);
    EXPECT_EQ(ClassifyWindows(Win9x(10, "\xA0" "A")), wk98);  // a high byte is text, not blank
}

TEST(WindowsKind, FamilyNT)
{
    EXPECT_EQ(ClassifyWindows(NT(3, 10)), wkNT31);
    EXPECT_EQ(ClassifyWindows(NT(3, 50)), wkNT35);
    EXPECT_EQ(ClassifyWindows(NT(3, 51)), wkNT351);
    EXPECT_EQ(ClassifyWindows(NT(3, 20)), wkUnknown);
    EXPECT_EQ(ClassifyWindows(NT(4, 0)), wkNT4);
    EXPECT_EQ(ClassifyWindows(NT(4, 7)), wkNT4);
    EXPECT_EQ(ClassifyWindows(NT(5, 0)), wk2000);
    EXPECT_EQ(ClassifyWindows(NT(5, 1)), wkXP);
    EXPECT_EQ(ClassifyWindows(NT(5, 2)), wkUnknown);
    EXPECT_EQ(ClassifyWindows(NT(6, 1)), wkUnknown);
    EXPECT_EQ(ClassifyWindows(NT(10, 0)), wkUnknown);
}

TEST(QuoteText, AddsOnlyMissingQuotes)
{
    EXPECT_EQ(QuoteText("", '"'), "");
    EXPECT_EQ(QuoteText("C:\\a b\\x.exe", '"'), "\"C:\\a b\\x.exe\"");
    EXPECT_EQ(QuoteText("\"C:\\x.exe", '"'), "\"C:\\x.exe");
    EXPECT_EQ(QuoteText("x.exe\"", '"'), "\"x.exe\"");
    EXPECT_EQ(QuoteText("\"", '"'), "\"");
}

TEST(FormatText, FillsPlaceholdersLiterally)
{
    EXPECT_EQ(FormatText("a:\"%s\" b:\"%s\"", {"x", "y"}), "a:\"x\" b:\"y\"");
    EXPECT_EQ(FormatText("%s", {"100%s"}), "100%s");
    EXPECT_EQ(FormatText("%s %s", {"only"}), "only ");
    EXPECT_EQ(FormatText("50%", {}), "50%");
}

TEST(FormatText, PaddedNumbersMatchTheCLibrarysFormat)
{
    const long long values[] = {0, 7, -7, 42, 2026, -123456, LLONG_MAX, LLONG_MIN};
    for (const long long value : values)
        for (const int width : {0, 1, 2, 4, 8, 25}) {
            char decimal[64], hex[64];
            std::snprintf(decimal, sizeof decimal, "%0*lld", width, value);
            std::snprintf(hex, sizeof hex, "%0*llX", width, static_cast<unsigned long long>(value));
            EXPECT_EQ(PaddedDecimal(value, static_cast<std::size_t>(width)), decimal) << value << " " << width;
            EXPECT_EQ(PaddedHex(static_cast<unsigned long long>(value), static_cast<std::size_t>(width)), hex);
        }
}
