#include "updater/auWebUpdateInfo.h"

#include "winutil/ComApartment.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Nothing listens there: the browser control is asked to load it, and shows nothing.
constexpr const char* kPage = "http://127.0.0.1:1/whatsnew.html";
constexpr const wchar_t* kPageW = L"http://127.0.0.1:1/whatsnew.html";

// What a timer saw of the window while its modal loop ran, and how it closed it.
struct ModalVisit {
    bool visible = false;
    bool disabledOthers = false;
    std::function<void(HWND)> close;
};

ModalVisit* g_visit = nullptr;
HWND g_other = nullptr;

void CALLBACK VisitOpenWindow(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    const HWND window = Tfrm_ShowInfoUpdate::Instance().Handle();
    g_visit->visible = IsWindowVisible(window) != FALSE;
    g_visit->disabledOthers = g_other && !IsWindowEnabled(g_other);
    g_visit->close(window);
}

// Runs ShowInfoUpdate with the show flag, closing the window from inside its loop.
bool ShowAndClose(const std::string& address, ModalVisit& visit)
{
    g_visit = &visit;
    SetTimer(nullptr, 0, 300, VisitOpenWindow);
    const bool result = ShowInfoUpdate(address, /*show=*/true);
    g_visit = nullptr;
    return result;
}

void PressOk(HWND window)
{
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Tfrm_ShowInfoUpdate::Instance().OkButton()));
}

void PressEscape(HWND window)
{
    const HWND button = Tfrm_ShowInfoUpdate::Instance().OkButton();
    SetFocus(button);
    PostMessageW(button, WM_KEYDOWN, VK_ESCAPE, 1);
    (void)window;
}

class WhatsNewTest : public ::testing::Test {
protected:
    ~WhatsNewTest() override { Tfrm_ShowInfoUpdate::FreeInstance(); }
    ComApartment apartment;
};

} // namespace

TEST_F(WhatsNewTest, FirstShowWithoutPreloadOpensEmptyAndOkReturnsTrue)
{
    ASSERT_EQ(Tfrm_ShowInfoUpdate::Existing(), nullptr);
    ModalVisit visit;
    visit.close = PressOk;
    EXPECT_TRUE(ShowAndClose("http://127.0.0.1:1/whatsnew.html", visit));
    EXPECT_TRUE(visit.visible);
    const Tfrm_ShowInfoUpdate& form = Tfrm_ShowInfoUpdate::Instance();
    EXPECT_FALSE(IsWindowVisible(form.Handle())) << "hidden between uses";
    EXPECT_TRUE(form.LocationURL().empty()) << "a window never preloaded loads no page";
    EXPECT_TRUE(form.HasBrowser()) << form.LastNavigationError();

    wchar_t caption[64] = {};
    GetWindowTextW(form.Handle(), caption, 64);
    EXPECT_STREQ(caption, L"What's New?");
    RECT outer;
    GetWindowRect(form.Handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 530);
    EXPECT_EQ(outer.bottom - outer.top, 453);
    EXPECT_EQ(GetWindowLongW(form.Handle(), GWL_STYLE) & WS_SYSMENU, 0) << "no caption buttons";
    GetWindowTextW(form.OkButton(), caption, 64);
    EXPECT_STREQ(caption, L"OK");
}

TEST_F(WhatsNewTest, PreloadNavigatesAndTheWindowOpensAgain)
{
    // The browser control's HTML engine is not installed here: the page is
    // requested but nothing is rendered; the window must still work.
    EXPECT_FALSE(ShowInfoUpdate(kPage, /*show=*/false));
    const Tfrm_ShowInfoUpdate& form = Tfrm_ShowInfoUpdate::Instance();
    EXPECT_FALSE(IsWindowVisible(form.Handle())) << "preloading keeps the window hidden";
    EXPECT_EQ(form.LastNavigationError(), "");
    EXPECT_EQ(form.LocationURL(), kPageW);

    ModalVisit escape;
    escape.close = PressEscape;
    EXPECT_FALSE(ShowAndClose("http://127.0.0.1:1/whatsnew.html", escape)) << "the close keystroke returns false";
    EXPECT_TRUE(escape.visible);
    EXPECT_EQ(form.LastNavigationError(), "");

    ModalVisit ok;
    ok.close = PressOk;
    EXPECT_TRUE(ShowAndClose("http://127.0.0.1:1/whatsnew.html", ok));
    ModalVisit closed;
    closed.close = [](HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); };
    EXPECT_FALSE(ShowAndClose("", closed));
    EXPECT_EQ(form.LastNavigationError(), "");
}

TEST_F(WhatsNewTest, ModalWindowDisablesTheOthersAndEmptyAddressesAreSkipped)
{
    UniqueWindow other(CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                       nullptr, GetModuleHandleW(nullptr), nullptr));
    g_other = other.get();
    EXPECT_FALSE(ShowInfoUpdate("", /*show=*/false));
    EXPECT_TRUE(Tfrm_ShowInfoUpdate::Instance().LocationURL().empty()) << "no navigation for an empty address";
    ModalVisit visit;
    visit.close = PressOk;
    EXPECT_TRUE(ShowAndClose("   ", visit));
    EXPECT_TRUE(visit.disabledOthers);
    EXPECT_TRUE(IsWindowEnabled(other.get())) << "enabled again after the window closed";
    g_other = nullptr;
}

TEST_F(WhatsNewTest, PluggedIntoTheAskDialogsPrompts)
{
    TauUpgraderPrompts prompts;
    PlugWhatsNewWindow(prompts);
    prompts.PreloadInfo(kPage);
    const Tfrm_ShowInfoUpdate& form = Tfrm_ShowInfoUpdate::Instance();
    EXPECT_FALSE(IsWindowVisible(form.Handle())) << "a preload shows nothing";
    EXPECT_EQ(form.LocationURL(), kPageW);

    ModalVisit visit;
    visit.close = PressOk;
    g_visit = &visit;
    SetTimer(nullptr, 0, 300, VisitOpenWindow);
    prompts.ShowInfo(kPage);
    g_visit = nullptr;
    EXPECT_TRUE(visit.visible) << "More Info shows the window";
}

TEST_F(WhatsNewTest, OnlyWebAddressesReachTheBrowser)
{
    const Tfrm_ShowInfoUpdate& form = Tfrm_ShowInfoUpdate::Instance();
    for (const char* address : {"file:///C:/windows/win.ini", "\\\\127.0.0.1\\share\\page.html",
                                "http://\\\\127.0.0.1\\share", "about:blank", "javascript:alert(1)"}) {
        EXPECT_FALSE(ShowInfoUpdate(address, /*show=*/false));
        EXPECT_EQ(form.LocationURL(), L"") << address;
        EXPECT_NE(form.LastNavigationError().find("not an http or https address"), std::string::npos) << address;
    }

    // A page loaded stays when the window is shown for a file address.
    EXPECT_FALSE(ShowInfoUpdate(kPage, /*show=*/false));
    ModalVisit visit;
    visit.close = PressOk;
    EXPECT_TRUE(ShowAndClose("file:///C:/windows/win.ini", visit));
    EXPECT_TRUE(visit.visible);
    EXPECT_EQ(form.LocationURL(), kPageW);
}
