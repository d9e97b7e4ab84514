#include "http/HttpHeaders.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HTTPHeaders, StatusCodeFromLineOrBareCode)
{
    EXPECT_EQ(StatusCodeOf("HTTP/1.1 200 OK"), 200);
    EXPECT_EQ(StatusCodeOf("HTTP/1.0 404"), 404);
    EXPECT_EQ(StatusCodeOf("407"), 407);
    EXPECT_EQ(StatusCodeOf("HTTP/1.1 abc OK"), 0);
    EXPECT_EQ(StatusCodeOf("HTTP/1.1"), 0);
    EXPECT_EQ(StatusCodeOf("20"), 0);
    EXPECT_EQ(StatusCodeOf("2000"), 0);
    EXPECT_EQ(StatusCodeOf("-20"), 0);
    EXPECT_EQ(StatusCodeOf("HTTP/1.1 001 Odd"), 0);
    EXPECT_EQ(StatusCodeOf(""), 0);
}

TEST(HTTPHeaders, ByteCountsAreCheckedForOverflow)
{
    EXPECT_EQ(ParseByteCount("0"), 0);
    EXPECT_EQ(ParseByteCount(" 268435456 "), 268435456);
    EXPECT_EQ(ParseByteCount("4294967296"), 4294967296LL);
    EXPECT_EQ(ParseByteCount("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ParseByteCount("9223372036854775808"), std::nullopt);
    EXPECT_EQ(ParseByteCount("99999999999999999999999"), std::nullopt);
    for (const char* bad : {"", " ", "-5", "+5", "12abc", "1 2", "0x10", "1.5"})
        EXPECT_EQ(ParseByteCount(bad), std::nullopt) << bad;
}

TEST(HTTPHeaders, ContentRangeForms)
{
    const auto range = ParseContentRange("bytes 100-199/5000");
    ASSERT_TRUE(range);
    EXPECT_EQ(range->first, 100);
    EXPECT_EQ(range->last, 199);
    EXPECT_EQ(range->total, 5000);

    const auto open = ParseContentRange("bytes 0-4999999999/*");
    ASSERT_TRUE(open);
    EXPECT_EQ(open->last, 4999999999LL);
    EXPECT_FALSE(open->total);

    const auto unsatisfied = ParseContentRange("bytes */5000");
    ASSERT_TRUE(unsatisfied);
    EXPECT_FALSE(unsatisfied->first);
    EXPECT_EQ(unsatisfied->total, 5000);

    for (const char* bad : {"", "bytes", "bytes 1-2", "items 1-2/3", "bytes 5-4/10", "bytes 0-10/10",
                            "bytes -1-2/3", "bytes */*", "bytes 1-99999999999999999999/*", "bytes 1-/5"})
        EXPECT_FALSE(ParseContentRange(bad)) << bad;
}

TEST(HTTPHeaders, HeaderValueSkipsStatusLineAndFoldedLines)
{
    const std::string raw = "HTTP/1.1 200 OK\r\n"
                            "content-type:  text/plain \r\n"
                            "X-Folded: a\r\n"
                            " Content-Length: 7\r\n"
                            "Content-Length: 12\r\n"
                            "Content-Type: ignored/second\r\n"
                            "\r\n";
    EXPECT_EQ(HeaderValue(raw, "Content-Type"), "text/plain");
    EXPECT_EQ(ContentLengthOf(raw), 12);
    EXPECT_EQ(HeaderValue(raw, "Location"), std::nullopt);
    EXPECT_EQ(HeaderValue("HTTP/1.1: 5\r\n", "HTTP/1.1"), std::nullopt);
    EXPECT_EQ(HeaderValue("Bare: 1\nOther: 2", "Other"), "2");
}

TEST(HTTPHeaders, InvalidOrConflictingContentLengthCountsAsAbsent)
{
    EXPECT_EQ(ContentLengthOf("HTTP/1.1 200 OK\r\n\r\n"), std::nullopt);
    EXPECT_EQ(ContentLengthOf("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n"), std::nullopt);
    EXPECT_EQ(ContentLengthOf("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n"), std::nullopt);
    EXPECT_EQ(ContentLengthOf("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n"), std::nullopt);
    EXPECT_EQ(ContentLengthOf("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n"), 5);
    EXPECT_EQ(ContentLengthOf("HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\n"), std::nullopt);
}

TEST(HTTPHeaders, RealmIsTheQuotedText)
{
    EXPECT_EQ(RealmOf("Basic realm=\"Updates\""), "Updates");
    EXPECT_EQ(RealmOf("Basic realm=\"Updates\", charset=\"UTF-8\""), "Updates");
    EXPECT_EQ(RealmOf("Basic realm=\"open"), "open");
    EXPECT_EQ(RealmOf("Basic realm=\""), "");
    EXPECT_EQ(RealmOf("Basic realm=plain"), "Basic realm=plain");
    EXPECT_EQ(RealmOf(""), "");
}

// What a resume may name in If-Range: a strong tag first, a date else, never a weak tag.
TEST(HTTPHeaders, RangeValidatorIsAStrongTagElseTheDate)
{
    const std::string date = "Last-Modified: Wed, 09 Dec 2026 15:45:25 GMT\r\n";
    EXPECT_EQ(RangeValidator("HTTP/1.1 200 OK\r\nETag: \"5f2-1a\"\r\n" + date), "\"5f2-1a\"");
    EXPECT_EQ(RangeValidator("HTTP/1.1 200 OK\r\nETag: W/\"5f2\"\r\n" + date), "Wed, 09 Dec 2026 15:45:25 GMT");
    EXPECT_EQ(RangeValidator("HTTP/1.1 200 OK\r\n" + date), "Wed, 09 Dec 2026 15:45:25 GMT");
    EXPECT_EQ(RangeValidator("HTTP/1.1 200 OK\r\nETag: W/\"5f2\"\r\n"), "");
    EXPECT_EQ(RangeValidator("HTTP/1.1 200 OK\r\nLast-Modified: W/\"x\"\r\n"), "");
    EXPECT_EQ(RangeValidator("HTTP/1.1 200 OK\r\n\r\n"), "");
}

}  // namespace
