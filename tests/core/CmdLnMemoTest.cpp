#include "core/CmdLnMemo.h"

#include "CmdLnCorpus.h"
#include "MemoryCmdLnSystem.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kRoot = "C:\\KdCorpus";

// Counts what reaches the system behind the memo.
class CountingSystem : public MemoryCmdLnSystem {
public:
    using MemoryCmdLnSystem::MemoryCmdLnSystem;
    bool Exists(const std::string& path) const override
    {
        ++exists;
        return MemoryCmdLnSystem::Exists(path);
    }
    mutable int exists = 0;
};

} // namespace

// Every corpus line reads the same through the memo; a second round asks
// the system nothing.
TEST(CmdLnMemo, AnswersAsTheSystemDoesAndAsksEachQuestionOnce)
{
    MemoryCmdLnSystem plain("C:\\Work");
    FillCorpusSystem(plain, kRoot);
    CountingSystem sys("C:\\Work");
    FillCorpusSystem(sys, kRoot);
    const MemoCmdLnSystem memo(sys);
    for (int round = 0; round < 2; ++round) {
        for (const CmdLnCase& row : CommandLineCorpus()) {
            SCOPED_TRACE(std::string(row.kind) + ": " + row.line);
            EXPECT_EQ(CheckCorpusRow(memo, row, kRoot), "");
            const std::string line = WithRoot(row.line, kRoot);
            EXPECT_EQ(ExtractProgramFile(memo, line), ExtractProgramFile(plain, line));
            EXPECT_EQ(NormalizeCommandLine(memo, line), NormalizeCommandLine(plain, line));
        }
        if (round == 0) {
            EXPECT_GT(sys.exists, 0);
            sys.exists = 0;
        }
    }
    EXPECT_EQ(sys.exists, 0) << "a line seen before costs no question";
}

// Below a folder that is not there nothing is asked; steps by dots, share
// roots and relative names are always asked, since the system resolves them.
TEST(CmdLnMemo, AsksNothingBelowAMissingFolderButResolvesDotsSharesAndRelativeNames)
{
    CountingSystem sys("C:\\Work");
    sys.AddFile("C:\\Tools\\app.exe");
    sys.AddFile("C:\\Work\\local.exe");
    const MemoCmdLnSystem memo(sys);
    EXPECT_FALSE(memo.Exists("C:\\Missing\\Deep\\app.exe"));
    EXPECT_FALSE(memo.Exists("C:\\Missing\\Deep\\other.exe"));
    EXPECT_FALSE(memo.Exists("C:\\Missing\\third.exe"));
    EXPECT_EQ(sys.exists, 1) << "one question, about C:\\Missing";
    EXPECT_TRUE(memo.Exists("C:\\Tools\\app.exe"));
    const int atProgram = sys.exists;
    for (const char* arguments : {" /x/y", " /c a", " /c b"})
        EXPECT_FALSE(memo.Exists(std::string("C:\\Tools\\app.exe") + arguments)) << arguments;
    EXPECT_EQ(sys.exists, atProgram) << "nothing is asked below a part that ends in a blank";
    EXPECT_EQ(memo.Exists("C:\\Tools\\app.exe "), sys.Exists("C:\\Tools\\app.exe ")) << "a blank ending the path";
    EXPECT_EQ(memo.Exists("C:\\Missing\\..\\Tools\\app.exe"), sys.Exists("C:\\Missing\\..\\Tools\\app.exe"));
    EXPECT_TRUE(memo.Exists("local.exe"));
    const int before = sys.exists;
    memo.Exists("\\\\server\\share\\app.exe");
    EXPECT_EQ(sys.exists, before + 1) << "a share's root is no folder a search finds";
    for (const char* odd : {"", "C:", "C:\\", "C:\\\\", "\\", "C:/x", "C:\\x\\", "C:\\ .\\x", "C:\\*\\x"})
        EXPECT_EQ(memo.Exists(odd), sys.Exists(odd)) << odd;
}
