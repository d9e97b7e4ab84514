// The real kdAgent.exe, started from a scratch agent folder and steered from
// outside as the product's other programs do.
#include "AgentTestSupport.h"
#include "agent/AgentResources.h"
#include "agent/CoolTrayIcon.h"
#include "agent/LogonStart.h"
#include "agent/uAgentForm.h"
#include "common/WineSupport.h"
#include "startup/StartupTestSupport.h"
#include "common/AppPaths.h"
#include "core/Utf8.h"
#include "startup/FolderStartupMgr.h"
#include "startup/RegStartupMgr.h"
#include "startup/StoreLock.h"
#include "winutil/FindFiles.h"
#include "winutil/ProfileFile.h"
#include "winutil/RegKey.h"
#include "winutil/VersionInfo.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

std::string AgentLog()
{
    return GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + "\\Keldora\\kdAgent.log";
}

// The last take-over is waited for kLastTakeOverMs at most; one that runs
// longer (a busy machine) goes on after the answer, and the log says so.
bool LastTakeOverRanLate()
{
    return ReadFile(AgentLog()).find("The last take-over did not end within") != std::string::npos;
}

BOOL CALLBACK AddOpenMenu(HWND window, LPARAM menus)
{
    wchar_t name[16] = {};
    RECT bounds = {};
    if (IsWindowVisible(window) && GetClassNameW(window, name, 16) && std::wstring(name) == L"#32768" &&
        GetWindowRect(window, &bounds))
        reinterpret_cast<std::vector<RECT>*>(menus)->push_back(bounds);
    return TRUE;
}

// The menu windows open on the screen, left to right.
std::vector<RECT> OpenMenus()
{
    std::vector<RECT> menus;
    EnumWindows(AddOpenMenu, reinterpret_cast<LPARAM>(&menus));
    std::sort(menus.begin(), menus.end(), [](const RECT& a, const RECT& b) { return a.left < b.left; });
    return menus;
}

// The captions of a menu as the screen shows them, top to bottom: for each,
// its rows of '#' (ink) and '.' (the row's background), right of the pictures.
std::vector<std::string> CaptionsOnScreen(const RECT& menu)
{
    const int width = menu.right - menu.left, height = menu.bottom - menu.top;
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, width, height, screen, menu.left, menu.top, SRCCOPY);
    const int textLeft = GetSystemMetrics(SM_CXSMICON) + 12, textRight = width - 8;
    std::vector<std::string> captions;
    std::string caption;
    for (int y = 2; y < height - 2; ++y) {
        const COLORREF background = GetPixel(dc, textRight, y);
        std::string row;
        for (int x = textLeft; x < textRight; ++x)
            row += GetPixel(dc, x, y) == background ? '.' : '#';
        if (row.find('#') != std::string::npos) {
            caption += row + "\n";
        } else if (!caption.empty()) {
            captions.push_back(caption);
            caption.clear();
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return captions;
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
    // The Startup folders follow the Run keys, each move flushed step by step.
    EXPECT_TRUE(WaitUntil([] { return FileExists(GetStpDesc(9).Path + "\\Keldora\\notes.txt"); }));
    EXPECT_TRUE(FileExists(sandbox.PathOf("config.dat")));

    RunningAgent second(sandbox);
    EXPECT_EQ(WaitForExit(second.Process(), 60000), 0u);
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
    DeleteFileW(WideFromUtf8(AgentLog()).c_str());
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    EXPECT_TRUE(WaitUntil(RunningAgent::TrayIconShown));
    RunningAgent::Send(UM_SHOW_TRAY_ICON, 0);
    EXPECT_FALSE(RunningAgent::TrayIconShown());
    RunningAgent::Send(UM_SHOW_TRAY_ICON, 1);
    EXPECT_TRUE(RunningAgent::TrayIconShown());

    AddRunValue(1, "ByMessage", "C:\\by-message.exe");
    RunningAgent::Send(UM_REFRESH_MENU);
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "ByMessage"); }));
    AddRunValue(1, "ByTimer", "C:\\by-timer.exe");
    RunningAgent::Send(WM_TIMER, kRefreshTimerId);
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "ByTimer"); }));
    AddRunValue(1, "AtLogoff", "C:\\at-logoff.exe");
    EXPECT_EQ(RunningAgent::Send(WM_QUERYENDSESSION), 1);
    RunningAgent::Send(WM_ENDSESSION, TRUE);
    EXPECT_TRUE(StoreHasItem(1, "AtLogoff") || LastTakeOverRanLate()) << "taken over before the answer";
    // A take-over that ran late has listed the Run key before it stores: the next entry comes after it.
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "AtLogoff"); }));

    AddRunValue(1, "AfterQuit", "C:\\after-quit.exe");
    EXPECT_EQ(agent.Quit(), 0u);
    EXPECT_FALSE(StoreHasItem(1, "AfterQuit")) << "no take-over on the way out";
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

TEST(AgentProgram, ExitFromTheMenuTakesOverOnTheWayOut)
{
    AgentSandbox sandbox;
    DeleteFileW(WideFromUtf8(AgentLog()).c_str());
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    AddRunValue(1, "AtExit", "C:\\at-exit.exe");
    ASSERT_TRUE(RunningAgent::ChooseFromMenu({VK_UP, VK_RETURN}));
    EXPECT_EQ(WaitForExit(agent.Process(), 60000), 0u);
    EXPECT_TRUE(StoreHasItem(1, "AtExit") || LastTakeOverRanLate());
}

TEST(AgentProgram, QuickLaunchEntryStartsTheItemThroughTheLauncher)
{
    AgentSandbox sandbox;
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    AddRunValue(0, "Tool", recorder + " --from-menu");
    // The menu fills in once the first take-over has come back from its
    // thread, in the step that hands the new entries to the log: a menu
    // asked for after the log names the entry shows it. (No Startup file is
    // there to start; the logon mark is left before the take-over.)
    ForgetLogonSession();
    DeleteFileW(WideFromUtf8(AgentLog()).c_str());
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([] { return ReadFile(AgentLog()).find("New startup program \"Tool\"") != std::string::npos; }));
    EXPECT_TRUE(RegKey::Exists(HKEY_CURRENT_USER, kLogonMarkKey));
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
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
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
    // A box left open would hold the program for ever.
    EXPECT_EQ(WaitForExit(agent.Process(), 60000), 0u);
    DeleteFileW(WideFromUtf8(blocker).c_str());
}

TEST(AgentProgram, WindowsNinetyFiveFamilySkipsTheAdministratorCheck)
{
    AgentSandbox sandbox;
    const WineVersionScope win98("win98");
    const UniqueKernelHandle token = TokenWithoutAdministrators();
    RunningAgent agent(sandbox, token.get());
    EXPECT_TRUE(RunningAgent::WaitForWindow());
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

// Entries named in Japanese, Russian and German (seeded through the wide
// API), and one whose name is no valid UTF-16.
TEST(AgentProgram, NamesInAnyScriptAreTakenOverShownAndComeBackWithoutTwins)
{
    ASSERT_TRUE(LinkCjkFont()) << "the agent started below draws Chinese characters";
    AgentSandbox sandbox;
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    // Pairs that look alike once their characters are lost to "?".
    const std::string japanese[] = {"\xe6\x97\xa5\xe6\x9c\xac" "Tool", "\xe6\x9d\xb1\xe4\xba\xac" "Tool"};
    const std::string russian[] = {"\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\xd1\x80\xd0\xb0\xd0\xbc\xd0\xbc\xd0\xb0",
                                   "\xd0\x9d\xd0\xb0\xd1\x81\xd1\x82\xd1\x80\xd0\xbe\xd0\xb9\xd0\xba\xd0\xb8"};
    const std::string german = "J\xc3\xb6rg Pr\xc3\xbc" "fung";
    const std::string lone = Utf8FromUtf16(std::u16string(u"Tool") + char16_t(0xD800));
    for (const std::string& name : {japanese[0], japanese[1], russian[0], german, lone})
        AddRunValue(1, name, recorder + " " + name);
    const std::string startup = GetStpDesc(9).Path + "\\";
    WriteFile(startup + russian[1] + ".txt", "ru");
    WriteFile(startup + "\xc3\x9c" "bersicht.txt", "de");
    std::vector<RegKey::Value> runBefore;
    ASSERT_EQ(OpenRunKey(1).Values(runBefore), ERROR_SUCCESS);

    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    for (const std::string& name : {japanese[0], japanese[1], russian[0], german, lone})
        EXPECT_TRUE(WaitUntil([&] { return StoreValue(1, name, "Desc") == name; })) << name;
    EXPECT_TRUE(WaitUntil([&] {
        return ProfileFile(startup + "Keldora\\Keldora.ini").HasSection(russian[1] + ".txt");
    })) << "the Startup files are in the store";
    EXPECT_EQ(ProfileEncodingOf(ReadFile(startup + "Keldora\\Keldora.ini")), ProfileEncoding::Utf16);

    // Keldora Agent, the five Run values, the two files: once the first
    // take-over has come back from its thread (until then the submenu is
    // empty, and the menu is opened again). Looking changes nothing, so a
    // look that came too early costs only time.
    std::vector<std::string> captions;
    EXPECT_TRUE(WaitUntil(
        [&] {
            captions.clear();
            if (RunningAgent::ChooseFromMenu({VK_DOWN, VK_DOWN, VK_RIGHT}) &&
                WaitUntil([] { return OpenMenus().size() == 2; }, 10000)) {
                // Read once two looks in a row agree: the submenu is painted.
                WaitUntil(
                    [&] {
                        const std::vector<RECT> menus = OpenMenus();
                        if (menus.size() != 2)
                            return false;
                        const std::vector<std::string> before = std::exchange(captions, CaptionsOnScreen(menus.back()));
                        return captions.size() == 8 && captions == before;
                    },
                    10000);
            }
            WaitUntil([] {
                SendKeysToOpenMenu({VK_ESCAPE});
                return OpenMenus().empty();
            });
            return captions.size() == 8;
        },
        120000));
    ASSERT_EQ(captions.size(), 8u) << "every entry is on the screen";
    for (std::size_t i = 0; i < captions.size(); ++i)
        for (std::size_t j = i + 1; j < captions.size(); ++j)
            EXPECT_NE(captions[i], captions[j]) << "entries " << i << " and " << j << " look alike";
    EXPECT_EQ(agent.Quit(), 0u);

    // Restored over the entries still there, and over a Run key emptied by hand.
    for (const bool emptied : {false, true}) {
        if (emptied) {
            for (const RegKey::Value& value : runBefore)
                static_cast<void>(OpenRunKey(1).DeleteValue(value.name));
        }
        TRegStartupMgr run(1);
        ASSERT_TRUE(run.RestoreItems());
        std::vector<RegKey::Value> runAfter;
        ASSERT_EQ(OpenRunKey(1).Values(runAfter), ERROR_SUCCESS);
        ASSERT_EQ(runAfter.size(), runBefore.size()) << "no twin";
        for (std::size_t i = 0; i < runBefore.size(); ++i) {
            const auto same = std::find_if(runAfter.begin(), runAfter.end(),
                                           [&](const RegKey::Value& v) { return v.name == runBefore[i].name; });
            ASSERT_NE(same, runAfter.end()) << runBefore[i].name;
            EXPECT_EQ(same->data, runBefore[i].data);
        }
    }
    TFolderStartupMgr folder(9);
    ASSERT_TRUE(folder.RestoreItems());
    EXPECT_EQ(ReadFile(startup + russian[1] + ".txt"), "ru");
    EXPECT_EQ(ReadFile(startup + "\xc3\x9c" "bersicht.txt"), "de");
    EXPECT_EQ(FindFiles(startup + "*").size(), 2u);
}

// Installed in a folder whose name the ANSI code page cannot hold.
TEST(AgentProgram, FolderOutsideTheCodePageHoldsItsSettingsMessagesAndCommands)
{
    AgentSandbox sandbox("\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\xd1\x80\xd0\xb0\xd0\xbc\xd0\xbc\xd1\x8b\\J\xc3\xb6rg "
                         "\xe4\xba\xa7\xe5\x93\x81 ");
    const std::string tool = "\xd0\x98\xd0\xbd\xd1\x81\xd1\x82\xd1\x80\xd1\x83\xd0\xbc\xd0\xb5\xd0\xbd\xd1\x82";
    const RegKey run = OpenRunKey(1);
    ASSERT_EQ(run.WriteDword(tool, 7), ERROR_SUCCESS);  // no text: reported, left where it is
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());

    // The first take-over ends the start-up; the program's folder holds its settings.
    ASSERT_TRUE(WaitUntil([&] { return !sandbox.Messages().empty(); }));
    EXPECT_EQ(ReadFile(sandbox.PathOf("config.dat")),
              "[Common]\r\nShowBallon=0\r\n\r\n[Setup]\r\nShowIcon=1\r\nAutoCheck=1\r\n");
    EXPECT_EQ(StoreValue(0, "Keldora Agent", "CmdLine"), sandbox.Folder() + "kdAgent.exe");
    EXPECT_NE(sandbox.Messages()[0].find("\"" + tool + "\""), std::string::npos) << sandbox.Messages()[0];
    const std::string log = ReadFile(GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + "\\Keldora\\kdAgent.log");
    EXPECT_NE(log.find("\"" + tool + "\""), std::string::npos);

    ASSERT_TRUE(RunningAgent::ChooseFromMenu({VK_DOWN, VK_RETURN}));
    ASSERT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 1; }));
    EXPECT_EQ(sandbox.Launches()[0], "\"" + sandbox.Folder() + "KdConfig.exe\"");
    EXPECT_TRUE(run.HasValue(tool)) << "nothing lost";
}

// Windows gives programs five seconds at the end of a session, and an entry
// on an unreachable share may stall a file check for much longer. Wine has no
// network client: it fails \\192.0.2.1\share\x.exe at once (measured:
// GetFileAttributes error 66, FindFirstFile error 3, in under a millisecond),
// so the long part is the take-over of 500 entries itself, and the stall is
// the store lock (StoreLock.h) held here as another agent of the user would:
// no take-over can end while it is held, so what the window answers
// meanwhile it answers without waiting for one.
TEST(AgentProgram, FiveHundredEntriesAndAnUnreachableShareNeitherHoldTheSessionsEndNorTheTray)
{
    AgentSandbox sandbox;
    DeleteFileW(WideFromUtf8(AgentLog()).c_str());
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    const std::string onShare = "\\\\192.0.2.1\\share\\x.exe /s";
    {
        const RegKey run = OpenRunKey(1);
        for (int i = 0; i < 499; ++i)
            ASSERT_EQ(run.WriteString("Tool " + std::to_string(i), recorder + " --n " + std::to_string(i)),
                      ERROR_SUCCESS);
        ASSERT_EQ(run.WriteString("On share", onShare), ERROR_SUCCESS);
    }
    ASSERT_FALSE(TStoreLock::Path().empty());
    RunningAgent agent(sandbox);
    ASSERT_TRUE(WaitUntil([] { return RunningAgent::Window() != nullptr; }));

    const auto answered = [](UINT message, WPARAM wParam = 0) {
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(RunningAgent::Window(), message, wParam, 0, SMTO_NORMAL, 30000, &result) != 0 &&
               result == (message == WM_QUERYENDSESSION ? 1u : 0u);
    };
    // While the first take-over and reload of the 500 run (about two seconds
    // on an idle machine; a whole refresh on the window's thread, as it used
    // to run at this message, takes that long too).
    EXPECT_TRUE(answered(WM_QUERYENDSESSION));
    int answers = 0;
    bool allAnswered = true;
    const auto everyEntryStored = [] {
        const TStpDesc run = GetStpDesc(1);
        std::vector<std::string> items;
        return RegKey::Open(run.RootKey, run.Path + "\\Keldora", KEY_READ).SubKeyNames(items) == ERROR_SUCCESS &&
               items.size() >= 500;
    };
    EXPECT_TRUE(WaitUntil(
        [&] {
            allAnswered = answered(WM_NULL) && allAnswered;
            ++answers;
            return everyEntryStored();
        },
        120000));
    EXPECT_TRUE(allAnswered) << answers << " asked";
    EXPECT_EQ(StoreValue(1, "On share", "CmdLine"), onShare) << "kept as it was";
    EXPECT_TRUE(StoreHasItem(1, "Tool 498"));

    // A refresh of them all, asked for by message: the tray still answers.
    // The lock is let go well within the take-over's wait for it
    // (kStoreLockTimeoutMs): a few answers of an idle window.
    AddRunValue(1, "Refreshed", recorder + " --refreshed");
    {
        const TStoreLock held(/*timeoutMs=*/120000);
        ASSERT_TRUE(held.Acquired());
        EXPECT_TRUE(answered(UM_REFRESH_MENU));
        EXPECT_TRUE(answered(WM_QUERYENDSESSION));
        for (int i = 0; i < 20; ++i)
            EXPECT_TRUE(answered(WM_NULL)) << i;
        EXPECT_FALSE(StoreHasItem(1, "Refreshed")) << "answered while the refresh waits for the lock";
    }
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "Refreshed"); })) << "the refresh goes on once the lock is free";

    // The session ends: the last take-over cannot end while the lock is held,
    // and the answer comes all the same, after kLastTakeOverMs at most.
    AddRunValue(1, "At the end", recorder + " --end");
    {
        const TStoreLock held(/*timeoutMs=*/120000);
        ASSERT_TRUE(held.Acquired());
        EXPECT_TRUE(answered(WM_QUERYENDSESSION));
        EXPECT_TRUE(answered(WM_ENDSESSION, TRUE));
        EXPECT_FALSE(StoreHasItem(1, "At the end")) << "answered before the last entry was stored";
        EXPECT_TRUE(answered(WM_NULL));
    }
    EXPECT_TRUE(LastTakeOverRanLate());
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "At the end"); })) << "the last take-over goes on";
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
    EXPECT_TRUE(sandbox.Launches().empty()) << "nothing started by itself";
}
