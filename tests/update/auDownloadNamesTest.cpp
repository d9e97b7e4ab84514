#include "update/auDownloadNames.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

TEST(DownloadNames, LastPartOfTheAddressWithThePendingSuffix)
{
    EXPECT_EQ(PendingNameOfURL("http://host/dl/app.exe"), "app.exe.uTMP");
    EXPECT_EQ(PendingNameOfURL("http://host/a\\b\\lib.dll"), "lib.dll.uTMP");
    EXPECT_EQ(PendingNameOfURL("http://host:8080/x/..\\x.exe"), "x.exe.uTMP") << "only the last part counts";
    EXPECT_EQ(PendingNameOfURL("http://host/C:evil.exe"), "evil.exe.uTMP") << "a drive colon ends the part";
    EXPECT_EQ(PendingNameOfURL("setup.exe"), "setup.exe.uTMP");
    EXPECT_EQ(PendingNameOfURL("http://host/My App+1.txt"), "My App+1.txt.uTMP");
}

TEST(DownloadNames, HostileNamesAreRefused)
{
    for (const char* url : {"http://host/", "http://host/dir/", "http://host/.", "http://host/..", "http://host/a/..",
                            "http://host/get?file=a", "http://host/a?b=c", "http://host/a*b", "http://host/a<b",
                            "http://host/a>b", "http://host/a|b", "http://host/a\"b", "http://host/a\tb",
                            "http://host/name.", "http://host/name ", "http://host/CON", "http://host/con",
                            "http://host/NUL.txt", "http://host/prn", "http://host/aux.dll", "http://host/COM1",
                            "http://host/lpt9.exe", "http://host/x.uTMP", "http://host/x.UTMP", "http://host/x.uBAK",
                            "http://host/update.journal", "http://host/update.journal.new",
                            "http://host/NUL%20.txt", "http://host/COM1%20%20.log", "http://host/CONIN$",
                            "http://host/conout$.txt", "", "http:"}) {
        EXPECT_EQ(PendingNameOfURL(url), std::nullopt) << url;
    }
    for (const char* url : {"http://host/COM0", "http://host/COM10", "http://host/CONFIG", "http://host/nul_x",
                            "http://host/LPT", "http://host/a.uTMP.txt"}) {
        EXPECT_NE(PendingNameOfURL(url), std::nullopt) << url;
    }
}

TEST(DownloadNames, NamesArePercentDecodedAsUtf8)
{
    EXPECT_EQ(PendingNameOfURL("http://host/dl/%E4%BA%A7%E5%93%81%20Setup.exe"), "\u4EA7\u54C1 Setup.exe.uTMP");
    EXPECT_EQ(PendingNameOfURL("http://host/J%c3%b6rg.exe"), "J\u00F6rg.exe.uTMP") << "either case";
    EXPECT_EQ(PendingNameOfURL("http://host/\u041F\u0440\u043E.dll"), "\u041F\u0440\u043E.dll.uTMP")
        << "UTF-8 written as it is";
    EXPECT_EQ(PendingNameOfURL("http://host/100%.txt"), "100%.txt.uTMP") << "a lone percent sign stays";
    EXPECT_EQ(PendingNameOfURL("http://host/a%2541.txt"), "a%41.txt.uTMP") << "decoded once";
    EXPECT_EQ(PendingNameOfURL("http://host/a%4"), "a%4.uTMP");

    for (const char* url : {"http://host/..%2Fevil.exe", "http://host/x%2fy.exe", "http://host/..%5Cevil.exe",
                            "http://host/x%5cy", "http://host/C%3Aevil.exe", "http://host/%2E%2E", "http://host/%2e",
                            "http://host/a%00.exe", "http://host/a%0D%0A.exe", "http://host/name%20",
                            "http://host/name%2E", "http://host/%43ON", "http://host/COM%C2%B9",
                            "http://host/lpt%C2%B3.txt", "http://host/x.%75TMP", "http://host/bad%E9.exe",
                            "http://host/bad\xE9.exe", "http://host/%C0%AF.exe", "http://host/%E4%BA.exe",
                            "http://host/%ED%A0%80.exe", "http://host/%F4%90%80%80.exe", "http://host/a%3F.exe",
                            "http://host/a%2A.exe", "http://host/%22q%22", "http://host/a%3Cb%3E",
                            "http://host/a%7Cb"}) {
        EXPECT_EQ(PendingNameOfURL(url), std::nullopt) << url;
    }
    EXPECT_NE(PendingNameOfURL("http://host/COM%C2%B9x"), std::nullopt) << "only the device itself";
    EXPECT_NE(PendingNameOfURL("http://host/%EF%BB%BFname"), std::nullopt) << "a byte-order mark is a character";
}

TEST(DownloadNames, FileTimesInTheStorableRangeInTwoSecondSteps)
{
    const std::uint64_t tick = 10000000;
    const std::uint64_t at1980 = 119600064000000000ull;  // 1980-01-01 00:00:00 since 1601
    EXPECT_EQ(LocalFileTimeOf(OleDateFromParts(1980, 1, 1)), at1980);
    EXPECT_EQ(LocalFileTimeOf(OleDateFromParts(1980, 1, 1, 0, 0, 3)), at1980 + 2 * tick) << "odd seconds go down";
    EXPECT_EQ(LocalFileTimeOf(OleDateFromParts(1994, 11, 6, 8, 49, 37)), 119600064000000000ull +
              static_cast<std::uint64_t>(*SecondsFromParts(1994, 11, 6, 8, 49, 36) -
                                         *SecondsFromParts(1980, 1, 1)) * tick);
    EXPECT_NE(LocalFileTimeOf(OleDateFromParts(2107, 12, 31, 23, 59, 58)), std::nullopt);

    EXPECT_EQ(LocalFileTimeOf(0), std::nullopt) << "no date";
    EXPECT_EQ(LocalFileTimeOf(OleDateFromParts(1979, 12, 31, 23, 59, 59)), std::nullopt);
    EXPECT_EQ(LocalFileTimeOf(OleDateFromParts(2108, 1, 1)), std::nullopt) << "skipped, never wrapped";
    EXPECT_EQ(LocalFileTimeOf(OleDateFromParts(9999, 12, 31)), std::nullopt);
    EXPECT_EQ(LocalFileTimeOf(-700000.0), std::nullopt);
    EXPECT_EQ(LocalFileTimeOf(std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(LocalFileTimeOf(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(LocalFileTimeOf(1e300), std::nullopt);
}
