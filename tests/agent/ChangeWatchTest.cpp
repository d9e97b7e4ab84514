// The real kdAgent.exe takes over what appears in a watched location while it
// runs, long before its five-minute timer, through a key or folder that was
// deleted and made again too.
#include "AgentTestSupport.h"
#include "agent/AgentQuitEvent.h"
#include "agent/ChangeWatch.h"
#include "core/StrCon.h"
#include "startup/StartupTestSupport.h"
#include "startup/StoreLock.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sstream>
#include <thread>

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
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

namespace {

// One posted message of the window, taken without dispatching; false when none came within the time.
bool TakeMessage(HWND window, UINT message, DWORD timeoutMs)
{
    return WaitUntil(
        [&] {
            MSG taken = {};
            return PeekMessageW(&taken, window, message, message, PM_REMOVE) != FALSE;
        },
        timeoutMs);
}

} // namespace

// The agent's quit event, as /restore sets it from another session: each
// setting is one quit message, also after an earlier one the agent did not
// follow, and the event is clear again once answered. A second event of the
// same name is refused and says why.
TEST(ChangeWatch, EveryQuitRequestIsAnsweredNotOnlyTheFirst)
{
    constexpr UINT kQuit = WM_APP + 7;
    constexpr UINT kChanged = WM_APP + 8;
    const UniqueWindow window(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                              nullptr));
    ASSERT_TRUE(window);
    std::string refusal;
    UniqueKernelHandle own = CreateAgentQuitEvent(refusal);
    ASSERT_TRUE(own) << refusal;
    EXPECT_TRUE(refusal.empty()) << refusal;
    std::string again;
    EXPECT_FALSE(CreateAgentQuitEvent(again));
    EXPECT_NE(again.find("\"" + AgentQuitEventName(GetCurrentProcessId()) + "\" existed before"), std::string::npos)
        << again;

    const TChangeWatch watch({}, {}, window.get(), kChanged, {std::move(own), kQuit});
    const UniqueKernelHandle asking = OpenAgentQuitEvent(GetCurrentProcessId());
    ASSERT_TRUE(asking);
    const UniqueKernelHandle state(
        OpenEventW(SYNCHRONIZE, FALSE, WideFromUtf8(AgentQuitEventName(GetCurrentProcessId())).c_str()));
    ASSERT_TRUE(state);
    for (int request = 0; request < 3; ++request) {
        ASSERT_TRUE(SetEvent(asking.get()));
        EXPECT_TRUE(TakeMessage(window.get(), kQuit, 5000)) << "request " << request;
        EXPECT_EQ(WaitForSingleObject(state.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "request " << request << ": clear again once answered";
        EXPECT_FALSE(TakeMessage(window.get(), kQuit, 300)) << "request " << request << ": one message, not more";
    }
}

// 10 000 values written into the user's Run key as fast as the registry
// takes them, while the agent runs: its window keeps answering within the
// bound, every value ends up in the store with its command line and stays in
// the key (a Run value is copied, never moved), and the storm is a few
// take-overs, not thousands (each run's new programs are one notice).
TEST(ChangeWatch, AStormOfTenThousandWritesIsTakenOverWholeWhileTheAgentAnswers)
{
    constexpr int kWrites = 10000;
    constexpr DWORD kAnswerBoundMs = 2000;
    AgentSandbox sandbox;
    const std::string balloons = sandbox.PathOf("balloons.log");
    const EnvVarScope seam("KDAGENT_BALLOON_LOG", balloons);
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([] { return !StoreValue(0, "Keldora Agent", "CmdLine").empty(); }));
    const HWND window = RunningAgent::Window();
    const std::string tag = "Storm " + std::to_string(GetCurrentProcessId()) + " ";

    // Asked from a thread of its own, through the storm and the take-overs after it.
    std::atomic<bool> asking{true};
    std::atomic<ULONGLONG> slowest{0};
    std::atomic<int> answers{0};
    std::thread pinger([&] {
        while (asking) {
            const ULONGLONG sent = GetTickCount64();
            DWORD_PTR ignored = 0;
            const bool answered =
                SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerBoundMs, &ignored) != 0;
            const ULONGLONG took = answered ? GetTickCount64() - sent : kAnswerBoundMs;
            slowest = std::max<ULONGLONG>(slowest, took);
            answers += answered ? 1 : 0;
            Sleep(20);
        }
    });
    const ULONGLONG begun = GetTickCount64();
    {
        const RegKey run = OpenRunKey(1);
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(run.WriteString(tag + std::to_string(i), "C:\\Tools\\storm" + std::to_string(i) + ".exe"),
                      ERROR_SUCCESS);
    }
    const ULONGLONG stormMs = GetTickCount64() - begun;
    const auto stored = [&] {
        std::vector<std::string> names;
        const RegKey store = RegKey::Open(HKEY_CURRENT_USER, GetStpDesc(1).Path + "\\Keldora", KEY_READ);
        if (!store || store.SubKeyNames(names) != ERROR_SUCCESS)
            return 0;
        return static_cast<int>(std::count_if(names.begin(), names.end(),
                                              [&](const std::string& name) { return name.rfind(tag, 0) == 0; }));
    };
    const auto leftInKey = [&] {
        std::vector<RegKey::Value> values;
        if (OpenRunKey(1).Values(values) != ERROR_SUCCESS)
            return -1;
        return static_cast<int>(std::count_if(values.begin(), values.end(),
                                              [&](const RegKey::Value& v) { return v.name.rfind(tag, 0) == 0; }));
    };
    const bool whole = WaitUntil([&] { return stored() == kWrites && leftInKey() == kWrites; }, 240000);
    const ULONGLONG takenMs = GetTickCount64() - begun;
    asking = false;
    pinger.join();
    std::printf("storm: %d writes in %llu ms, all taken over after %llu ms, slowest answer %llu ms of %d\n", kWrites,
                static_cast<unsigned long long>(stormMs), static_cast<unsigned long long>(takenMs),
                static_cast<unsigned long long>(slowest.load()), answers.load());
    ASSERT_TRUE(whole) << stored() << " of " << kWrites << " stored, " << leftInKey() << " still in the Run key";
    EXPECT_LT(slowest.load(), kAnswerBoundMs) << "the window answered every time within the bound";
    EXPECT_GT(answers.load(), 0);

    int wrong = 0;
    for (int i = 0; i < kWrites; ++i)
        wrong += StoreValue(1, tag + std::to_string(i), "CmdLine") == "C:\\Tools\\storm" + std::to_string(i) + ".exe"
                     ? 0
                     : 1;
    EXPECT_EQ(wrong, 0) << "stored items without their own command line";
    // The notices come after the take-overs that found them.
    ASSERT_TRUE(WaitUntil([&] { return !LinesHolding(balloons, tag).empty(); }, 120000));
    const std::size_t notices = LinesHolding(balloons, tag).size();
    std::printf("storm: %zu notices\n", notices);
    EXPECT_LE(notices, 40u) << "coalesced into few take-overs";
    EXPECT_EQ(WaitForExit(agent.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}
