#include "agent/IconText.h"

#include <gtest/gtest.h>

TEST(IconText, FileAndIndex)
{
    const IconSource plain = ParseIconText("C:\\Tools\\tool.exe");
    EXPECT_EQ(plain.file, "C:\\Tools\\tool.exe");
    EXPECT_EQ(plain.index, 0);
    const IconSource indexed = ParseIconText("C:\\Tools\\tool.exe,2");
    EXPECT_EQ(indexed.file, "C:\\Tools\\tool.exe");
    EXPECT_EQ(indexed.index, 2);
    const IconSource quoted = ParseIconText(" \"C:\\Program Files\\tool.exe\",-105 ");
    EXPECT_EQ(quoted.file, "C:\\Program Files\\tool.exe");
    EXPECT_EQ(quoted.index, -105);
}

TEST(IconText, TrimsControlCharactersBangsAndQuotesButNotHighBytes)
{
    EXPECT_EQ(TrimIconText("\t!\"C:\\a.exe\"!\r\n"), "C:\\a.exe");
    EXPECT_EQ(TrimIconText("\xE9t\xE9.exe\xA0"), "\xE9t\xE9.exe\xA0");
    EXPECT_EQ(TrimIconText("\"\" !"), "");
}

TEST(IconText, IndexThatIsNotANumberIsZero)
{
    EXPECT_EQ(ParseIconText("a.exe,x").index, 0);
    EXPECT_EQ(ParseIconText("a.exe,2\"").index, 0);
    EXPECT_EQ(ParseIconText("a.exe,").index, 0);
    EXPECT_EQ(ParseIconText("C:\\My,Dir\\a.exe").file, "C:\\My");
}

TEST(IconText, CaptionWithoutExtension)
{
    EXPECT_EQ(WithoutExtension("Setup.exe"), "Setup");
    EXPECT_EQ(WithoutExtension("Setup"), "Setup");
    EXPECT_EQ(WithoutExtension("My.Tool v1.2.lnk"), "My.Tool v1.2");
    EXPECT_EQ(WithoutExtension("Dir.d\\Name"), "Dir.d\\Name");
    EXPECT_EQ(WithoutExtension(".hidden"), "");
}
