#include "common/CmdLnSystem.h"

#include "core/CmdLnCorpus.h"
#include "ScratchFolder.h"
#include "core/StrCon.h"
#include "winutil/RegKey.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

const std::string kAppPathKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + std::string(kCorpusAppPathName);

// The corpus files below a scratch root, its variables in the environment and
// its App Paths entry in the registry.
class RealCorpus {
public:
    RealCorpus() : root_("KdCorpus")
    {
        for (const std::string& file : CorpusFiles())
            root_.AddFile(file);
        for (const CorpusEnv& env : CorpusEnvironment())
            env_.push_back(std::make_unique<EnvVarScope>(env.name, WithRoot(env.value, root_.Path())));
        EXPECT_EQ(RegKey::Create(HKEY_LOCAL_MACHINE, kAppPathKey, KEY_WRITE)
                      .WriteString("", WithRoot(kCorpusAppPathTarget, root_.Path())),
                  ERROR_SUCCESS);
    }
    ~RealCorpus() { static_cast<void>(RegKey::DeleteKey(HKEY_LOCAL_MACHINE, kAppPathKey)); }
    RealCorpus(const RealCorpus&) = delete;
    RealCorpus& operator=(const RealCorpus&) = delete;

    const std::string& Root() const { return root_.Path(); }

private:
    ScratchFolder root_;
    std::vector<std::unique_ptr<EnvVarScope>> env_;
};

TEST(CmdLnSystem, CorpusAgainstRealFiles)
{
    RealCorpus corpus;
    for (const CmdLnCase& row : CommandLineCorpus()) {
        if (row.serverPath)
            continue;
        SCOPED_TRACE(std::string(row.kind) + ": " + WithRoot(row.line, corpus.Root()));
        EXPECT_EQ(CheckCorpusRow(SystemCmdLn(), row, corpus.Root()), "");
    }
}

TEST(CmdLnSystem, RundllLineStandsForItsLibrary)
{
    RealCorpus corpus;
    EXPECT_TRUE(SameText(ExtractProgramFile(SystemCmdLn(), "rundll32.exe shell32.dll,Control_RunDLL"),
                         "C:\\windows\\system32\\shell32.dll"));
    EXPECT_TRUE(SameText(ExtractProgramFile(SystemCmdLn(), "RUNDLL32.EXE kdhelper.dll,Entry"),
                         corpus.Root() + "\\Bin\\kdhelper.dll"));
    EXPECT_EQ(ExtractProgramFile(SystemCmdLn(), "C:\\KdNowhere\\x.exe"), "ThisFileWillNeverExists.exe");
}

TEST(CmdLnSystem, ShellAnswersAreInLongFormAndBounded)
{
    EXPECT_EQ(ResolveProgramPath(SystemCmdLn(), "NOTEPAD"), "C:\\windows\\system32\\notepad.exe");
    EXPECT_EQ(SystemCmdLn().FindProgramFor(std::string(400, 'a') + ".exe"), "");
    EXPECT_EQ(SystemCmdLn().LongForm("C:\\KdNowhere\\x.exe"), "C:\\KdNowhere\\x.exe");
}

// The regular expressions recurse once per character of a token; lines at
// the length cap must fit the stack of a worker thread.
TEST(CmdLnSystem, LinesAtTheCapFitAThreadStack)
{
    const std::string unclosedQuote = "notepad \"" + std::string(kMaxCommandLineLength - 9, 'x');
    const std::string dotless = "notepad " + std::string(kMaxCommandLineLength - 8, 'a');
    std::string first;
    std::string second;
    std::thread worker([&] {
        first = ExtractProgramFile(SystemCmdLn(), unclosedQuote);
        second = ExtractProgramFile(SystemCmdLn(), dotless);
    });
    worker.join();
    EXPECT_TRUE(SameText(first, "C:\\windows\\system32\\notepad.exe"));
    EXPECT_TRUE(SameText(second, "C:\\windows\\system32\\notepad.exe"));
}

}  // namespace
