#include "agent/CoolTrayIcon.h"

#include "AgentTestSupport.h"
#include "common/AppMessages.h"
#include "winutil/UniqueShell.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

UniqueIcon TestIcon()
{
    return UniqueIcon(CopyIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(32512))));  // the application icon
}

// The shell answers a change only for an icon it holds.
bool ShellHolds(const TCoolTrayIcon& tray)
{
    NOTIFYICONDATAW data = tray.NotifyData(NIF_TIP);
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

void SendNotify(const TCoolTrayIcon& tray, UINT code)
{
    SendMessageW(TCoolTrayIcon::HandlerWindow(), WM_TRAYNOTIFY, tray.Id(), code);
}

void CALLBACK ChooseSecondEntry(HWND, UINT, UINT_PTR, DWORD)
{
    SendKeysToOpenMenu({VK_DOWN, VK_DOWN, VK_RETURN});
}

} // namespace

TEST(CoolTrayIcon, RecordHasTheBalloonLayoutAndCutsTheHintBetweenCharacters)
{
    EXPECT_EQ(NotifyIconDataSize(), NOTIFYICONDATAW_V2_SIZE);
    TCoolTrayIcon tray(nullptr);
    tray.SetHint(std::string(200, 'h'));
    NOTIFYICONDATAW data = tray.NotifyData(kTrayFlags);
    EXPECT_EQ(data.cbSize, NOTIFYICONDATAW_V2_SIZE);
    EXPECT_EQ(std::wstring(data.szTip), std::wstring(127, L'h'));
    EXPECT_EQ(data.uCallbackMessage, 2048u);
    EXPECT_EQ(data.uFlags, 7u);
    std::string japanese, emoji;
    for (int i = 0; i < 200; ++i) {
        japanese += "\xe6\x97\xa5";
        emoji += "\xf0\x9f\x98\x80";
    }
    tray.SetHint(japanese);
    EXPECT_EQ(std::wstring(tray.NotifyData(kTrayFlags).szTip), std::wstring(127, L'\x65e5'));
    tray.SetHint(emoji);
    const std::wstring pairs = tray.NotifyData(kTrayFlags).szTip;
    EXPECT_EQ(pairs.size(), 126u) << "a surrogate pair is never split";
    EXPECT_EQ(pairs.substr(0, 2), L"\xD83D\xDE00");
    tray.SetShowHint(false);
    EXPECT_STREQ(tray.NotifyData(kTrayFlags).szTip, L"");
}

TEST(CoolTrayIcon, ShowHideAndBackAfterTaskbarRestart)
{
    TCoolTrayIcon tray(nullptr);
    tray.SetIcon(TestIcon());
    tray.SetHint("Keldora test");
    tray.SetIconVisible(true);
    EXPECT_TRUE(tray.IconVisible());
    EXPECT_TRUE(ShellHolds(tray));

    // A new taskbar knows none of the old icons.
    NOTIFYICONDATAW data = tray.NotifyData(0);
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    EXPECT_FALSE(ShellHolds(tray));
    SendMessageW(TCoolTrayIcon::HandlerWindow(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(ShellHolds(tray));

    tray.SetIconVisible(false);
    EXPECT_FALSE(ShellHolds(tray));
    SendMessageW(TCoolTrayIcon::HandlerWindow(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_FALSE(ShellHolds(tray)) << "a hidden icon stays hidden";
}

TEST(CoolTrayIcon, BalloonFields)
{
    TCoolTrayIcon tray(nullptr);
    tray.SetIcon(TestIcon());
    tray.SetIconVisible(true);
    EXPECT_TRUE(tray.ShowBalloonHint(
        std::string(80, 't'), "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 J\xc3\xb6rg \xe4\xbd\xa0\xe5\xa5\xbd",
        TBalloonHintIcon::bitInfo, 10));
    const NOTIFYICONDATAW data = tray.NotifyData(kTrayFlags | NIF_INFO);
    EXPECT_EQ(data.uTimeout, 10000u);
    EXPECT_EQ(data.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
    EXPECT_EQ(std::wstring(data.szInfoTitle).size(), 63u);
    EXPECT_STREQ(data.szInfo, L"\x41f\x440\x438\x432\x435\x442 J\xf6rg \x4f60\x597d");
    EXPECT_TRUE(tray.HideBalloonHint());
    EXPECT_STREQ(tray.NotifyData(kTrayFlags | NIF_INFO).szInfo, L"");
}

TEST(CoolTrayIcon, ClickWithoutDoubleClickHandlerIsReportedAtOnce)
{
    TCoolTrayIcon tray(nullptr);
    int clicks = 0;
    tray.OnClick = [&clicks] { ++clicks; };
    SendNotify(tray, WM_LBUTTONDOWN);
    SendNotify(tray, WM_LBUTTONUP);
    EXPECT_EQ(clicks, 1);
    tray.Enabled = false;
    SendNotify(tray, WM_LBUTTONDOWN);
    SendNotify(tray, WM_LBUTTONUP);
    EXPECT_EQ(clicks, 1);
}

TEST(CoolTrayIcon, DoubleClickRunsTheHandlerThenTheDefaultItemAndNoClick)
{
    TCoolTrayIcon tray(nullptr);
    TPopupMenu menu;
    std::vector<std::string> events;
    auto item = std::make_shared<TMenuItem>("&Config");
    item->Default = true;
    item->OnClick = [&events](TMenuItem&) { events.push_back("default item"); };
    menu.Items.Add(std::make_shared<TMenuItem>("Other"));
    menu.Items.Add(item);
    tray.PopupMenu = &menu;
    tray.OnClick = [&events] { events.push_back("click"); };
    tray.OnDblClick = [&events] { events.push_back("double-click"); };
    for (UINT code : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        SendNotify(tray, code);
    PumpMessagesFor(GetDoubleClickTime() + 200);
    EXPECT_EQ(events, (std::vector<std::string>{"double-click", "default item"}));

    events.clear();
    SendNotify(tray, WM_LBUTTONDOWN);
    SendNotify(tray, WM_LBUTTONUP);
    EXPECT_TRUE(events.empty()) << "the click waits for the double-click time";
    EXPECT_TRUE(PumpUntil([&] { return !events.empty(); }, 30000));
    EXPECT_EQ(events, std::vector<std::string>{"click"});
}

TEST(CoolTrayIcon, RightButtonOpensTheMenuAndTheChosenItemRuns)
{
    TCoolTrayIcon tray(nullptr);
    TPopupMenu menu;
    int opened = 0, closed = 0;
    std::string chosen;
    menu.OnPopup = [&opened] { ++opened; };
    menu.OnClose = [&closed] { ++closed; };
    for (const char* caption : {"First", "Second"}) {
        auto item = std::make_shared<TMenuItem>(caption);
        item->OnClick = [&chosen](TMenuItem& sender) { chosen = sender.Caption; };
        menu.Items.Add(item);
    }
    tray.PopupMenu = &menu;
    // The menu's modal loop runs this timer: choose the second entry.
    const UINT_PTR timer = SetTimer(nullptr, 0, 200, ChooseSecondEntry);
    SendNotify(tray, WM_RBUTTONDOWN);
    KillTimer(nullptr, timer);
    EXPECT_EQ(chosen, "Second");
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 1);
}

TEST(CoolTrayIcon, BalloonClickAndExceptionsStayInside)
{
    TCoolTrayIcon tray(nullptr);
    int balloonClicks = 0;
    tray.OnBalloonHintClick = [&balloonClicks] { ++balloonClicks; };
    SendNotify(tray, WM_USER + 5);
    EXPECT_EQ(balloonClicks, 1);

    std::string reported;
    SetErrorHandler([&reported](const std::string& message) { reported = message; });
    tray.OnClick = [] { throw std::runtime_error("handler failed"); };
    SendNotify(tray, WM_LBUTTONDOWN);
    SendNotify(tray, WM_LBUTTONUP);
    EXPECT_EQ(reported, "handler failed");
    SetErrorHandler(nullptr);
}

TEST(CoolTrayIcon, StartupAnswerHidesTheOwnerAndMinimisingGoesToTheTray)
{
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner);
    {
        TCoolTrayIcon tray(owner);
        tray.SetIcon(TestIcon());
        tray.OnStartup = [](bool& show) { show = false; };
        tray.Loaded();
        EXPECT_FALSE(IsWindowVisible(owner));
        EXPECT_FALSE(tray.IconVisible());

        ShowWindow(owner, SW_SHOW);
        tray.MinimizeToTray = true;
        int minimised = 0;
        tray.OnMinimizeToTray = [&minimised] { ++minimised; };
        SendMessageW(owner, WM_SIZE, SIZE_MINIMIZED, 0);
        EXPECT_FALSE(IsWindowVisible(owner));
        EXPECT_TRUE(tray.IconVisible());
        EXPECT_EQ(minimised, 1);
    }
    SendMessageW(owner, WM_SIZE, SIZE_MINIMIZED, 0);
    DestroyWindow(owner);
}

TEST(CoolTrayIcon, CyclesThroughTheImageList)
{
    UniqueImageList list(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 1));
    for (int i = 0; i < 3; ++i) {
        UniqueIcon icon = TestIcon();
        ImageList_AddIcon(list.get(), icon.get());
    }
    TCoolTrayIcon tray(nullptr);
    tray.SetIconList(list.get());
    tray.SetIconIndex(7);
    EXPECT_EQ(tray.IconIndex(), 2) << "clamped to the last image";
    tray.SetIconIndex(0);
    std::vector<int> next;
    tray.OnCycle = [&next](int index) { next.push_back(index); };
    tray.SetCycleInterval(10);
    tray.SetCycleIcons(true);
    PumpUntil([&] { return next.size() >= 4; }, 30000);
    tray.SetCycleIcons(false);
    ASSERT_GE(next.size(), 4u);
    EXPECT_EQ(std::vector<int>(next.begin(), next.begin() + 4), (std::vector<int>{1, 2, 0, 1}));
    EXPECT_TRUE(tray.Icon());
}
