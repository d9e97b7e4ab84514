#include "agent/IniDocument.h"

#include <gtest/gtest.h>

TEST(KeyPath, SplitsSectionAndName)
{
    const auto key = SplitKeyPath("Common\\ShowBallon");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->section, "Common");
    EXPECT_EQ(key->name, "ShowBallon");
}

TEST(KeyPath, SpellingsOfTheSameKey)
{
    for (const char* path : {"Common\\ ShowBallon", " Common \\ Show Ballon ", "Common/ShowBallon",
                             "Common\\ShowBallon\\", "\\Common\\ShowBallon", "/Common/ShowBallon/"}) {
        const auto key = SplitKeyPath(path);
        ASSERT_TRUE(key) << path;
        EXPECT_EQ(key->section, "Common") << path;
        EXPECT_EQ(key->name, "ShowBallon") << path;
    }
}

TEST(KeyPath, DeeperPathsAndDefaults)
{
    EXPECT_EQ(SplitKeyPath("FormState\\AgentForm\\Left")->name, "AgentForm.Left");
    EXPECT_EQ(SplitKeyPath("A/B\\C/D")->name, "B.C.D");
    const auto alone = SplitKeyPath("Setup");
    EXPECT_EQ(alone->section, "Setup");
    EXPECT_EQ(alone->name, "Default");
}

TEST(KeyPath, EmptyPathsAndSectionsFail)
{
    for (const char* path : {"", "   ", "\\", "/", "\\\\Name", "//", " \\ "})
        EXPECT_FALSE(SplitKeyPath(path)) << '"' << path << '"';
}

TEST(IniDocument, ReadsIgnoringCaseAndBlanks)
{
    const auto doc = IniDocument::Parse("[setup]\r\n showicon = 0 \r\n[Common]\nShowBallon=1");
    EXPECT_EQ(doc.Get("Setup", "ShowIcon"), "0");
    EXPECT_EQ(doc.Get("COMMON", "showballon"), "1");
    EXPECT_FALSE(doc.Get("Setup", "AutoCheck"));
    EXPECT_FALSE(doc.Get("Other", "ShowIcon"));
}

TEST(IniDocument, KeysBeforeAnySectionAndCommentsAreNotValues)
{
    const auto doc = IniDocument::Parse("ShowIcon=5\n[Setup]\n;ShowIcon=7\nShowIcon=1\n");
    EXPECT_EQ(doc.Get("Setup", "ShowIcon"), "1");
}

TEST(IniDocument, ChangesOnlyTheKeyAndKeepsEverythingElse)
{
    const std::string text = "; written by hand\r\n[Setup]\r\nSHOWICON=1\r\nAutoCheck=1\r\n\r\n"
                             "junk line without equals\r\n[Other]\r\nx=y\r\n";
    auto doc = IniDocument::Parse(text);
    ASSERT_TRUE(doc.Set("setup", "ShowIcon", "0"));
    EXPECT_EQ(doc.Text(), "; written by hand\r\n[Setup]\r\nSHOWICON=0\r\nAutoCheck=1\r\n\r\n"
                          "junk line without equals\r\n[Other]\r\nx=y\r\n");
}

TEST(IniDocument, AddsKeysAtTheEndOfTheirSectionAndNewSectionsAtTheEnd)
{
    auto doc = IniDocument::Parse("[Setup]\nAutoCheck=1\n\n[Other]\nx=y");
    ASSERT_TRUE(doc.Set("Setup", "ShowIcon", "1"));
    ASSERT_TRUE(doc.Set("Common", "ShowBallon", "0"));
    EXPECT_EQ(doc.Text(), "[Setup]\r\nAutoCheck=1\r\nShowIcon=1\r\n\r\n[Other]\r\nx=y\r\n\r\n[Common]\r\nShowBallon=0\r\n");
    EXPECT_EQ(IniDocument::Parse(doc.Text()).Get("Common", "ShowBallon"), "0");
}

TEST(IniDocument, RefusesWhatOneLineCannotHold)
{
    auto doc = IniDocument::Parse("[Setup]\nShowIcon=1\n");
    EXPECT_FALSE(doc.Set("Setup", "ShowIcon", "0\r\n[Evil]\r\nx=1"));
    EXPECT_FALSE(doc.Set("Se]tup", "ShowIcon", "0"));
    EXPECT_FALSE(doc.Set("Setup", "Show=Icon", "0"));
    EXPECT_FALSE(doc.Set("Setup", "", "0"));
    EXPECT_FALSE(doc.Set("", "ShowIcon", "0"));
    EXPECT_FALSE(doc.Set("Setup", ";ShowIcon", "0"));
    EXPECT_FALSE(doc.Set("Setup", std::string("Show\0Icon", 9), "0"));
    EXPECT_EQ(doc.Text(), "[Setup]\r\nShowIcon=1\r\n");
}

TEST(IniDocument, BinaryJunkIsKeptAndDoesNotBreakLookups)
{
    const std::string binary("\x01\xff\x80=\x00\x7f[", 7);
    std::string junk = binary + "\r\r\n[Setup\n]=]\n";
    junk += "[Setup]\nShowIcon=0\n";
    auto doc = IniDocument::Parse(junk);
    EXPECT_EQ(doc.Get("Setup", "ShowIcon"), "0");
    ASSERT_TRUE(doc.Set("Setup", "ShowIcon", "1"));
    EXPECT_NE(doc.Text().find(binary), std::string::npos);
}

TEST(IniInteger, DecimalHexAndRubbish)
{
    std::int32_t v = 7;
    EXPECT_TRUE(ParseIniInteger(" 42 ", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(ParseIniInteger("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_TRUE(ParseIniInteger("$FFFFFFFF", v));
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(ParseIniInteger("0x10", v));
    EXPECT_EQ(v, 16);
    v = 7;
    for (const char* bad : {"", "-", "1x", "2147483648", "$100000000", "0x", "1 2", "99999999999999999999"})
        EXPECT_FALSE(ParseIniInteger(bad, v)) << bad;
    EXPECT_EQ(v, 7);
}
