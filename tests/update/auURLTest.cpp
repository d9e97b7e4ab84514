#include "update/auURL.h"

#include <gtest/gtest.h>

namespace {

TEST(BrowserAddress, OnlyWebAndFtpAddressesQuoted)
{
    EXPECT_EQ(BrowserAddress("http://example.com/new.html"), "\"http://example.com/new.html\"");
    EXPECT_EQ(BrowserAddress("HTTPS://example.com/"), "\"HTTPS://example.com/\"");
    EXPECT_EQ(BrowserAddress("ftp://example.com/setup.exe"), "\"ftp://example.com/setup.exe\"");
    EXPECT_EQ(BrowserAddress("example.com/new.html"), "\"http://example.com/new.html\"") << "no scheme: http";
    EXPECT_EQ(BrowserAddress("file://c:/windows/system32/calc.exe"), std::nullopt);
    EXPECT_EQ(BrowserAddress("javascript://alert(1)"), std::nullopt);
    EXPECT_EQ(BrowserAddress("c:\\windows\\notepad.exe://x"), std::nullopt);
    EXPECT_EQ(BrowserAddress("http://example.com/\" -new-window \"c:\\x"), std::nullopt) << "a quote";
    EXPECT_EQ(BrowserAddress("http://example.com/\r\nx"), std::nullopt) << "control characters";
    EXPECT_EQ(BrowserAddress(std::string("http://a\0b", 10)), std::nullopt);
    EXPECT_EQ(BrowserAddress("http://"), std::nullopt) << "no address at all";
    EXPECT_EQ(BrowserAddress(""), std::nullopt);
}

TEST(BrowserAddress, HostPart)
{
    EXPECT_EQ(HostOfURL("http://example.com/info.txt"), "example.com");
    EXPECT_EQ(HostOfURL("http://127.0.0.1:8080/info.txt?x=1"), "127.0.0.1");
    EXPECT_EQ(HostOfURL("https://user:pw@host.example:443"), "host.example");
    EXPECT_EQ(HostOfURL("host.example/path"), "host.example");
    EXPECT_EQ(HostOfURL("http://"), "");
    EXPECT_EQ(HostOfURL(""), "");
}

TEST(WebPageAddress, OnlyWebAddressesNamingAHost)
{
    EXPECT_EQ(WebPageAddress("http://example.com/new.html"), "http://example.com/new.html");
    EXPECT_EQ(WebPageAddress("HTTPS://Example.com/New.html?x=1"), "HTTPS://Example.com/New.html?x=1");
    for (const char* bad : {"file:///C:/windows/win.ini", "\\\\host\\share\\page.html", "//host/share",
                            "http://\\\\host\\share", "http:///C:/x", "example.com/new.html", "ftp://example.com/",
                            "javascript:alert(1)", "res://ieframe.dll/", "http://", "http://?x", "http://a b",
                            "http://a\"b", "http://a\r\nb", ""})
        EXPECT_EQ(WebPageAddress(bad), std::nullopt) << bad;
}

}  // namespace
