#include "update/auInfoFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Files = std::vector<std::string>;

TEST(InfoFile, KeysMatchAnyCaseAndValuesKeepTheirs)
{
    const TauInfoFileText info("#VERSION=2.0 Beta\r\n#MoreInfoURL=http://Example.com/New.html\n");
    EXPECT_EQ(info.Value("version"), "2.0 Beta");
    EXPECT_EQ(info.Value("VERSION"), "2.0 Beta");
    EXPECT_EQ(info.Value("moreinfourl"), "http://Example.com/New.html");
    EXPECT_EQ(info.Value("date"), "") << "a missing key is empty";
}

TEST(InfoFile, FirstOccurrenceWinsEvenInsideAnotherValue)
{
    const TauInfoFileText info("#message={see #version=9.9 below}\n#version=1.0\n#version=2.0\n");
    EXPECT_EQ(info.Value("version"), "9.9 below}");
    const TauInfoFileText twice("#date=01/01/2001\n#date=02/02/2002\n");
    EXPECT_EQ(twice.Value("date"), "01/01/2001");
}

TEST(InfoFile, LineValuesEndAtAnyControlCharacterAndKeepBlanks)
{
    EXPECT_EQ(TauInfoFileText("#version=1.2\t# comment").Value("version"), "1.2");
    EXPECT_EQ(TauInfoFileText("#version= 1.2 \r\n").Value("version"), " 1.2 ");
    EXPECT_EQ(TauInfoFileText(std::string("#version=1.2\0rest", 17)).Value("version"), "1.2");
    EXPECT_EQ(TauInfoFileText("#version=1\x1f""2").Value("version"), "1");
    EXPECT_EQ(TauInfoFileText("#version=\x7f\xe9t\xe9").Value("version"), "\x7f\xe9t\xe9") << "only codes below 32 end it";
    EXPECT_EQ(TauInfoFileText("x#version=3.1").Value("version"), "3.1") << "runs to the end of the text";
    EXPECT_EQ(TauInfoFileText("#version=").Value("version"), "");
    EXPECT_EQ(TauInfoFileText("#version").Value("version"), "");
    EXPECT_EQ(TauInfoFileText("# version=1").Value("version"), "");
}

TEST(InfoFile, BlockValues)
{
    const TauInfoFileText info("#message={Line one\r\nLine <b>two</b>}}\r\n#version=2");
    EXPECT_EQ(info.Block("message"), "Line one\r\nLine <b>two</b>");
    EXPECT_EQ(TauInfoFileText("#MESSAGE={no end\r\n#version=2\r\n").Block("message"), "no end\r\n#version=2\r\n");
    EXPECT_EQ(TauInfoFileText("#message={}").Block("message"), "");
    EXPECT_EQ(TauInfoFileText("#message={").Block("message"), "");
    EXPECT_EQ(TauInfoFileText("#message=").Block("message"), "") << "never reads past the text";
    EXPECT_EQ(TauInfoFileText("#message=plain").Block("message"), "");
    EXPECT_EQ(TauInfoFileText("").Block("message"), "");
}

TEST(InfoFile, UrlNumberingRule)
{
    EXPECT_EQ(TauInfoFileText("").FileList(), Files{});
    EXPECT_EQ(TauInfoFileText("#url=a").FileList(), Files{"a"});
    EXPECT_EQ(TauInfoFileText("#url0=z").FileList(), Files{"z"});
    EXPECT_EQ(TauInfoFileText("#url=a\n#url0=z").FileList(), (Files{"a", "z"}));
    EXPECT_EQ(TauInfoFileText("#url=a\n#url1=b\n#url2=c\n").FileList(), (Files{"a", "c"})) << "url1 is never read";
    EXPECT_EQ(TauInfoFileText("#url2=c").FileList(), Files{}) << "only url2: no files";
    EXPECT_EQ(TauInfoFileText("#url1=b\n#url2=c\n#url4=e").FileList(), (Files{"b", "c"})) << "stops at the gap";
    EXPECT_EQ(TauInfoFileText("#url=a\n#url0=z\n#url2=c\n#url3=d\n#url4=e").FileList(), (Files{"a", "z", "d", "e"}));
    EXPECT_EQ(TauInfoFileText("#url=a\n#url0=\n#url2=c").FileList(), (Files{"a", "c"})) << "an empty url0 adds nothing";
    EXPECT_EQ(TauInfoFileText("#URL1=B\n#url1=b\n#url02=x").FileList(), Files{"B"}) << "url02 is not url2";
    EXPECT_EQ(TauInfoFileText("#url1=#url2=c").FileList(), (Files{"#url2=c", "c"}));
    EXPECT_EQ(TauInfoFileText("#url1=").FileList(), Files{});
}

TEST(InfoFile, ManyNumberedFilesAreAllRead)
{
    std::string text = "#url=first\n";
    for (int n = 2; n <= 5000; ++n)
        text += "#url" + std::to_string(n) + "=f" + std::to_string(n) + "\n";
    const Files files = TauInfoFileText(text).FileList();
    ASSERT_EQ(files.size(), 5000u);
    EXPECT_EQ(files.back(), "f5000");
}

TEST(InfoFile, MethodFromItsFirstCharacter)
{
    EXPECT_EQ(TauInfoFileText("").Method(), umSelfUpgrade);
    EXPECT_EQ(TauInfoFileText("#method=").Method(), umSelfUpgrade);
    EXPECT_EQ(TauInfoFileText("#method=0").Method(), umSelfUpgrade);
    EXPECT_EQ(TauInfoFileText("#method=1").Method(), umUseExternalSetup);
    EXPECT_EQ(TauInfoFileText("#METHOD=2 redirect").Method(), umRedirectToURL);
    EXPECT_EQ(TauInfoFileText("#method=21").Method(), umRedirectToURL);
    EXPECT_EQ(TauInfoFileText("#method= 1").Method(), umSelfUpgrade);
}

TEST(InfoFile, HugeBinaryAndEmptyTextsReadWithinTheCap)
{
    std::string huge(TauInfoFileText::Limit - 4, 'x');
    huge += "#url=cut\n";
    EXPECT_EQ(TauInfoFileText(huge).Value("url"), "") << "the key starts inside the cap but ends outside";
    std::string inside = "#url=kept\n" + std::string(TauInfoFileText::Limit, '#');
    EXPECT_TRUE(TauInfoFileText(inside).FileList() == Files{"kept"});

    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary += static_cast<char>((i * 7919) % 256);
    binary += "#VERSION=\xff\xfe";
    const TauInfoFileText info(binary);
    EXPECT_EQ(info.Value("version"), "\xff\xfe");
    EXPECT_EQ(TauInfoFileText("").Value("version"), "");
    EXPECT_EQ(TauInfoFileText("#").Value(""), "") << "\"#=\" is not in the text";
}

}  // namespace
