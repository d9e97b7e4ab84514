#include "http/HttpRequest.h"
#include "http/HttpStatus.h"

#include <gtest/gtest.h>

namespace {

TEST(Request, AddressWithoutSchemeIsHttp)
{
    EXPECT_EQ(RequestURL("example.org/info.txt"), "http://example.org/info.txt");
    EXPECT_EQ(RequestURL("https://example.org/"), "https://example.org/");
    EXPECT_EQ(RequestURL("file://C:/x.txt"), "file://C:/x.txt");
    EXPECT_EQ(RequestURL(""), "http://");
}

TEST(Request, HeaderTextAndRange)
{
    EXPECT_EQ(RequestHeaderText({}, 0, 0), "");
    EXPECT_EQ(RequestHeaderText({}, 100, 0), "RANGE: bytes=100-\r\n");
    EXPECT_EQ(RequestHeaderText({}, 100, 199), "RANGE: bytes=100-199\r\n");
    EXPECT_EQ(RequestHeaderText({}, 0, 199), "RANGE: bytes=0-199\r\n");
    EXPECT_EQ(RequestHeaderText({}, 5000000000LL, 0), "RANGE: bytes=5000000000-\r\n");
    EXPECT_EQ(RequestHeaderText({}, -5, 0), "");
    EXPECT_EQ(RequestHeaderText({"X-A: 1", "X-B: 2"}, 7, 0), "X-A: 1\r\nX-B: 2\r\nRANGE: bytes=7-\r\n");
}

TEST(Request, PercentDecodeLeavesBrokenEscapes)
{
    EXPECT_EQ(PercentDecode("us%65r%20name"), "user name");
    EXPECT_EQ(PercentDecode("p%3a%3A"), "p::");
    EXPECT_EQ(PercentDecode("100%"), "100%");
    EXPECT_EQ(PercentDecode("%4"), "%4");
    EXPECT_EQ(PercentDecode("%zz%41"), "%zzA");
    EXPECT_EQ(PercentDecode("%ff").size(), 1u);
}

TEST(StatusTexts, EveryListedCodeAndUnknown)
{
    const std::pair<unsigned long, const char*> expected[] = {
        {10, "Resolving name"}, {11, "Name resolved"},        {20, "Connecting to server"},
        {21, "Connected"},      {30, "Sending Request"},      {31, "Request sent"},
        {40, "Receiving response"}, {41, "Response received"}, {42, "CTL Response received"},
        {43, "Prefetch"},       {50, "Closing connection"},   {51, "Connection closed"},
        {60, "Handle created"}, {70, "Handle closing"},       {100, "Request complete"},
        {110, "Redirect"},      {120, "Intermediate response"}, {200, "State change"},
    };
    for (const auto& [code, text] : expected)
        EXPECT_STREQ(StatusChangeText(code), text) << code;
    for (unsigned long other : {0ul, 12ul, 101ul, 201ul, 0xFFFFFFFFul})
        EXPECT_STREQ(StatusChangeText(other), "Unknown status") << other;
}

TEST(StatusTexts, RedirectTargetStopsAtZeroOrSize)
{
    const char info[] = "http://127.0.0.1/new";
    EXPECT_EQ(RedirectTarget(info, sizeof info), "http://127.0.0.1/new");
    EXPECT_EQ(RedirectTarget(info, 7), "http://");
    EXPECT_EQ(RedirectTarget(nullptr, 10), "");
}

}  // namespace
