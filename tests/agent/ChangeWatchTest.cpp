// The real kdAgent.exe takes over what appears in a watched location while it
// runs, long before its five-minute timer, through a key or folder that was
// deleted and made again too.
#include "AgentTestSupport.h"
#include "agent/ChangeWatch.h"
#include "core/StrCon.h"
#include "startup/StartupTestSupport.h"
#include "startup/StoreLock.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <sstream>

namespace {

bool StoredIn(std::uint8_t location, REGSAM view, const std::string& item)
{
    const TStpDesc desc = GetStpDesc(location, view);
    return static_cast<bool>(RegKey::Open(desc.RootKey, desc.Path + "\\Keldora\\" + item, KEY_READ | view));
}

bool TakenFromFolder(const std::string& name)
{
    const std::string folder = GetStpDesc(9).Path;
    return FileExists(folder + "\\Keldora\\" + name) && !FileExists(folder + "\\" + name);
}

} // namespace

TEST(ChangeWatch, ARunningAgentTakesOverEachChangeAtOnceThroughAKeyOrFolderMadeAgain)
{
    AgentSandbox sandbox;
    const std::string folder = GetStpDesc(9).Path;
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([] { return !StoreValue(0, "Keldora Agent", "CmdLine").empty(); }));

    AddRunValue(1, "LiveValue", "C:\\Tools\\live.exe");
    EXPECT_TRUE(WaitUntil([] { return StoredIn(1, 0, "LiveValue"); }));
    WriteFile(folder + "\\live.txt", "live");
    EXPECT_TRUE(WaitUntil([] { return TakenFromFolder("live.txt"); }));
    ASSERT_EQ(OpenRunKey(0, KEY_WOW64_32KEY).WriteString("Machine32", "C:\\Tools\\m32.exe"), ERROR_SUCCESS);
    EXPECT_TRUE(WaitUntil([] { return StoredIn(0, KEY_WOW64_32KEY, "Machine32"); }));

    // The user's Run key deleted with its store and made again, then the
    // Startup folder removed and made again, each while no take-over runs
    // (one cut short by the deletion would rightly say so).
    {
        const TStoreLock lock;
        ASSERT_TRUE(lock.Acquired());
        ASSERT_EQ(RegKey::DeleteTree(HKEY_CURRENT_USER, GetStpDesc(1).Path), ERROR_SUCCESS);
        ASSERT_TRUE(RegKey::Create(HKEY_CURRENT_USER, GetStpDesc(1).Path, KEY_ALL_ACCESS));
    }
    AddRunValue(1, "AfterRecreate", "C:\\Tools\\again.exe");
    EXPECT_TRUE(WaitUntil([] { return StoredIn(1, 0, "AfterRecreate"); }));
    {
        const TStoreLock lock;
        ASSERT_TRUE(lock.Acquired());
        ClearLocation(9);
        ASSERT_TRUE(RemoveDirectoryW(WideFromUtf8(folder).c_str()));
        ASSERT_TRUE(ForceDirectories(folder));
    }
    WriteFile(folder + "\\after.txt", "after");
    EXPECT_TRUE(WaitUntil([] { return TakenFromFolder("after.txt"); }));

    EXPECT_EQ(WaitForExit(agent.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

namespace {

std::vector<std::string> LinesHolding(const std::string& file, const std::string& part)
{
    std::vector<std::string> found;
    std::istringstream lines(ReadFile(file));
    for (std::string line; std::getline(lines, line);)
        if (line.find(part) != std::string::npos)
            found.push_back(line);
    return found;
}

std::string AgentLog()
{
    return GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + "\\Keldora\\kdAgent.log";
}

} // namespace

TEST(ChangeWatch, EachNewProgramIsNamedOnceAndManyAtOnceAreOneSummary)
{
    AgentSandbox sandbox;
    const std::string balloons = sandbox.PathOf("balloons.log");
    const EnvVarScope seam("KDAGENT_BALLOON_LOG", balloons);
    const std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([] { return !StoreValue(0, "Keldora Agent", "CmdLine").empty(); }));

    const std::string program = sandbox.PathOf("kdAgent.exe");
    const std::string name = "Notice " + tag;
    AddRunValue(1, name, "\"" + program + "\" /quiet");
    ASSERT_TRUE(WaitUntil([&] { return !LinesHolding(balloons, name).empty(); }));
    const std::vector<std::string> single = LinesHolding(balloons, name);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_NE(single[0].find("New startup program: " + name + "|"), std::string::npos) << single[0];
    EXPECT_NE(single[0].find("Current User - Registry Run key"), std::string::npos) << single[0];
    EXPECT_NE(single[0].find("Keldora"), std::string::npos) << "the file's CompanyName: " << single[0];
    EXPECT_NE(single[0].find("signed"), std::string::npos) << single[0];
    const std::vector<std::string> logged = LinesHolding(AgentLog(), "\"" + name + "\"");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find(program), std::string::npos) << logged[0];
    EXPECT_NE(logged[0].find("Keldora"), std::string::npos) << logged[0];

    // The agent's take-over waits for the lock, so it finds all of them at once.
    const std::string burst = "Burst " + tag + " ";
    {
        const TStoreLock lock;
        ASSERT_TRUE(lock.Acquired());
        for (int i = 0; i < 200; ++i)
            AddRunValue(1, burst + std::to_string(i), "C:\\Tools\\burst" + std::to_string(i) + ".exe");
    }
    // The log lines come before the balloon.
    ASSERT_TRUE(WaitUntil([&] { return !LinesHolding(balloons, burst).empty(); }, 60000));
    EXPECT_EQ(LinesHolding(AgentLog(), "\"" + burst).size(), 200u);
    const std::vector<std::string> summary = LinesHolding(balloons, burst);
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_NE(summary[0].find("200 new startup programs|Taken over: " + burst + "0, "), std::string::npos)
        << summary[0];
    EXPECT_EQ(LinesHolding(balloons, name).size(), 1u) << "each program is named once";
    EXPECT_TRUE(sandbox.Messages().empty());
}
