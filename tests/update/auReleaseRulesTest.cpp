#include "update/auReleaseRules.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr TauUtcTime Now{{2026, 12, 7}, 12, 30, 0};

std::string Failure(const std::string& text, const std::string& product = "Keldora", bool numbered = true)
{
    return SignedReleaseFailure(TauInfoFileText(text), {product, Now, numbered});
}

TEST(ReleaseRules, UtcTimesInTheOneWrittenForm)
{
    EXPECT_EQ(ParseUtcTime("2026-12-07T12:30:00Z"), (TauUtcTime{{2026, 12, 7}, 12, 30, 0}));
    EXPECT_EQ(ParseUtcTime("2024-02-29T23:59:59Z"), (TauUtcTime{{2024, 2, 29}, 23, 59, 59})) << "a leap day";
    EXPECT_EQ(ParseUtcTime("0001-01-01T00:00:00Z"), (TauUtcTime{{1, 1, 1}, 0, 0, 0}));
    EXPECT_EQ(ParseUtcTime("9999-12-31T23:59:59Z"), (TauUtcTime{{9999, 12, 31}, 23, 59, 59}));
    for (const char* bad : {"", " ", "2026-02-30T00:00:00Z", "2025-02-29T00:00:00Z", "2100-02-29T00:00:00Z",
                            "10000-01-01T00:00:00Z", "0000-01-01T00:00:00Z", "2026-13-01T00:00:00Z",
                            "2026-00-10T00:00:00Z", "2026-04-31T00:00:00Z", "2026-12-07T24:00:00Z",
                            "2026-12-07T23:60:00Z", "2026-12-07T23:59:60Z", "2026-12-07t12:30:00z",
                            "2026-12-07T12:30:00z", "2026-12-07 12:30:00Z", " 2026-12-07T12:30:00Z",
                            "2026-12-07T12:30:00Z ", "2026-12-07T12:30:00", "2026-12-07T12:30:00+00:00",
                            "2026-12-07T12:30Z", "2026-1-07T12:30:00Z", "+026-12-07T12:30:00Z",
                            "2026-12-07T12:3-:00Z", "2026/12/07T12:30:00Z", "2026-12-07"})
        EXPECT_EQ(ParseUtcTime(bad), std::nullopt) << '"' << bad << '"';
}

TEST(ReleaseRules, ASignedFileNamesItsProductInAnyCase)
{
    EXPECT_EQ(Failure("#version=2.0\n#product=Keldora\n"), "");
    EXPECT_EQ(Failure("#version=2.0\n#PRODUCT=kELDORA\n"), "") << "key and value in any case";
    EXPECT_EQ(Failure("#version=2.0\n#product=Keldora\n", ""), "") << "nothing expected";
    EXPECT_EQ(Failure("#version=2.0\n", ""), "") << "nothing expected, nothing named";

    EXPECT_NE(Failure("#version=2.0\n").find("names no product"), std::string::npos);
    EXPECT_NE(Failure("#version=2.0\n#product=Keldora Beta\n").find("\"Keldora Beta\", not Keldora"),
              std::string::npos);
    EXPECT_NE(Failure("#version=2.0\n#product=Keldora \n"), "") << "blanks count";
    EXPECT_NE(Failure("#version=2.0\n#product= Keldora\n"), "");
    EXPECT_NE(Failure("#version=2.0\n#product=\n"), "") << "an empty product is no product";
    EXPECT_NE(Failure("#version=2.0\n#product=K\xc3\xa9ldora\n", "K\xc3\x89ldora"), "")
        << "only ASCII letters fold";
}

TEST(ReleaseRules, AnExpiredOrUnreadableExpiryRefusesTheFile)
{
    const std::string head = "#version=2.0\n#product=Keldora\n";
    EXPECT_EQ(Failure(head + "#expires=2026-12-07T12:30:00Z\n"), "") << "valid up to the moment itself";
    EXPECT_EQ(Failure(head + "#expires=2026-12-07T12:30:01Z\n"), "");
    EXPECT_EQ(Failure(head + "#expires=9999-12-31T23:59:59Z\n"), "");
    EXPECT_NE(Failure(head + "#expires=2026-12-07T12:29:59Z\n").find("expired at 2026-12-07T12:29:59Z"),
              std::string::npos);
    EXPECT_NE(Failure(head + "#expires=2001-01-01T00:00:00Z\n"), "");
    for (const char* bad : {"#expires=\n", "#expires= 2030-01-01T00:00:00Z\n", "#expires=2030-02-30T00:00:00Z\n",
                            "#expires=10000-01-01T00:00:00Z\n", "#EXPIRES=2030-01-01t00:00:00z\n",
                            "#expires=tomorrow\n"})
        EXPECT_NE(Failure(head + bad).find("not a time"), std::string::npos) << bad;
    EXPECT_EQ(Failure(head + "#expires=2030-01-01T00:00:00Z\t# a year\n").find("not a time"), std::string::npos)
        << "a line value ends at the tab";
}

TEST(ReleaseRules, ANumberedVersionIsUpToFourDecimalNumbers)
{
    for (const char* good : {"2", "2.0", "1.2.3.4", "01.002", "2147483647.0"}) {
        EXPECT_TRUE(IsPlainVersion(good)) << good;
        EXPECT_EQ(Failure(std::string("#product=Keldora\n#version=") + good + "\n"), "") << good;
    }
    for (const char* bad : {"", "1.2.3.4.5", "1.x", " 1.2", "1.2 ", "1..2", "1.", ".1", "+2", "-1", "2147483648",
                            "99999999999", "1,2", "\xd9\xa1"}) {
        EXPECT_FALSE(IsPlainVersion(bad)) << bad;
        EXPECT_NE(Failure(std::string("#product=Keldora\n#version=") + bad + "\n").find("not up to four"),
                  std::string::npos)
            << bad;
    }
    EXPECT_EQ(Failure("#product=Keldora\n#version=1.x\n", "Keldora", /*numbered=*/false), "")
        << "a release decided by date needs no plain version";
}

TEST(ReleaseRules, ARolloutIsAWholePercentageEveryoneWithoutOne)
{
    EXPECT_EQ(RolloutPercent(TauInfoFileText("#version=2.0\n")), 100);
    for (const auto& [text, percent] : {std::pair{"#rollout=0\n", 0}, {"#ROLLOUT=25\r\n", 25}, {"#rollout=100", 100},
                                        {"#rollout=007\n", 7}, {"#rollout=50\t# half\n", 50}})
        EXPECT_EQ(RolloutPercent(TauInfoFileText(text)), percent) << text;
    for (const char* bad : {"#rollout=\n", "#rollout=101\n", "#rollout=-1\n", "#rollout=+5\n", "#rollout= 5\n",
                            "#rollout=5 \n", "#rollout=0100\n", "#rollout=50%\n", "#rollout=2.5\n"})
        EXPECT_EQ(RolloutPercent(TauInfoFileText(bad)), std::nullopt) << bad;
}

TEST(ReleaseRules, ATransferCameOverHttpsOnlyWhenEveryStepOfItsWayDid)
{
    using Hops = std::vector<std::string>;
    const std::string a = "https://a.example/info.txt", b = "https://b.example/info.txt";
    EXPECT_EQ(TransferSource(a, {}, a), a);
    EXPECT_EQ(TransferSource(a, Hops{b}, b), b);
    EXPECT_EQ(TransferSource("http://a.example/info.txt", Hops{b}, b), "http://a.example/info.txt")
        << "the first request was open to anyone on the way";
    EXPECT_EQ(TransferSource(a, Hops{"http://c.example/x", b}, b), "http://c.example/x") << "a hop in between";
    EXPECT_EQ(TransferSource(a, Hops{"http://c.example/x"}, "http://c.example/x"), "http://c.example/x");
    EXPECT_EQ(TransferSource(a, {}, ""), "") << "a final address not known";
    EXPECT_EQ(TransferSource("file:///C:/info.txt", {}, ""), "file:///C:/info.txt");
}

TEST(ReleaseRules, WithoutASignatureEverythingComesOverHttps)
{
    const std::vector<std::string> files = {"https://example.com/a.exe", "HTTPS://example.com/b.dll"};
    EXPECT_EQ(UnverifiedReleaseFailure("https://example.com/info.txt", files), "");
    EXPECT_NE(UnverifiedReleaseFailure("http://example.com/info.txt", files).find("did not come over https"),
              std::string::npos);
    EXPECT_NE(UnverifiedReleaseFailure("", files), "") << "a source not known";
    EXPECT_NE(UnverifiedReleaseFailure("https://example.com/info.txt", {files[0], "http://example.com/c.dat"})
                  .find("http://example.com/c.dat is not an https address"),
              std::string::npos);
    for (const char* bad : {"file:///C:/a.exe", "https://", "https:/example.com/a.exe", "\\\\host\\share\\a.exe",
                            " https://example.com/a.exe"})
        EXPECT_NE(UnverifiedReleaseFailure("https://example.com/info.txt", {bad}), "") << bad;
}

}  // namespace
