#include "agent/uAgentForm.h"

#include "AgentTestSupport.h"
#include "agent/AdminCheck.h"
#include "agent/AgentResources.h"
#include "agent/FileInfoManager.h"
#include "agent/uAppConfig.h"
#include "startup/StartupTestSupport.h"
#include "winutil/FindFiles.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// What the popup's modal loop runs on each tick of a thread timer, so a test
// can act while the menu is open.
std::vector<std::function<void()>> g_steps;

void CALLBACK RunNextStep(HWND, UINT, UINT_PTR, DWORD)
{
    // A menu the steps did not close must not keep the test waiting.
    if (g_steps.empty()) {
        EndMenu();
        return;
    }
    const auto step = g_steps.front();
    g_steps.erase(g_steps.begin());
    step();
}

class AgentForm : public ::testing::Test {
protected:
    void Start() { form = std::make_unique<TAgentForm>(TAgentOptions{sandbox.Folder()}); }

    void Tray(UINT code) { SendMessageA(TCoolTrayIcon::HandlerWindow(), WM_TRAYNOTIFY, 1, code); }

    // Opens the tray menu and runs the steps, one per 150 ms, while it is open.
    void PopupWith(std::vector<std::function<void()>> steps)
    {
        g_steps = std::move(steps);
        const UINT_PTR timer = SetTimer(nullptr, 0, 150, RunNextStep);
        Tray(WM_RBUTTONDOWN);
        KillTimer(nullptr, timer);
        g_steps.clear();
    }

    std::vector<std::string> QuickLaunchCaptions()
    {
        std::vector<std::string> captions;
        for (const TMenuItemPtr& item : form->QuickLaunch().Items)
            captions.push_back(item->Caption);
        return captions;
    }

    int ConfigInteger(const char* keyPath)
    {
        TAppCfgIni config;
        config.Open(sandbox.PathOf("config.dat"));
        int value = -1;
        config.ReadInteger(keyPath, value, -1);
        return value;
    }

    AgentSandbox sandbox;
    std::unique_ptr<TAgentForm> form;
};

bool QuitPosted()
{
    MSG msg;
    return PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

std::string Hidden(const std::string& folder)
{
    return folder + "\\Keldora";
}

} // namespace

TEST_F(AgentForm, TakesOverTheWatchedLocationsAndRegistersItself)
{
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    AddRunValue(0, "MachineTool", recorder + " --machine");
    AddRunValue(1, "UserTool", recorder + " --user");
    AddRunValue(3, "ServiceTool", recorder + " --service");
    WriteFile(GetStpDesc(9).Path + "\\notes.txt", "n");
    Start();

    EXPECT_EQ(StoreValue(0, "MachineTool", "CmdLine"), recorder + " --machine");
    EXPECT_EQ(StoreValue(1, "UserTool", "Order"), "10");
    EXPECT_FALSE(StoreHasItem(3, "ServiceTool")) << "RunServices is not watched";
    EXPECT_FALSE(FileExists(GetStpDesc(9).Path + "\\notes.txt"));
    EXPECT_TRUE(FileExists(Hidden(GetStpDesc(9).Path) + "\\notes.txt"));
    EXPECT_TRUE(GetFileAttributesA(Hidden(GetStpDesc(9).Path).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(StoreValue(0, "Keldora Agent", "CmdLine"), sandbox.Folder() + "kdAgent.exe");
    EXPECT_EQ(StoreValue(0, "Keldora Agent", "Desc"), "Keldora Agent");

    EXPECT_EQ(ReadFile(sandbox.PathOf("config.dat")), "[Common]\r\nShowBallon=0\r\n\r\n[Setup]\r\nShowIcon=1\r\nAutoCheck=1\r\n");
    EXPECT_TRUE(form->ShowBalloon()) << "first run";
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
    char caption[128] = {};
    GetWindowTextA(form->Handle(), caption, sizeof caption);
    EXPECT_STREQ(caption, "Keldora! 2004 - Agent");
    ClearLocation(3);
}

TEST_F(AgentForm, MenuEntriesOrderCaptionsAndIcons)
{
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    sandbox.AddAgentProgram();
    AddRunValue(0, "Setup.exe", recorder + " --setup");
    AddRunValue(1, "Tom & Jerry", recorder + " --tom");
    AddRunValue(1, "Gone", "C:\\nowhere\\gone.exe /x");
    WriteFile(GetStpDesc(8).Path + "\\shared.txt", "s");
    WriteFile(GetStpDesc(9).Path + "\\notes.txt", "n");
    Start();

    std::vector<std::string> top;
    for (const TMenuItemPtr& item : form->PopupMenu().Items.Items)
        top.push_back(item->Caption);
    EXPECT_EQ(top, (std::vector<std::string>{"&Config", "Quick Launch", "&Show tray icon", "-", "&Refresh", "-",
                                             "&Exit"}));
    EXPECT_EQ(QuickLaunchCaptions(),
              (std::vector<std::string>{"Setup", "Keldora Agent", "Gone", "Tom && Jerry", "shared", "notes"}))
        << "the registry lists values by name";

    const TBuiltMenu built = form->PopupMenu().Build();
    EXPECT_EQ(GetMenuItemCount(built.menu.get()), 7);
    EXPECT_EQ(GetMenuDefaultItem(built.menu.get(), TRUE, 0), 0u);
    EXPECT_EQ(GetMenuState(built.menu.get(), 2, MF_BYPOSITION) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    const HMENU quickLaunch = GetSubMenu(built.menu.get(), 1);
    ASSERT_TRUE(quickLaunch);
    ASSERT_EQ(GetMenuItemCount(quickLaunch), 6);
    std::vector<bool> pictures;
    for (int i = 0; i < 6; ++i) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_BITMAP;
        GetMenuItemInfoA(quickLaunch, i, TRUE, &info);
        pictures.push_back(info.hbmpItem == HBMMENU_CALLBACK);
    }
    EXPECT_EQ(pictures, (std::vector<bool>{true, true, false, true, true, true})) << "a missing program has none";
    EXPECT_EQ(ImageList_GetImageCount(FileInfoManager().SmallImages()), 4) << "one picture per icon text";
    EXPECT_EQ(form->QuickLaunch().Items[0]->ImageIndex, form->QuickLaunch().Items[3]->ImageIndex);
}

TEST_F(AgentForm, ChosenQuickLaunchEntryStartsItsCommandWithoutWaiting)
{
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    AddRunValue(0, "Tool", recorder + " --chosen");
    Start();
    PopupWith({[] { SendKeysToOpenMenu({VK_DOWN, VK_DOWN, VK_RIGHT, VK_RETURN}); }});
    EXPECT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 1; }));
    EXPECT_EQ(sandbox.Launches().at(0), "\"" + recorder + "\" --chosen");
}

TEST_F(AgentForm, ConfigStartsKdConfigFromTheAgentFolderAndDoubleClickStartsItTwice)
{
    Start();
    form->PopupMenu().Items.Items.at(0)->Click();
    EXPECT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 1; }));
    EXPECT_NE(sandbox.Launches().at(0).find(sandbox.Folder() + "KdConfig.exe"), std::string::npos);
    for (UINT code : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        Tray(code);
    EXPECT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 3; }));
}

TEST_F(AgentForm, HidingTheIconTellsOnceStoresItAndTheMessageBringsItBack)
{
    Start();
    TMenuItem& noIcon = *form->PopupMenu().Items.Items.at(2);
    noIcon.Click();
    ASSERT_EQ(sandbox.Messages().size(), 1u);
    EXPECT_EQ(sandbox.Messages()[0], "Keldora! 2004 - Agent|40|" + LoadResourceString(IDS_ICON_HIDDEN));
    EXPECT_FALSE(noIcon.Checked);
    EXPECT_FALSE(form->CoolTrayIcon().IconVisible());
    EXPECT_EQ(ConfigInteger("Setup\\ShowIcon"), 0);

    SendMessageA(form->Handle(), UM_SHOW_TRAY_ICON, 1, 0);
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
    EXPECT_TRUE(noIcon.Checked);
    EXPECT_EQ(ConfigInteger("Setup\\ShowIcon"), 0) << "the message stores nothing";
    SendMessageA(form->Handle(), UM_SHOW_TRAY_ICON, 0x100, 0);
    EXPECT_FALSE(form->CoolTrayIcon().IconVisible()) << "only the low byte counts";
    EXPECT_EQ(sandbox.Messages().size(), 1u);
}

TEST_F(AgentForm, StoredSettingsHideTheIconAndTheBalloonShowsOnTheFirstRunOnly)
{
    WriteFile(sandbox.PathOf("config.dat"), "[setup]\r\nshowicon=0\r\n[Other]\r\nKeep=1\r\n");
    Start();
    EXPECT_FALSE(form->CoolTrayIcon().IconVisible());
    EXPECT_FALSE(form->PopupMenu().Items.Items.at(2)->Checked);
    EXPECT_EQ(ConfigInteger("Other\\Keep"), 1);
    EXPECT_EQ(ConfigInteger("Common\\ShowBallon"), 0);
    form.reset();
    EXPECT_FALSE(QuitPosted());
    WriteFile(sandbox.PathOf("config.dat"), "[Setup]\r\nShowIcon=1\r\n[Common]\r\nShowBallon=0\r\n");
    Start();
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
    EXPECT_FALSE(form->ShowBalloon());
}

TEST_F(AgentForm, HugeSettingsFileIsLeftAloneAndTheDefaultsApply)
{
    const std::string huge = "[Setup]\r\nShowIcon=0\r\n" + std::string(2 * 1024 * 1024, ';');
    WriteFile(sandbox.PathOf("config.dat"), huge);
    Start();
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
    EXPECT_EQ(ReadFile(sandbox.PathOf("config.dat")).size(), huge.size());
    EXPECT_TRUE(sandbox.Messages().empty());
}

TEST_F(AgentForm, LockedSettingsFileLeavesTheIconOn)
{
    WriteFile(sandbox.PathOf("config.dat"), "[Setup]\r\nShowIcon=1\r\n");
    UniqueFile lock(CreateFileA(sandbox.PathOf("config.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    ASSERT_TRUE(lock);
    Start();
    EXPECT_TRUE(form->ShowIcon());
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
}

TEST_F(AgentForm, RefreshAskedForDuringThePopupRunsRightAfterIt)
{
    Start();
    bool storedWhileOpen = true;
    const HWND window = form->Handle();
    PopupWith({[&] {
                   AddRunValue(1, "Late", "C:\\late.exe");
                   SendMessageA(window, UM_REFRESH_MENU, 0, 0);
                   SendMessageA(window, WM_TIMER, kRefreshTimerId, 0);
                   storedWhileOpen = StoreHasItem(1, "Late");
               },
               [] { SendKeysToOpenMenu({VK_ESCAPE, VK_ESCAPE}); }});
    EXPECT_FALSE(storedWhileOpen);
    EXPECT_TRUE(PumpUntil([] { return StoreHasItem(1, "Late"); }, 2000));
    EXPECT_EQ(QuickLaunchCaptions(), (std::vector<std::string>{"Keldora Agent", "Late"}));
}

TEST_F(AgentForm, EntryChosenAfterARebuildStillStartsWhatItShowed)
{
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    AddRunValue(1, "First", recorder + " --first");
    Start();
    const HWND window = form->Handle();
    LRESULT answer = 0;
    PopupWith({[&] {
                   ClearLocation(1);
                   AddRunValue(1, "Second", recorder + " --second");
                   // The session's end does not wait for the menu.
                   answer = SendMessageA(window, WM_QUERYENDSESSION, 0, 0);
               },
               [] { SendKeysToOpenMenu({VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN, VK_RETURN}); }});
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(QuickLaunchCaptions(), (std::vector<std::string>{"Keldora Agent", "Second"}));
    EXPECT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 1; }));
    EXPECT_EQ(sandbox.Launches().at(0), "\"" + recorder + "\" --first");
}

TEST_F(AgentForm, QuitDuringThePopupClosesItAndSkipsTheLastTakeOver)
{
    Start();
    const HWND window = form->Handle();
    PopupWith({[window] { SendMessageA(window, UM_QUIT, 0, 0); }});
    EXPECT_TRUE(form->Quitting());
    EXPECT_TRUE(PumpUntil(QuitPosted, 2000));
    AddRunValue(1, "AfterQuit", "C:\\after.exe");
    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), 1);
    SendMessageA(window, WM_TIMER, kRefreshTimerId, 0);
    form.reset();
    EXPECT_FALSE(StoreHasItem(1, "AfterQuit"));
}

TEST_F(AgentForm, ExitTakesOverOnceMoreOnTheWayOut)
{
    Start();
    form->PopupMenu().Items.Items.back()->Click();
    EXPECT_TRUE(QuitPosted());
    EXPECT_FALSE(form->Quitting());
    AddRunValue(1, "AtExit", "C:\\exit.exe");
    form.reset();
    EXPECT_TRUE(StoreHasItem(1, "AtExit"));
}

TEST_F(AgentForm, ManagerErrorIsReportedAndTheAgentGoesOn)
{
    WriteFile(GetStpDesc(9).Path + "\\Keldora", "a file where the store folder belongs");
    Start();
    ASSERT_EQ(sandbox.Messages().size(), 1u);
    EXPECT_NE(sandbox.Messages()[0].find("|10|Unable to setup startup items from dir:"), std::string::npos)
        << sandbox.Messages()[0];
    SendMessageA(form->Handle(), UM_REFRESH_MENU, 0, 0);
    EXPECT_EQ(sandbox.Messages().size(), 2u);
    DeleteFileA((GetStpDesc(9).Path + "\\Keldora").c_str());
    SendMessageA(form->Handle(), UM_REFRESH_MENU, 0, 0);
    EXPECT_EQ(sandbox.Messages().size(), 2u);
    EXPECT_EQ(QuickLaunchCaptions(), std::vector<std::string>{"Keldora Agent"});
}

TEST_F(AgentForm, EntriesWithoutCommandLineOrProgramShowWithoutPictureAndStartNothing)
{
    const RegKey item = RegKey::Create(HKEY_CURRENT_USER,
                                       GetStpDesc(1).Path + "\\Keldora\\Empty", KEY_ALL_ACCESS);
    item.WriteString("Desc", "Empty");
    item.WriteString("CmdLine", "");
    item.WriteString("Icon", "");
    item.WriteDword("Order", 5);
    Start();
    ASSERT_EQ(QuickLaunchCaptions(), (std::vector<std::string>{"Keldora Agent", "Empty"}));
    EXPECT_EQ(form->QuickLaunch().Items[1]->ImageIndex, -1);
    form->QuickLaunch().Items[1]->Click();
    AddRunValue(1, "Gone", "C:\\nowhere\\gone.exe /x");
    SendMessageA(form->Handle(), UM_REFRESH_MENU, 0, 0);
    ASSERT_EQ(QuickLaunchCaptions(), (std::vector<std::string>{"Keldora Agent", "Empty", "Gone"}));
    form->QuickLaunch().Items[2]->Click();
    PumpMessagesFor(200);
    EXPECT_TRUE(sandbox.Launches().empty());
    EXPECT_TRUE(sandbox.Messages().empty()) << "the agent shows nothing of its own";
    EXPECT_EQ(SendMessageA(form->Handle(), WM_QUERYENDSESSION, 0, 0), 1) << "still answering";
}

TEST_F(AgentForm, HundredRefreshesLeakNoGdiObjects)
{
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    AddRunValue(1, "Tool", recorder);
    AddRunValue(1, "Gone", "C:\\nowhere\\gone.exe");
    WriteFile(GetStpDesc(9).Path + "\\notes.txt", "n");
    Start();
    SendMessageA(form->Handle(), UM_REFRESH_MENU, 0, 0);
    const int before = CountGdiObjects();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 100; ++i)
        SendMessageA(form->Handle(), UM_REFRESH_MENU, 0, 0);
    EXPECT_LE(CountGdiObjects(), before + 2);
    EXPECT_EQ(QuickLaunchCaptions().size(), 4u);
}

TEST(AdminCheck, OnlyAnEnabledAdministratorsGroupCounts)
{
    UniqueKernelHandle process;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process.put()));
    EXPECT_TRUE(TokenHasEnabledAdministrators(process.get()));
    EXPECT_TRUE(IsUserAdmin());

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                         0, &admins));
    SID_AND_ATTRIBUTES denyOnly = {admins, 0};
    UniqueKernelHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(process.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, restricted.put()));
    FreeSid(admins);
    EXPECT_FALSE(TokenHasEnabledAdministrators(restricted.get()));

    UniqueKernelHandle impersonation;
    ASSERT_TRUE(DuplicateToken(restricted.get(), SecurityImpersonation, impersonation.put()));
    ASSERT_TRUE(SetThreadToken(nullptr, impersonation.get()));
    EXPECT_FALSE(IsUserAdmin()) << "the thread's token is asked first";
    RevertToSelf();
    EXPECT_TRUE(IsUserAdmin());
}
