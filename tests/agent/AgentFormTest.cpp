#include "agent/uAgentForm.h"

#include "AgentTestSupport.h"
#include "agent/AdminCheck.h"
#include "agent/AgentResources.h"
#include "agent/FileInfoManager.h"
#include "agent/uAppConfig.h"
#include "startup/StartupTestSupport.h"
#include "winutil/FindFiles.h"
#include "common/SystemFacts.h"
#include "common/WineSupport.h"
#include "winutil/ComApartment.h"
#include "winutil/UniqueShell.h"
#include "winutil/WideText.h"

#include <shlobj.h>

#include <algorithm>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

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
    void Start(std::optional<bool> machineWide = std::nullopt)
    {
        form = std::make_unique<TAgentForm>(TAgentOptions{sandbox.Folder(), UserFolder(), machineWide});
        Settle();
    }
    // Until the take-over, the menu and its pictures are done.
    void Settle() { ASSERT_TRUE(PumpUntil([&] { return !form->Busy(); }, 30000)); }
    void RefreshAndSettle()
    {
        SendMessageW(form->Handle(), UM_REFRESH_MENU, 0, 0);
        Settle();
    }
    void EndSession()
    {
        EXPECT_EQ(SendMessageW(form->Handle(), WM_QUERYENDSESSION, 0, 0), 1);
        SendMessageW(form->Handle(), WM_ENDSESSION, TRUE, 0);
    }
    std::string UserFolder() const { return sandbox.PathOf("user") + "\\"; }

    void Tray(UINT code) { SendMessageW(TCoolTrayIcon::HandlerWindow(), WM_TRAYNOTIFY, 1, code); }

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

// The icon drawn on white, as 32-bit pixels.
std::vector<BYTE> IconPixels(HICON icon)
{
    const int width = GetSystemMetrics(SM_CXSMICON), height = GetSystemMetrics(SM_CYSMICON);
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT all = {0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawIconEx(dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    SelectObject(dc, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<BYTE> pixels(static_cast<std::size_t>(width) * height * 4);
    GetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

bool QuitPosted()
{
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

UniqueIcon ResourceIcon(const wchar_t* name)
{
    return UniqueIcon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), name, IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
}

std::vector<BYTE> IconPixels(const UniqueIcon& icon)
{
    return IconPixels(icon.get());
}

std::string Hidden(const std::string& folder)
{
    return folder + "\\Keldora";
}

// The last take-over is waited for kLastTakeOverMs at most; one that runs
// longer (a busy machine) goes on alone, and the log says so.
bool RanLate(const std::string& log)
{
    return ReadFile(log).find("The last take-over did not end within") != std::string::npos;
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
    EXPECT_TRUE(GetFileAttributesW(WideFromUtf8(Hidden(GetStpDesc(9).Path)).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(StoreValue(0, "Keldora Agent", "CmdLine"), sandbox.Folder() + "kdAgent.exe");
    EXPECT_EQ(StoreValue(0, "Keldora Agent", "Desc"), "Keldora Agent");

    EXPECT_EQ(ReadFile(sandbox.PathOf("config.dat")), "[Common]\r\nShowBallon=0\r\n\r\n[Setup]\r\nShowIcon=1\r\nAutoCheck=1\r\n");
    EXPECT_TRUE(form->ShowBalloon()) << "first run";
    EXPECT_EQ(form->CoolTrayIcon().BalloonText(), LoadResourceString(IDS_BALLOON_TEXT));
    EXPECT_EQ(form->TimerInterval(), 300000u);
    EXPECT_TRUE(form->Created());
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
    wchar_t caption[128] = {};
    GetWindowTextW(form->Handle(), caption, 128);
    EXPECT_STREQ(caption, L"Keldora! 2004 - Agent");
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
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_BITMAP;
        GetMenuItemInfoW(quickLaunch, i, TRUE, &info);
        pictures.push_back(info.hbmpItem == HBMMENU_CALLBACK);
    }
    EXPECT_EQ(pictures, (std::vector<bool>{true, true, false, true, true, true})) << "a missing program has none";
    EXPECT_EQ(ImageList_GetImageCount(FileInfoManager().SmallImages()), 4) << "one picture per icon text";
    EXPECT_EQ(form->QuickLaunch().Items[0]->ImageIndex, form->QuickLaunch().Items[3]->ImageIndex);
}

// Started unelevated (the test runs elevated, as Wine's programs do), and a
// shortcut as Explorer starts it: minimised, in its working folder.
TEST_F(AgentForm, ChosenQuickLaunchEntryStartsItsCommandUnelevatedWithoutWaiting)
{
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    AddRunValue(0, "Tool", recorder + " --chosen");
    const std::string work = sandbox.PathOf("Work");
    ASSERT_TRUE(ForceDirectories(work));
    {
        const ComApartment com;
        UniqueCom<IShellLinkW> link;
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                                  reinterpret_cast<void**>(link.put())));
        link.get()->SetPath(WideFromUtf8(recorder).c_str());
        link.get()->SetArguments(L"--from-link");
        link.get()->SetWorkingDirectory(WideFromUtf8(work).c_str());
        link.get()->SetShowCmd(SW_SHOWMINNOACTIVE);
        UniqueCom<IPersistFile> file;
        ASSERT_HRESULT_SUCCEEDED(link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())));
        ASSERT_HRESULT_SUCCEEDED(file.get()->Save(WideFromUtf8(GetStpDesc(9).Path + "\\Minimised.lnk").c_str(), TRUE));
    }
    Start();
    PopupWith({[] { SendKeysToOpenMenu({VK_DOWN, VK_DOWN, VK_RIGHT, VK_RETURN}); }});
    EXPECT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 1; }));
    EXPECT_EQ(sandbox.Launches().at(0), "\"" + recorder + "\" --chosen");
    const std::vector<std::string> captions = QuickLaunchCaptions();
    const auto link = std::find(captions.begin(), captions.end(), "Minimised");
    ASSERT_NE(link, captions.end());
    form->QuickLaunch().Items.at(static_cast<std::size_t>(link - captions.begin()))->Click();
    EXPECT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 2; }));
    EXPECT_EQ(sandbox.Launches().at(1), "\"" + recorder + "\" --from-link");
    const std::string records = ReadFile(sandbox.PathOf("launches.log"));
    EXPECT_EQ(records.find("admin=elevated"), std::string::npos) << records;
    EXPECT_NE(records.find("cwd=" + work + "\r\nshow=7\r\nadmin=filtered\r\n"), std::string::npos) << records;
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

    SendMessageW(form->Handle(), UM_SHOW_TRAY_ICON, 1, 0);
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
    EXPECT_TRUE(noIcon.Checked);
    EXPECT_EQ(ConfigInteger("Setup\\ShowIcon"), 0) << "the message stores nothing";
    SendMessageW(form->Handle(), UM_SHOW_TRAY_ICON, 0x100, 0);
    EXPECT_FALSE(form->CoolTrayIcon().IconVisible()) << "only the low byte counts";
    EXPECT_EQ(sandbox.Messages().size(), 1u);
}

TEST_F(AgentForm, StoredSettingsHideTheIconAndTheBalloonShowsOnTheFirstRunOnly)
{
    WriteFile(sandbox.PathOf("config.dat"), "[setup]\r\nshowicon=0\r\n[Other]\r\nKeep=1\r\n");
    Start();
    EXPECT_FALSE(form->CoolTrayIcon().IconVisible());
    EXPECT_EQ(form->CoolTrayIcon().BalloonText(), "") << "no balloon without the icon, even on a first run";
    EXPECT_FALSE(form->PopupMenu().Items.Items.at(2)->Checked);
    EXPECT_EQ(ConfigInteger("Other\\Keep"), 1);
    EXPECT_EQ(ConfigInteger("Common\\ShowBallon"), 0);
    form.reset();
    EXPECT_FALSE(QuitPosted());
    WriteFile(sandbox.PathOf("config.dat"), "[Setup]\r\nShowIcon=1\r\n[Common]\r\nShowBallon=0\r\n");
    Start();
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
    EXPECT_FALSE(form->ShowBalloon());
    EXPECT_EQ(form->CoolTrayIcon().BalloonText(), "");
}

TEST_F(AgentForm, HugeSettingsFileIsLeftAloneAndTheDefaultsApply)
{
    const std::string huge = "[Setup]\r\nShowIcon=0\r\n" + std::string(2 * 1024 * 1024, ';');
    WriteFile(sandbox.PathOf("config.dat"), huge);
    Start();
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
    EXPECT_EQ(ReadFile(sandbox.PathOf("config.dat")).size(), huge.size());
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

TEST_F(AgentForm, LockedSettingsFileLeavesTheIconOn)
{
    WriteFile(sandbox.PathOf("config.dat"), "[Setup]\r\nShowIcon=1\r\n");
    UniqueFile lock(CreateFileW(WideFromUtf8(sandbox.PathOf("config.dat")).c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    Start();
    EXPECT_TRUE(form->ShowIcon());
    EXPECT_TRUE(form->CoolTrayIcon().IconVisible());
}

TEST_F(AgentForm, RefreshAskedForDuringThePopupRebuildsTheMenuRightAfterIt)
{
    Start();
    std::vector<std::string> captionsWhileOpen;
    const HWND window = form->Handle();
    PopupWith({[&] {
                   AddRunValue(1, "Late", "C:\\late.exe");
                   SendMessageW(window, UM_REFRESH_MENU, 0, 0);
                   SendMessageW(window, WM_TIMER, kRefreshTimerId, 0);
               },
               [&] {
                   // The take-over goes on meanwhile; the open menu stays as it is.
                   WaitUntil([] { return StoreHasItem(1, "Late"); }, 30000);
                   captionsWhileOpen = QuickLaunchCaptions();
               },
               [] { SendKeysToOpenMenu({VK_ESCAPE, VK_ESCAPE}); }});
    EXPECT_EQ(captionsWhileOpen, (std::vector<std::string>{"Keldora Agent"}));
    EXPECT_TRUE(StoreHasItem(1, "Late"));
    Settle();
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
                   answer = SendMessageW(window, WM_QUERYENDSESSION, 0, 0);
                   SendMessageW(window, UM_REFRESH_MENU, 0, 0);
               },
               [] { WaitUntil([] { return StoreHasItem(1, "Second"); }, 30000); },
               [] { SendKeysToOpenMenu({VK_DOWN, VK_DOWN, VK_RIGHT, VK_DOWN, VK_RETURN}); }});
    EXPECT_EQ(answer, 1);
    Settle();
    EXPECT_EQ(QuickLaunchCaptions(), (std::vector<std::string>{"Keldora Agent", "Second"}));
    EXPECT_TRUE(WaitUntil([&] { return sandbox.Launches().size() == 1; }));
    EXPECT_EQ(sandbox.Launches().at(0), "\"" + recorder + "\" --first");
}

TEST_F(AgentForm, QuitDuringThePopupClosesItAndSkipsTheLastTakeOver)
{
    Start();
    const HWND window = form->Handle();
    PopupWith({[window] { SendMessageW(window, UM_QUIT, 0, 0); }});
    EXPECT_TRUE(form->Quitting());
    EXPECT_TRUE(PumpUntil(QuitPosted, 30000));
    AddRunValue(1, "AfterQuit", "C:\\after.exe");
    EndSession();
    SendMessageW(window, WM_TIMER, kRefreshTimerId, 0);
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
    const std::string log = form->LogFile();
    form.reset();
    EXPECT_TRUE(StoreHasItem(1, "AtExit") || RanLate(log));
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "AtExit"); })) << "a late one goes on";
}

TEST_F(AgentForm, ManagerErrorIsShownOnceLoggedEachTimeAndTheOtherLocationsGoOn)
{
    WriteFile(GetStpDesc(9).Path + "\\Keldora", "a file where the store folder belongs");
    AddRunValue(1, "UserTool", "C:\\user.exe");
    Start();
    ASSERT_EQ(sandbox.Messages().size(), 1u);
    EXPECT_NE(sandbox.Messages()[0].find("|10|Unable to setup startup items from dir:"), std::string::npos)
        << sandbox.Messages()[0];
    EXPECT_TRUE(StoreHasItem(1, "UserTool"));
    RefreshAndSettle();
    EXPECT_EQ(sandbox.Messages().size(), 1u) << "the same message is not shown twice";
    RefreshAndSettle();
    EXPECT_EQ(sandbox.Messages().size(), 1u);
    const std::string log = ReadFile(form->LogFile());
    std::size_t occurrences = 0;
    for (std::size_t at = log.find("Unable to setup"); at != std::string::npos; at = log.find("Unable to setup", at + 1))
        ++occurrences;
    // The live watch may add a take-over of its own (the store's first
    // writes land in a watched folder): each logs the failure again.
    EXPECT_GE(occurrences, 3u) << log;
    EXPECT_LE(occurrences, 4u) << log;
    DeleteFileW(WideFromUtf8(GetStpDesc(9).Path + "\\Keldora").c_str());
    RefreshAndSettle();
    EXPECT_EQ(sandbox.Messages().size(), 1u);
    EXPECT_EQ(QuickLaunchCaptions(), (std::vector<std::string>{"Keldora Agent", "UserTool"}));
}

TEST_F(AgentForm, EndOfSessionTakesOverOnceMoreShowsNoBoxAndRebuildsNothing)
{
    Start();
    ClearLocation(9);
    WriteFile(GetStpDesc(9).Path + "\\Keldora", "a file where the store folder belongs");
    AddRunValue(1, "AtLogoff", "C:\\at-logoff.exe");
    EXPECT_EQ(SendMessageW(form->Handle(), WM_QUERYENDSESSION, 0, 0), 1);
    SendMessageW(form->Handle(), WM_ENDSESSION, FALSE, 0);
    EXPECT_FALSE(StoreHasItem(1, "AtLogoff")) << "another program refused: the session goes on";
    SendMessageW(form->Handle(), WM_ENDSESSION, TRUE, 0);
    // A late take-over drops its reports: the answer has gone, and nobody reads them.
    const bool late = RanLate(form->LogFile());
    EXPECT_TRUE(StoreHasItem(1, "AtLogoff") || late);
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(1, "AtLogoff"); }));
    PumpMessagesFor(300);
    EXPECT_EQ(QuickLaunchCaptions(), (std::vector<std::string>{"Keldora Agent"})) << "no menu rebuilt";
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
    EXPECT_TRUE(late ||
                ReadFile(form->LogFile()).find("Unable to setup startup items from dir:") != std::string::npos);
    DeleteFileW(WideFromUtf8(GetStpDesc(9).Path + "\\Keldora").c_str());
}

TEST_F(AgentForm, WithoutElevationOnlyTheUsersLocationsAreTakenOverAndTheBalloonSaysWhy)
{
    AddRunValue(0, "MachineTool", "C:\\machine.exe");
    AddRunValue(1, "UserTool", "C:\\user.exe");
    const RegKey stored = RegKey::Create(HKEY_LOCAL_MACHINE, GetStpDesc(0).Path + "\\Keldora\\Stored", KEY_ALL_ACCESS);
    EXPECT_EQ(stored.WriteString("Desc", "Stored"), ERROR_SUCCESS);
    EXPECT_EQ(stored.WriteString("CmdLine", "C:\\stored.exe"), ERROR_SUCCESS);
    Start(/*machineWide=*/false);
    EXPECT_FALSE(form->MachineWide());
    EXPECT_TRUE(StoreHasItem(1, "UserTool"));
    EXPECT_FALSE(StoreHasItem(0, "MachineTool"));
    EXPECT_FALSE(StoreHasItem(0, "Keldora Agent"));
    EXPECT_EQ(StoreValue(1, "Keldora Agent", "CmdLine"), sandbox.Folder() + "kdAgent.exe");
    const std::vector<std::string> captions = QuickLaunchCaptions();
    EXPECT_NE(std::find(captions.begin(), captions.end(), "Stored"), captions.end()) << "stored items stay listed";
    EXPECT_EQ(form->CoolTrayIcon().BalloonText(),
              LoadResourceString(IDS_BALLOON_TEXT) + "\r\n" + LoadResourceString(IDS_NEED_ELEVATION));
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

TEST_F(AgentForm, RefreshItemTakesOverAndTheTrayIconFollowsTheWindowsVersion)
{
    Start();
    AddRunValue(1, "ByMenu", "C:\\by-menu.exe");
    TMenuItem& refresh = *form->PopupMenu().Items.Items.at(4);
    ASSERT_EQ(refresh.Caption, "&Refresh");
    refresh.Click();
    Settle();
    EXPECT_TRUE(StoreHasItem(1, "ByMenu"));
    EXPECT_EQ(IconPixels(form->CoolTrayIcon().Icon()), IconPixels(ResourceIcon(TrayIconResource(GetWindowsKind()))));
    EXPECT_STREQ(TrayIconResource(11), L"ICO_TRAY") << "Windows XP";
    for (const std::uint8_t kind : {0, 1, 10})
        EXPECT_STREQ(TrayIconResource(kind), L"ICO_TRAY16") << int(kind);
    EXPECT_NE(IconPixels(ResourceIcon(L"ICO_TRAY")), IconPixels(ResourceIcon(L"ICO_TRAY16")));
}

TEST_F(AgentForm, SettingsGoToTheUsersCopyWhenTheSharedFileCannotBeWritten)
{
    WriteFile(sandbox.PathOf("config.dat"), "[Setup]\r\nShowIcon=1\r\n");
    // Readable by all, writable by none while the lock is held.
    UniqueFile lock(CreateFileW(WideFromUtf8(sandbox.PathOf("config.dat")).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    Start();
    EXPECT_EQ(form->CoolTrayIcon().BalloonText(), LoadResourceString(IDS_BALLOON_TEXT));
    EXPECT_EQ(ReadFile(UserFolder() + "config.dat"), "[Common]\r\nShowBallon=0\r\n\r\n[Setup]\r\nShowIcon=1\r\n");
    form.reset();
    Start();
    EXPECT_EQ(form->CoolTrayIcon().BalloonText(), "") << "the first run is remembered";
    lock.reset();
    form->PopupMenu().Items.Items.at(2)->Click();
    EXPECT_EQ(ConfigInteger("Setup\\ShowIcon"), 0);
    EXPECT_NE(ReadFile(UserFolder() + "config.dat").find("ShowIcon=0"), std::string::npos) << "kept in step";
}

TEST_F(AgentForm, RunValueThatIsNoTextIsReportedOnceAndTheRestIsTakenOver)
{
    const RegKey run = OpenRunKey(1);
    const DWORD number = 7;
    RegSetValueExW(run.get(), L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    AddRunValue(1, "UserTool", "C:\\user.exe");
    Start();
    RefreshAndSettle();
    ASSERT_EQ(sandbox.Messages().size(), 1u);
    EXPECT_NE(sandbox.Messages()[0].find("\"Number\""), std::string::npos) << sandbox.Messages()[0];
    EXPECT_TRUE(StoreHasItem(1, "UserTool"));
    EXPECT_TRUE(run.HasValue("Number")) << "nothing lost";
}

TEST_F(AgentForm, FailureToRegisterItselfEndsTheCreationWithItsErrorShown)
{
    const RegKey store =
        RegKey::Create(HKEY_CURRENT_USER, GetStpDesc(1).Path + "\\Keldora\\Keldora Agent", KEY_ALL_ACCESS);
    ASSERT_TRUE(store);
    // An empty access list: nobody may open the agent's item key.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ACL empty;
    InitializeAcl(&empty, sizeof empty, ACL_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE);
    ASSERT_EQ(RegSetKeySecurity(store.get(), DACL_SECURITY_INFORMATION, &descriptor), ERROR_SUCCESS);
    Start(/*machineWide=*/false);
    EXPECT_FALSE(form->Created());
    ASSERT_EQ(sandbox.Messages().size(), 1u);
    EXPECT_NE(sandbox.Messages()[0].find("|10|Unable to register Keldora Agent"), std::string::npos)
        << sandbox.Messages()[0];
    form.reset();
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    RegSetKeySecurity(store.get(), DACL_SECURITY_INFORMATION, &descriptor);
}

TEST_F(AgentForm, OnlyTheShellsMessageComesInFromBelowAndTheProductsStillWorkAtTheSameLevel)
{
    Start();
    EXPECT_NE(AllowShellMessages(form->Handle()), TMessageFilter::mfFailed);
    EXPECT_NE(AllowShellMessages(TCoolTrayIcon::HandlerWindow()), TMessageFilter::mfFailed);
    const std::vector<UINT> fromBelow = MessagesFromLowerIntegrity();
    EXPECT_EQ(fromBelow, std::vector<UINT>{RegisterWindowMessageW(L"TaskbarCreated")});
    for (const UINT message : {UM_QUIT, UM_SHOW_TRAY_ICON, UM_REFRESH_MENU})
        EXPECT_EQ(std::count(fromBelow.begin(), fromBelow.end(), message), 0) << message;
    // From a program at the agent's own level (this test, another thread):
    // the system filters nothing, and the messages act.
    const HWND window = form->Handle();
    std::thread sender([window] { SendMessageW(window, UM_SHOW_TRAY_ICON, 0, 0); });
    EXPECT_TRUE(PumpUntil([&] { return !form->CoolTrayIcon().IconVisible(); }, 30000));
    sender.join();
}

TEST_F(AgentForm, EntriesWithoutCommandLineOrProgramShowWithoutPictureAndStartNothing)
{
    const RegKey item = RegKey::Create(HKEY_CURRENT_USER,
                                       GetStpDesc(1).Path + "\\Keldora\\Empty", KEY_ALL_ACCESS);
    EXPECT_EQ(item.WriteString("Desc", "Empty"), ERROR_SUCCESS);
    EXPECT_EQ(item.WriteString("CmdLine", ""), ERROR_SUCCESS);
    EXPECT_EQ(item.WriteString("Icon", ""), ERROR_SUCCESS);
    EXPECT_EQ(item.WriteDword("Order", 5), ERROR_SUCCESS);
    Start();
    ASSERT_EQ(QuickLaunchCaptions(), (std::vector<std::string>{"Keldora Agent", "Empty"}));
    EXPECT_EQ(form->QuickLaunch().Items[1]->ImageIndex, -1);
    form->QuickLaunch().Items[1]->Click();
    AddRunValue(1, "Gone", "C:\\nowhere\\gone.exe /x");
    AddRunValue(1, "On share", "\\\\192.0.2.1\\share\\x.exe /s");
    RefreshAndSettle();
    ASSERT_EQ(QuickLaunchCaptions(), (std::vector<std::string>{"Keldora Agent", "Empty", "Gone", "On share"}));
    EXPECT_EQ(form->QuickLaunch().Items[3]->ImageIndex, -1);
    form->QuickLaunch().Items[2]->Click();
    form->QuickLaunch().Items[3]->Click();
    PumpMessagesFor(500);
    EXPECT_TRUE(sandbox.Launches().empty());
    EXPECT_TRUE(sandbox.Messages().empty()) << "the agent shows nothing of its own";
    EXPECT_EQ(SendMessageW(form->Handle(), WM_QUERYENDSESSION, 0, 0), 1) << "still answering";
}

TEST_F(AgentForm, HundredRefreshesLeakNoGdiObjects)
{
    const std::string recorder = sandbox.AddRecorder("tool.exe");
    AddRunValue(1, "Tool", recorder);
    AddRunValue(1, "Gone", "C:\\nowhere\\gone.exe");
    WriteFile(GetStpDesc(9).Path + "\\notes.txt", "n");
    Start();
    RefreshAndSettle();
    const int before = CountGdiObjects();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 100; ++i)
        RefreshAndSettle();
    EXPECT_LE(CountGdiObjects(), before + 2);
    EXPECT_EQ(QuickLaunchCaptions().size(), 4u);
}

TEST(AdminCheck, TheGroupCountsEnabledOrDenyOnlyAndOnlyEnabledMeansElevated)
{
    UniqueKernelHandle process;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process.put()));
    EXPECT_EQ(TokenAdminState(process.get()), TAdminState::asElevated);
    EXPECT_TRUE(IsUserAdmin());

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                         0, &admins));
    SID_AND_ATTRIBUTES denyOnly = {admins, 0};
    UniqueKernelHandle restricted;
    ASSERT_TRUE(CreateRestrictedToken(process.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, restricted.put()));
    EXPECT_EQ(TokenAdminState(restricted.get()), TAdminState::asFiltered);

    // A group list without the Administrators group (Wine makes no such token).
    PSID users = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0,
                                         0, &users));
    TOKEN_GROUPS plainUser = {1, {{users, SE_GROUP_ENABLED | SE_GROUP_MANDATORY}}};
    EXPECT_EQ(AdministratorsIn(plainUser), TAdminState::asNone);
    TOKEN_GROUPS asAdmin = {1, {{admins, SE_GROUP_ENABLED}}};
    EXPECT_EQ(AdministratorsIn(asAdmin), TAdminState::asElevated);
    TOKEN_GROUPS filtered = {1, {{admins, SE_GROUP_USE_FOR_DENY_ONLY}}};
    EXPECT_EQ(AdministratorsIn(filtered), TAdminState::asFiltered);
    FreeSid(users);
    FreeSid(admins);

    UniqueKernelHandle impersonation;
    ASSERT_TRUE(DuplicateToken(restricted.get(), SecurityImpersonation, impersonation.put()));
    ASSERT_TRUE(SetThreadToken(nullptr, impersonation.get()));
    EXPECT_EQ(CurrentAdminState(), TAdminState::asFiltered) << "the thread's token is asked first";
    EXPECT_TRUE(IsUserAdmin());
    RevertToSelf();
    EXPECT_EQ(CurrentAdminState(), TAdminState::asElevated);
}

TEST(AgentFormFolders, SettingsAndLogLiveInFoldersOutsideTheCodePage)
{
    AgentSandbox sandbox("\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\xd1\x80\xd0\xb0\xd0\xbc\xd0\xbc\xd1\x8b\\J\xc3\xb6rg "
                         "\xe4\xba\xa7\xe5\x93\x81 ");
    const std::string user = sandbox.PathOf("\xe7\x94\xa8\xe6\x88\xb7") + "\\";
    const std::string blocker = GetStpDesc(9).Path + "\\Keldora";
    WriteFile(blocker, "a file where the store folder belongs");
    {
        const TAgentForm form(TAgentOptions{sandbox.Folder(), user, std::nullopt});
        ASSERT_TRUE(PumpUntil([&] { return !form.Busy(); }, 30000));
        EXPECT_TRUE(form.Created());
        EXPECT_EQ(form.LogFile(), user + "kdAgent.log");
        EXPECT_NE(ReadFile(form.LogFile()).find("Unable to setup startup items from dir:"), std::string::npos);
        EXPECT_EQ(ReadFile(sandbox.PathOf("config.dat")),
                  "[Common]\r\nShowBallon=0\r\n\r\n[Setup]\r\nShowIcon=1\r\nAutoCheck=1\r\n");
        EXPECT_EQ(StoreValue(0, "Keldora Agent", "CmdLine"), sandbox.Folder() + "kdAgent.exe");
    }
    ASSERT_EQ(sandbox.Messages().size(), 1u);
    EXPECT_NE(sandbox.Messages()[0].find("Unable to setup startup items from dir:"), std::string::npos);
    DeleteFileW(WideFromUtf8(blocker).c_str());
}
