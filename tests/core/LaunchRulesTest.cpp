#include "core/LaunchRules.h"

#include "core/MemoryCmdLnSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

TEST(LaunchRules, AnUnquotedPathWithABlankIsNeverTriedAsItStands)
{
    MemoryCmdLnSystem sys("C:\\Work");
    sys.AddFile("C:\\Program Files\\Tool\\tool.exe");
    sys.AddFile("C:\\Tools\\run.exe");
    sys.AddFile("C:\\Program.exe");

    const std::string planted = "C:\\Program Files\\Tool\\tool.exe /x";
    EXPECT_FALSE(IsSafeSpelling(sys, planted));
    std::string program;
    std::string parameters;
    ASSERT_TRUE(SplitCommandLine(sys, planted, program, parameters));
    EXPECT_EQ(LaunchCandidates(sys, planted, program, parameters),
              std::vector<std::string>{"\"C:\\Program Files\\Tool\\tool.exe\" /x"});

    EXPECT_TRUE(IsSafeSpelling(sys, "\"C:\\Program Files\\Tool\\tool.exe\" /x"));
    EXPECT_EQ(LaunchCandidates(sys, "  C:\\Tools\\run.exe -a  ", "C:\\Tools\\run.exe", "-a"),
              (std::vector<std::string>{"\"C:\\Tools\\run.exe\" -a", "C:\\Tools\\run.exe -a"}))
        << "the line as given and the unquoted program are the same line: tried once";
    EXPECT_FALSE(IsSafeSpelling(sys, ""));
    EXPECT_FALSE(IsSafeSpelling(sys, "   "));
}

TEST(LaunchRules, AnElevatedCallerNeverHandsItsOwnTokenOn)
{
    using W = TStartWay;
    // elevated, shell token available, same user, shell elevated -> way
    const struct {
        bool elevated, shell, sameUser, shellElevated;
        W way;
    } table[] = {
        {false, false, false, false, W::swAsCaller},       {false, true, true, false, W::swAsCaller},
        {false, true, false, false, W::swAsCaller},        {true, true, true, false, W::swShellToken},
        {true, true, false, false, W::swLoweredOwnToken},  // an administrator's account typed in at the prompt
        {true, false, false, false, W::swLoweredOwnToken}, // no shell, or its token cannot be copied
        {true, false, true, false, W::swLoweredOwnToken},
        {true, true, true, true, W::swLoweredOwnToken},    // UAC off, or the shell started elevated
        {false, true, true, true, W::swAsCaller},
    };
    for (const auto& row : table)
        EXPECT_EQ(ChooseStartWay({row.elevated, row.shell, row.sameUser, row.shellElevated}), row.way)
            << row.elevated << row.shell << row.sameUser << row.shellElevated;
}

TEST(LaunchRules, OpenCommandGetsTheDocumentWhereTheShellPutsIt)
{
    const std::string doc = "C:\\My Docs\\note 1.txt";
    EXPECT_EQ(FillOpenCommand("\"C:\\Tool\\t.exe\" --open \"%1\"", doc), "\"C:\\Tool\\t.exe\" --open \"" + doc + "\"");
    EXPECT_EQ(FillOpenCommand("t.exe \"%L\" %*", doc), "t.exe \"" + doc + "\"");
    EXPECT_EQ(FillOpenCommand("t.exe /p:100%% %2 %9", doc), "t.exe /p:100% \"" + doc + "\"")
        << "no %1: the document goes at the end, quoted";
    EXPECT_EQ(FillOpenCommand("t.exe %1 %1", "a"), "t.exe a a");
    EXPECT_EQ(FillOpenCommand("t.exe %x %", "a"), "t.exe %x % \"a\"") << "unknown forms stay";
    EXPECT_EQ(FillOpenCommand("", doc), "\"" + doc + "\"");
}

TEST(LaunchRules, ShortcutShowStateComesFromItsHeaderAndAnythingElseShowsNormally)
{
    std::string link(0x4C, '\0');
    const unsigned char start[] = {0x4C, 0, 0, 0, 0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    std::copy(std::begin(start), std::end(start), link.begin());
    const auto withShow = [&](unsigned char show) {
        std::string file = link + "rest of the link";
        file[0x3C] = static_cast<char>(show);
        return file;
    };
    EXPECT_EQ(ShortcutShowCommand(withShow(7)), 7);
    EXPECT_EQ(ShortcutShowCommand(withShow(3)), 3);
    EXPECT_EQ(ShortcutShowCommand(withShow(1)), 1);
    EXPECT_EQ(ShortcutShowCommand(withShow(0)), 1) << "hidden is no state of a shortcut";
    EXPECT_EQ(ShortcutShowCommand(withShow(2)), 1);
    std::string high = withShow(7);
    high[0x3D] = 1;
    EXPECT_EQ(ShortcutShowCommand(high), 1) << "all four bytes count";
    EXPECT_EQ(ShortcutShowCommand(withShow(7).substr(0, 0x4B)), 1) << "cut before the header's end";
    std::string otherClass = withShow(7);
    otherClass[5] = 0x15;
    EXPECT_EQ(ShortcutShowCommand(otherClass), 1);
    EXPECT_EQ(ShortcutShowCommand(""), 1);
}
