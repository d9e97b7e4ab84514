#include "http/HttpDate.h"

#include <gtest/gtest.h>

namespace {

const OleDate Nov6 = OleDateFromParts(1994, 11, 6, 8, 49, 37);

double Utc(const char* text)
{
    return HTTPDateToLocal(text, /*biasMinutes=*/0);
}

TEST(HTTPDate, ReadsEveryFormServersSend)
{
    EXPECT_EQ(Utc("Sun, 06 Nov 1994 08:49:37 GMT"), Nov6);
    EXPECT_EQ(Utc("Sunday, 06-Nov-94 08:49:37 GMT"), Nov6);
    EXPECT_EQ(Utc("Sun Nov  6 08:49:37 1994"), Nov6);
    EXPECT_EQ(Utc("06 Nov 1994 08:49:37 GMT"), Nov6);
    EXPECT_EQ(Utc("Nov 6 08:49:37 1994"), Nov6);
    EXPECT_EQ(Utc("  sun, 06 nov 1994 08:49:37 gmt  "), Nov6);
    EXPECT_EQ(Utc("Sun, 06 Nov 1994 08:49:37 UTC"), Nov6);
    EXPECT_EQ(Utc("Sun, 06 Nov 1994"), OleDateFromParts(1994, 11, 6));
}

TEST(HTTPDate, TwoDigitYearsPivotAtEighty)
{
    EXPECT_EQ(Utc("Mon, 01-Jan-79 00:00:00 GMT"), OleDateFromParts(2079, 1, 1));
    EXPECT_EQ(Utc("Tue, 01-Jan-80 00:00:00 GMT"), OleDateFromParts(1980, 1, 1));
    EXPECT_EQ(Utc("Fri, 31-Dec-99 23:59:59 GMT"), OleDateFromParts(1999, 12, 31, 23, 59, 59));
    EXPECT_EQ(Utc("Sat, 01-Jan-00 00:00:00 GMT"), OleDateFromParts(2000, 1, 1));
    EXPECT_EQ(Utc("Sun, 06 Nov 0 08:49:37 GMT"), OleDateFromParts(2000, 11, 6, 8, 49, 37));
}

TEST(HTTPDate, NumericOffsetsAreTakenBackToUtc)
{
    EXPECT_EQ(Utc("Sun, 06 Nov 1994 10:49:37 +0200"), Nov6);
    EXPECT_EQ(Utc("Sun, 06 Nov 1994 03:19:37 -0530"), Nov6);
    EXPECT_EQ(Utc("Mon, 01 Jan 2001 01:00:00 +0200"), OleDateFromParts(2000, 12, 31, 23, 0, 0));
    EXPECT_EQ(Utc("Sun, 06 Nov 1994 08:49:37 +02"), Nov6) << "too short for an offset: a zone name";
    EXPECT_EQ(Utc("Sun, 06 Nov 1994 08:49:37 +020"), Nov6);
    EXPECT_EQ(Utc("Sun, 06 Nov 1994 08:49:37 +02x0"), 0.0);
    EXPECT_EQ(Utc("Sun, 06 Nov 1994 08:49:37 +02:00"), 0.0);
}

TEST(HTTPDate, LocalTimeAppliesTheBias)
{
    // Central Europe: bias -60, so local time is one hour ahead of UTC.
    EXPECT_EQ(HTTPDateToLocal("Sun, 06 Nov 1994 08:49:37 GMT", -60), OleDateFromParts(1994, 11, 6, 9, 49, 37));
    EXPECT_EQ(HTTPDateToLocal("Sun, 06 Nov 1994 00:30:00 GMT", 300), OleDateFromParts(1994, 11, 5, 19, 30, 0));
}

TEST(HTTPDate, AnythingElseGivesZero)
{
    for (const char* bad : {"", "   ", "Sun", "Sun,", "garbage", "Sun, 32 Nov 1994 08:49:37 GMT",
                            "Sun, 29 Feb 1995 00:00:00 GMT", "Sun, 06 Foo 1994 08:49:37 GMT",
                            "Sun, 06 Nov 1994 24:00:00 GMT", "Sun, 06 Nov 1994 08:60:00 GMT",
                            "Sun, 06 Nov 1994 08:49 GMT", "Sun, 06 Nov", "Sun, Nov Nov 1994",
                            "Sun, 06 November 1994 08:49:37 GMT", "Sun, 06 Nov 99999 08:49:37 GMT",
                            "Sun, 00 Nov 1994 08:49:37 GMT",
                            "Sun, 99999999999999999999 Nov 1994", "Sun, 06 Nov 1994 08:49:37 +99zz"}) {
        EXPECT_EQ(Utc(bad), 0.0) << bad;
    }
    EXPECT_EQ(Utc("Tue, 29 Feb 2000 12:00:00 GMT"), OleDateFromParts(2000, 2, 29, 12, 0, 0));
}

TEST(OleDates, CountDaysFromTheEndOf1899)
{
    EXPECT_EQ(OleDateFromParts(1899, 12, 30), 0.0);
    EXPECT_EQ(OleDateFromParts(1900, 1, 1, 12, 0, 0), 2.5);
    EXPECT_EQ(OleDateFromParts(1899, 12, 29, 6, 0, 0), -1.25);
    EXPECT_EQ(OleDateFromParts(2000, 1, 1), 36526.0);
    EXPECT_EQ(OleDateFromParts(2001, 2, 29), 0.0);
}

}  // namespace
