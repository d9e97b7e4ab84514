#include "agent/ProgramNotice.h"

#include "core/Utf8.h"

#include <gtest/gtest.h>

TEST(ProgramNotice, OneProgramIsNamedManyAreCountedAndNoTextOutgrowsTheBalloon)
{
    EXPECT_TRUE(NoticeBalloon({}).title.empty());
    const TNewProgram tool{"Tool", "Current User - Registry Run key", "C:\\Tools\\tool.exe", "Example Ltd",
                           "not signed"};
    const TNoticeText one = NoticeBalloon({tool});
    EXPECT_EQ(one.title, "New startup program: Tool");
    EXPECT_EQ(one.text, "Current User - Registry Run key\r\nExample Ltd\r\nnot signed");
    EXPECT_EQ(NoticeLogLine(tool), "New startup program \"Tool\" taken over from Current User - Registry Run key: "
                                   "C:\\Tools\\tool.exe, Example Ltd, not signed.");
    const TNewProgram unknown{"X", "c", "", "", "program file not found"};
    EXPECT_NE(NoticeLogLine(unknown).find("program file unknown, unknown publisher"), std::string::npos);

    std::vector<TNewProgram> many;
    for (int i = 0; i < 200; ++i)
        many.push_back({"P" + std::to_string(i), "c", "", "", ""});
    const TNoticeText summary = NoticeBalloon(many);
    EXPECT_EQ(summary.title, "200 new startup programs");
    EXPECT_EQ(summary.text, "Taken over: P0, P1, P2 and 197 more. The agent's log names each one.");

    // Names in any script, far longer than a balloon holds: cut between characters.
    std::string longName;
    for (int i = 0; i < 300; ++i)
        longName += "笔";
    const TNoticeText cut = NoticeBalloon({{longName, longName, "", longName, longName}});
    EXPECT_EQ(Utf8PrefixLength(cut.title, kBalloonTitleMax), cut.title.size());
    EXPECT_EQ(Utf8PrefixLength(cut.text, kBalloonTextMax), cut.text.size());
    EXPECT_EQ(cut.text.substr(cut.text.size() - 3), "...");
    const std::string summaryCut = NoticeBalloon({many[0], {longName, "c", "", "", ""}}).text;
    EXPECT_EQ(Utf8PrefixLength(summaryCut, kBalloonTextMax), summaryCut.size());
}
