// The real kdAgent.exe, started from a scratch agent folder and steered from
// outside as the product's other programs do.
#include "AgentTestSupport.h"
#include "agent/AgentResources.h"
#include "agent/CoolTrayIcon.h"
#include "agent/uAgentForm.h"
#include "common/WineSupport.h"
#include "startup/StartupTestSupport.h"
#include "common/Utils.h"
#include "winutil/FindFiles.h"
#include "winutil/VersionInfo.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <shellapi.h>

namespace {

class RunningAgent {
public:
    explicit RunningAgent(const AgentSandbox& sandbox, HANDLE token = nullptr)
        : process_(StartProcess("\"" + ProgramIn(sandbox) + "\"", token))
    {
    }
    ~RunningAgent()
    {
        if (WaitForExit(process_.get(), 0) != STILL_ACTIVE)
            return;
        if (const HWND window = Window())
            PostMessageW(window, UM_QUIT, 0, 0);
        if (WaitForExit(process_.get(), 10000) == STILL_ACTIVE)
            TerminateProcess(process_.get(), 9);
    }
    RunningAgent(const RunningAgent&) = delete;
    RunningAgent& operator=(const RunningAgent&) = delete;

    HANDLE Process() const { return process_.get(); }
    static HWND Window() { return FindWindowW(L"TAgentForm", nullptr); }
    // The window exists once FormCreate has begun; an answer to WM_NULL comes
    // only from the message loop, after FormCreate has ended.
    static bool WaitForWindow()
    {
        DWORD_PTR ignored = 0;
        return WaitUntil([] { return Window() != nullptr; }, 30000) &&
               SendMessageTimeoutW(Window(), WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored);
    }

    static LRESULT Send(UINT message, WPARAM wParam = 0)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(Window(), message, wParam, 0, SMTO_NORMAL, 30000, &result);
        return static_cast<LRESULT>(result);
    }

    // The tray icon as the shell knows it: a change is answered only for an icon it holds.
    static bool TrayIconShown()
    {
        NOTIFYICONDATAW data = {};
        data.cbSize = NotifyIconDataSize();
        data.hWnd = FindWindowW(L"TCoolTrayIconHandler", nullptr);
        data.uID = 1;
        return data.hWnd && Shell_NotifyIconW(NIM_MODIFY, &data);
    }

    // A right click on the tray icon, then keys in the menu once it is open.
    static bool ChooseFromMenu(std::initializer_list<WORD> keys)
    {
        const HWND handler = FindWindowW(L"TCoolTrayIconHandler", nullptr);
        PostMessageW(handler, WM_TRAYNOTIFY, 1, WM_RBUTTONDOWN);
        if (!WaitUntil([] { return FindWindowW(L"#32768", nullptr) != nullptr; }))
            return false;
        for (const WORD key : keys) {
            SendKeysToOpenMenu({key});
            Sleep(100);
        }
        return true;
    }

private:
    static std::string ProgramIn(const AgentSandbox& sandbox)
    {
        const std::string program = sandbox.PathOf("kdAgent.exe");
        return FileExists(program) ? program : sandbox.AddAgentProgram();
    }

    UniqueKernelHandle process_;
};

UniqueKernelHandle TokenWithoutAdministrators()
{
    UniqueKernelHandle process;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process.put());
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins);
    SID_AND_ATTRIBUTES denyOnly = {admins, 0};
    UniqueKernelHandle restricted;
    CreateRestrictedToken(process.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, restricted.put());
    FreeSid(admins);
    return restricted;
}

} // namespace

TEST(AgentProgram, FillsTheStoreRegistersItselfAndASecondStartEndsAtOnce)
{
    AgentSandbox sandbox;
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    AddRunValue(1, "UserTool", recorder + " --user");
    WriteFile(GetStpDesc(9).Path + "\\notes.txt", "n");
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "UserTool"); }));
    EXPECT_EQ(StoreValue(0, "Keldora Agent", "CmdLine"), sandbox.Folder() + "kdAgent.exe");
    EXPECT_TRUE(FileExists(GetStpDesc(9).Path + "\\Keldora\\notes.txt"));
    EXPECT_TRUE(FileExists(sandbox.PathOf("config.dat")));

    RunningAgent second(sandbox);
    EXPECT_EQ(WaitForExit(second.Process(), 10000), 0u);
    EXPECT_EQ(WaitForExit(agent.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(sandbox.Messages().empty()) << "the second start ends silently";
}

TEST(AgentProgram, CarriesItsIconsVersionAndStrings)
{
    const std::string program = GetAppFolder() + "kdAgent.exe";
    EXPECT_EQ(ExtractIconExW(WideFromUtf8(program).c_str(), -1, nullptr, nullptr, 0), 3u);
    const auto version = ReadFixedVersion(program);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->dwFileVersionMS, 0x00010000u);
    const UniqueModule module(LoadLibraryExW(WideFromUtf8(program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    wchar_t text[256] = {};
    EXPECT_GT(LoadStringW(module.get(), IDS_CONFIG_FILE, text, 256), 0);
    EXPECT_STREQ(text, L"config.dat");
    EXPECT_GT(LoadStringW(module.get(), IDS_MENU_REFRESH, text, 256), 0);
    EXPECT_STREQ(text, L"&Refresh");
    for (const wchar_t* icon : {L"ICO_TRAY", L"ICO_TRAY16", L"ICO_001"})
        EXPECT_TRUE(FindResourceW(module.get(), icon, MAKEINTRESOURCEW(14))) << icon;
    EXPECT_TRUE(FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) << "manifest";
}

TEST(AgentProgram, MessagesShowHideRefreshEndSessionAndQuit)
{
    AgentSandbox sandbox;
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    EXPECT_TRUE(WaitUntil(RunningAgent::TrayIconShown));
    RunningAgent::Send(UM_SHOW_TRAY_ICON, 0);
    EXPECT_FALSE(RunningAgent::TrayIconShown());
    RunningAgent::Send(UM_SHOW_TRAY_ICON, 1);
    EXPECT_TRUE(RunningAgent::TrayIconShown());

    AddRunValue(1, "ByMessage", "C:\\by-message.exe");
    RunningAgent::Send(UM_REFRESH_MENU);
    EXPECT_TRUE(StoreHasItem(1, "ByMessage"));
    AddRunValue(1, "AtLogoff", "C:\\at-logoff.exe");
    EXPECT_EQ(RunningAgent::Send(WM_QUERYENDSESSION), 1);
    EXPECT_TRUE(StoreHasItem(1, "AtLogoff"));
    AddRunValue(1, "ByTimer", "C:\\by-timer.exe");
    RunningAgent::Send(WM_TIMER, kRefreshTimerId);
    EXPECT_TRUE(StoreHasItem(1, "ByTimer"));

    AddRunValue(1, "AfterQuit", "C:\\after-quit.exe");
    RunningAgent::Send(UM_QUIT);
    EXPECT_EQ(WaitForExit(agent.Process(), 10000), 0u);
    EXPECT_FALSE(StoreHasItem(1, "AfterQuit")) << "no take-over on the way out";
    EXPECT_TRUE(sandbox.Messages().empty());
}

TEST(AgentProgram, ExitFromTheMenuTakesOverOnTheWayOut)
{
    AgentSandbox sandbox;
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    AddRunValue(1, "AtExit", "C:\\at-exit.exe");
    ASSERT_TRUE(RunningAgent::ChooseFromMenu({VK_UP, VK_RETURN}));
    EXPECT_EQ(WaitForExit(agent.Process(), 10000), 0u);
    EXPECT_TRUE(StoreHasItem(1, "AtExit"));
}

TEST(AgentProgram, QuickLaunchEntryStartsTheItemThroughTheLauncher)
{
    AgentSandbox sandbox;
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    AddRunValue(0, "Tool", recorder + " --from-menu");
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(RunningAgent::ChooseFromMenu({VK_DOWN, VK_DOWN, VK_RIGHT, VK_RETURN}));
    ASSERT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 1; }));
    EXPECT_EQ(sandbox.Launches()[0], "\"" + recorder + "\" --from-menu");
    ASSERT_TRUE(RunningAgent::ChooseFromMenu({VK_DOWN, VK_RETURN}));
    ASSERT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 2; }));
    EXPECT_EQ(sandbox.Launches()[1], "\"" + sandbox.Folder() + "KdConfig.exe\"");
}

TEST(AgentProgram, WithAFilteredTokenItRunsTakesOverTheUsersLocationsAndShowsNoBox)
{
    AgentSandbox sandbox;
    AddRunValue(0, "MachineTool", "C:\\machine.exe");
    AddRunValue(1, "UserTool", "C:\\user.exe");
    const UniqueKernelHandle token = TokenWithoutAdministrators();
    ASSERT_TRUE(token);
    RunningAgent agent(sandbox, token.get());
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "UserTool"); }));
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "Keldora Agent"); }));
    EXPECT_EQ(StoreValue(1, "Keldora Agent", "CmdLine"), sandbox.Folder() + "kdAgent.exe");
    EXPECT_FALSE(StoreHasItem(0, "MachineTool")) << "the machine's Run key needs an elevated start";
    EXPECT_FALSE(StoreHasItem(0, "Keldora Agent"));
    EXPECT_EQ(WaitForExit(agent.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(sandbox.Messages().empty());
}

TEST(AgentProgram, QuitWhileAnErrorBoxIsOpenEndsAtOnce)
{
    AgentSandbox sandbox;
    const EnvVarScope realBoxes("KDAGENT_MESSAGE_LOG", "");
    const std::string blocker = GetStpDesc(9).Path + "\\Keldora";
    WriteFile(blocker, "a file where the store folder belongs");
    RunningAgent agent(sandbox);
    DWORD agentId = GetProcessId(agent.Process());
    HWND box = nullptr;
    EXPECT_TRUE(WaitUntil(
        [&] {
            box = FindWindowW(L"#32770", L"Keldora! 2004 - Agent");
            DWORD owner = 0;
            return box && GetWindowThreadProcessId(box, &owner) && owner == agentId;
        },
        30000));
    ASSERT_TRUE(RunningAgent::Window());
    PostMessageW(RunningAgent::Window(), UM_QUIT, 0, 0);
    EXPECT_EQ(WaitForExit(agent.Process(), 5000), 0u);
    DeleteFileW(WideFromUtf8(blocker).c_str());
}

TEST(AgentProgram, WindowsNinetyFiveFamilySkipsTheAdministratorCheck)
{
    AgentSandbox sandbox;
    const WineVersionScope win98("win98");
    const UniqueKernelHandle token = TokenWithoutAdministrators();
    RunningAgent agent(sandbox, token.get());
    EXPECT_TRUE(RunningAgent::WaitForWindow());
    EXPECT_TRUE(sandbox.Messages().empty());
}
