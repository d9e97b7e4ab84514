#include "core/CmdLnUtils.h"

#include "CmdLnCorpus.h"
#include "MemoryCmdLnSystem.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kRoot = "C:\\KdCorpus";

class CmdLnTest : public ::testing::Test {
protected:
    CmdLnTest() : sys_("C:\\Work") { FillCorpusSystem(sys_, kRoot); }

    std::string R(std::string_view text) const { return WithRoot(text, kRoot); }

    MemoryCmdLnSystem sys_;
};

TEST_F(CmdLnTest, CorpusSplitsIntoProgramAndArguments)
{
    for (const CmdLnCase& row : CommandLineCorpus()) {
        SCOPED_TRACE(std::string(row.kind) + ": " + row.line);
        EXPECT_EQ(CheckCorpusRow(sys_, row, kRoot), "");
    }
}

TEST_F(CmdLnTest, CleanPathKeepsUncPrefix)
{
    EXPECT_EQ(CleanPath(sys_, R"(\\server\share\x.exe)"), R"(\\server\share\x.exe)");
    EXPECT_EQ(CleanPath(sys_, R"( "\\server\\share\\\x.exe" )"), R"(\\server\share\x.exe)");
    EXPECT_EQ(CleanPath(sys_, R"(\\\\server\share\)"), R"(\\server\share)");
    EXPECT_EQ(CleanPath(sys_, R"(\\?\C:\x.exe)"), R"(\\?\C:\x.exe)");
    EXPECT_EQ(CleanPath(sys_, R"(\\)"), "");
}

TEST_F(CmdLnTest, CleanPathExpandsDropsCommasAndTrims)
{
    EXPECT_EQ(CleanPath(sys_, R"(%KDROOT%\Tools\tool.exe)"), R(R"({R}\Tools\tool.exe)"));
    EXPECT_EQ(CleanPath(sys_, R"(C:\a,b\x.exe,)"), R"(C:\ab\x.exe)");
    EXPECT_EQ(CleanPath(sys_, R"(\C:\\Tools\\\tool.exe\)"), R"(C:\Tools\tool.exe)");
    EXPECT_EQ(CleanPath(sys_, R"(""C:\x y\z.exe"")"), R"(C:\x y\z.exe)");
    EXPECT_EQ(CleanPath(sys_, " \t C:\\x.exe \r\n"), R"(C:\x.exe)");
    EXPECT_EQ(CleanPath(sys_, R"( "C:\x y\z.exe" )"), R"(C:\x y\z.exe)");
}

TEST_F(CmdLnTest, ResolveProgramPathAddsExeAndFullPath)
{
    EXPECT_EQ(ResolveProgramPath(sys_, R(R"({R}\Tools\tool)")), R(R"({R}\Tools\tool.exe)"));
    sys_.AddFile(R"(C:\Work\Sub\local.exe)");
    EXPECT_EQ(ResolveProgramPath(sys_, R"(Sub\local)"), R"(C:\Work\Sub\local.exe)");
    EXPECT_EQ(ResolveProgramPath(sys_, R"(C:\Tools\absent)"), "");
    EXPECT_EQ(ResolveProgramPath(sys_, "  "), "");
}

TEST_F(CmdLnTest, ResolveProgramPathSearchesPathForLibrariesOnly)
{
    sys_.AddFile(R"(C:\Lib Dir\kdlib.dll)");
    sys_.AddFile(R"(C:\Lib Dir\kddoc.txt)");
    sys_.SetEnv("PATH", R"(C:\Elsewhere;"C:\Lib Dir")");
    EXPECT_EQ(ResolveProgramPath(sys_, "kdlib.dll"), R"(C:\Lib Dir\kdlib.dll)");
    EXPECT_EQ(ResolveProgramPath(sys_, "KDLIB.DLL"), R"(C:\Lib Dir\KDLIB.DLL)");
    EXPECT_EQ(ResolveProgramPath(sys_, "kddoc.txt"), "");

    sys_.SetEnv("PATH", R"(C:\Elsewhere;;C:\Lib Dir)");
    EXPECT_EQ(ResolveProgramPath(sys_, "kdlib.dll"), "") << "an empty element ends the search";
    sys_.SetEnv("PATH", "");
    EXPECT_EQ(ResolveProgramPath(sys_, "kdlib.dll"), "");
}

TEST_F(CmdLnTest, FindProgramEndReportsPositions)
{
    const std::string unquoted = R(R"({R}\Program Files\Tool\tool.exe /quiet)");
    EXPECT_EQ(FindProgramEnd(sys_, unquoted), static_cast<int>(unquoted.find(" /quiet")) + 1);

    const std::string whole = R(R"({R}\Program Files\Tool\tool.exe)");
    EXPECT_EQ(FindProgramEnd(sys_, whole), static_cast<int>(whole.size()));

    const std::string quoted = R(R"("{R}\Program Files\Tool\tool.exe" -x)");
    EXPECT_EQ(FindProgramEnd(sys_, quoted), static_cast<int>(quoted.find("\" -x")) + 1);

    const std::string noExtension = R(R"({R}\Tools\tool)");
    EXPECT_EQ(FindProgramEnd(sys_, noExtension), static_cast<int>(noExtension.size()) + 1);

    EXPECT_EQ(FindProgramEnd(sys_, "C:\\KdNowhere\\x.exe"), -1);
}

TEST_F(CmdLnTest, PlantedFileAtFirstBlankIsNeverTheProgram)
{
    // Program.exe exists beside "Program Files" in the corpus; so does a
    // folder named like the first word of a path with blanks.
    sys_.AddFolder(R(R"({R}\Program Files\My)"));
    EXPECT_EQ(ExtractProgramPath(sys_, R(R"({R}\Program Files\Tool\tool.exe /quiet)")),
              R(R"({R}\Program Files\Tool\tool.exe)"));
    EXPECT_EQ(ExtractProgramPath(sys_, R(R"({R}\Program Files\Tool\absent.exe /quiet)")), "");
    EXPECT_EQ(ExtractProgramPath(sys_, R(R"({R}\Program Files\My App\absent.exe)")), "");
    EXPECT_EQ(ExtractProgramPath(sys_, R(R"("{R}\Program Files\Tool\absent.exe" /quiet)")), "");
    EXPECT_EQ(NormalizeCommandLine(sys_, R(R"({R}\Program Files\Tool\absent.exe /quiet)")), kNoProgramSentinel);
}

TEST_F(CmdLnTest, ParametersAreKeptWhole)
{
    const std::string arguments = "/list " + std::string(300, 'a') + " /end";
    std::string program;
    std::string parameters;
    ASSERT_TRUE(SplitCommandLine(sys_, R(R"({R}\Tools\tool.exe )") + arguments, program, parameters));
    EXPECT_EQ(parameters, arguments);
}

TEST_F(CmdLnTest, OverlongLinesNameNothing)
{
    const std::string program = R(R"({R}\Tools\tool.exe)");
    const std::string atCap = program + " " + std::string(kMaxCommandLineLength - program.size() - 1, 'a');
    ASSERT_EQ(atCap.size(), kMaxCommandLineLength);
    EXPECT_EQ(ExtractProgramPath(sys_, atCap), program);

    const std::string overCap = atCap + "a";
    EXPECT_EQ(FindProgramEnd(sys_, overCap), -1);
    EXPECT_EQ(ExtractProgramPath(sys_, overCap), "");
    EXPECT_EQ(NormalizeCommandLine(sys_, overCap), kNoProgramSentinel);
    EXPECT_EQ(ExtractProgramFile(sys_, overCap), "ThisFileWillNeverExists.exe");

    sys_.SetEnv("KDLONG", std::string(3000, 'x'));
    EXPECT_EQ(NormalizeCommandLine(sys_, program + " %KDLONG%"), kNoProgramSentinel)
        << "the cap holds for the expanded line too";
}

TEST_F(CmdLnTest, NormalizeQuotesEveryRecognisedFile)
{
    EXPECT_EQ(NormalizeCommandLine(sys_, "rundll32.exe shell32.dll,Control_RunDLL"),
              R"("C:\windows\system32\rundll32.exe" "C:\windows\system32\shell32.dll",Control_RunDLL)");
    EXPECT_EQ(NormalizeCommandLine(sys_, R"(%KDTOOL%\tool.exe -config %KDROOT%\Data\readme.txt)"),
              R(R"("{R}\Program Files\Tool\tool.exe" -config "{R}\Data\readme.txt")"));
    EXPECT_EQ(NormalizeCommandLine(sys_, R(R"(""{R}\Program Files\Tool\tool.exe"" /q)")),
              R(R"("{R}\Program Files\Tool\tool.exe" /q)"));
    EXPECT_EQ(NormalizeCommandLine(sys_, R(R"({R}\Tools\tool.exe)")), R(R"("{R}\Tools\tool.exe")"));
    EXPECT_EQ(NormalizeCommandLine(sys_, "notepad"), R"("C:\windows\system32\notepad.exe")");
}

TEST_F(CmdLnTest, NormalizeReplacesEachMatchWhereItStands)
{
    EXPECT_EQ(NormalizeCommandLine(sys_, "kdtray.exe kdhelper.dll kdpanel.cpl readme.txt"),
              R(R"("{R}\Bin\kdtray.exe" "{R}\Bin\kdhelper.dll" "{R}\Bin\kdpanel.cpl" readme.txt)"));
    // A name inside a longer token stays as it is.
    EXPECT_EQ(NormalizeCommandLine(sys_, R(R"({R}\Tools\tool.exe {R}\Tools\tool.exe.config)")),
              R(R"("{R}\Tools\tool.exe" {R}\Tools\tool.exe.config)"));
}

TEST_F(CmdLnTest, NormalizeGivesSentinelWithoutProgram)
{
    for (const char* line : {"", "   ", "C:\\KdNowhere\\x.exe /s", "\"C:\\KdNowhere\\a b.exe\" x.dll", "a\x01b"})
        EXPECT_EQ(NormalizeCommandLine(sys_, line), kNoProgramSentinel) << line;
}

TEST_F(CmdLnTest, ExtractProgramFileStandsForTheCommand)
{
    EXPECT_EQ(ExtractProgramFile(sys_, "rundll32.exe shell32.dll,Control_RunDLL"),
              R"(C:\windows\system32\shell32.dll)");
    EXPECT_EQ(ExtractProgramFile(sys_, R(R"(RUNDLL32.EXE {R}\Bin\kdhelper.dll,Entry 1)")),
              R(R"({R}\Bin\kdhelper.dll)"));
    EXPECT_EQ(ExtractProgramFile(sys_, "rundll32.exe kdabsent.dll,Run"), R"(C:\windows\system32\rundll32.exe)");
    EXPECT_EQ(ExtractProgramFile(sys_, R(R"(notepad {R}\Data\readme.txt)")), R"(C:\windows\system32\notepad.exe)");
    EXPECT_EQ(ExtractProgramFile(sys_, R(R"("{R}\Links\Tool.lnk" /x)")), R(R"({R}\Links\Tool.lnk)"));
    EXPECT_EQ(ExtractProgramFile(sys_, "C:\\KdNowhere\\nothing.exe"), "ThisFileWillNeverExists.exe");
}

TEST(CmdLnRundll, RecognisedInAnyCase)
{
    EXPECT_TRUE(IsRundllCommand(R"(C:\WINDOWS\system32\rundll32.exe)"));
    EXPECT_TRUE(IsRundllCommand("RunDll"));
    EXPECT_FALSE(IsRundllCommand("run dll"));
    EXPECT_FALSE(IsRundllCommand(""));
}

}  // namespace
