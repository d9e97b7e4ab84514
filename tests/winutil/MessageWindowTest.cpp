#include "winutil/MessageWindow.h"
#include "winutil/SharedMessageWindow.h"

#include "common/AppMessages.h"
#include "common/WineSupport.h"
#include "winutil/ErrorText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

using keldora::winutil::MessageWindow;
using keldora::winutil::MessageWindowOptions;
using keldora::winutil::SharedMessageWindow;
using keldora::winutil::WindowKind;

namespace {

constexpr UINT kPing = WM_APP + 7;
constexpr DWORD kHalfAMinute = 30000;

} // namespace

TEST(MessageWindow, AMessageOnlyWindowAnswersOnItsOwnThreadAndGoesWithItsObject)
{
    const DWORD ownThread = GetCurrentThreadId();
    DWORD calledOn = 0;
    HWND handle = nullptr;
    {
        MessageWindow window({.className = "KdTestMessageOnly"},
                             [&](UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
                                 if (message != kPing)
                                     return false;
                                 calledOn = GetCurrentThreadId();
                                 result = static_cast<LRESULT>(wParam) + 1;
                                 return true;
                             });
        handle = window.get();
        ASSERT_NE(handle, nullptr);
        EXPECT_NE(GetAncestor(handle, GA_PARENT), GetDesktopWindow()) << "not a top-level window";
        EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"KdTestMessageOnly", nullptr), handle);

        std::atomic<LRESULT> answer{0};
        std::atomic<bool> sent{false};
        std::thread sender([&] {
            answer = SendMessageW(handle, kPing, 41, 0);
            sent = true;
        });
        EXPECT_TRUE(PumpUntil([&] { return sent.load(); }, kHalfAMinute));
        sender.join();
        EXPECT_EQ(answer.load(), 42);
        EXPECT_EQ(calledOn, ownThread) << "a message sent from another thread runs on the window's thread";
        EXPECT_EQ(SendMessageW(handle, WM_GETTEXTLENGTH, 0, 0), 0)
            << "what the callback leaves has the default handling";
    }
    EXPECT_FALSE(IsWindow(handle));
}

TEST(MessageWindow, TheCallbackMayDestroyItsOwnWindow)
{
    std::unique_ptr<MessageWindow> window;
    window = std::make_unique<MessageWindow>(
        MessageWindowOptions{}, [&window](UINT message, WPARAM, LPARAM, LRESULT& result) {
            if (message != kPing)
                return false;
            window.reset();
            result = 7;
            return true;
        });
    const HWND handle = window->get();
    EXPECT_EQ(SendMessageW(handle, kPing, 0, 0), 7);
    EXPECT_FALSE(window);
    EXPECT_FALSE(IsWindow(handle));
}

TEST(MessageWindow, AnExceptionGoesToTheErrorPathAndNeverLeavesTheWindowProcedure)
{
    std::string reported;
    SetErrorHandler([&reported](const std::string& message) { reported = message; });
    MessageWindow window(
        {},
        [](UINT message, WPARAM, LPARAM, LRESULT& result) {
            if (message != kPing && message != WM_QUERYENDSESSION)
                return false;
            result = 5;
            throw std::runtime_error("handler failed");
        },
        HandleCurrentException);
    EXPECT_EQ(SendMessageW(window.get(), kPing, 0, 0), 0);
    EXPECT_EQ(reported, "handler failed");
    reported.clear();
    EXPECT_EQ(SendMessageW(window.get(), WM_QUERYENDSESSION, 0, 0), TRUE) << "a failure never holds up the session end";
    EXPECT_EQ(reported, "handler failed");

    // Without an error path, and with one that fails itself, the error goes to the debug output.
    MessageWindow unreported({}, [](UINT message, WPARAM, LPARAM, LRESULT&) -> bool {
        if (message == kPing)
            throw std::runtime_error("nobody listens");
        return false;
    });
    EXPECT_EQ(SendMessageW(unreported.get(), kPing, 0, 0), 0);
    MessageWindow failingReport(
        {},
        [](UINT message, WPARAM, LPARAM, LRESULT&) -> bool {
            if (message == kPing)
                throw std::runtime_error("first");
            return false;
        },
        [] { throw std::logic_error("report failed"); });
    EXPECT_EQ(SendMessageW(failingReport.get(), kPing, 0, 0), 0);
    SetErrorHandler(nullptr);
}

TEST(MessageWindow, ATopLevelWindowKeepsItsClassAndGetsBroadcasts)
{
    const UINT broadcast = RegisterWindowMessageW(L"KeldoraMessageWindowTestBroadcast");
    int topLevelCalls = 0;
    int messageOnlyCalls = 0;
    const HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // the application icon
    MessageWindow topLevel({.kind = WindowKind::HiddenTopLevel, .className = "KdTestTopLevel", .icon = icon},
                           [&](UINT message, WPARAM, LPARAM, LRESULT&) {
                               topLevelCalls += message == broadcast;
                               return false;
                           });
    MessageWindow messageOnly({.className = "KdTestMessageOnly"}, [&](UINT message, WPARAM, LPARAM, LRESULT&) {
        messageOnlyCalls += message == broadcast;
        return false;
    });
    EXPECT_EQ(FindWindowW(L"KdTestTopLevel", nullptr), topLevel.get());
    EXPECT_FALSE(IsWindowVisible(topLevel.get()));
    EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrW(topLevel.get(), GCLP_HICON)), icon);

    ASSERT_TRUE(PostMessageW(HWND_BROADCAST, broadcast, 0, 0));
    EXPECT_TRUE(PumpUntil([&] { return topLevelCalls > 0; }, kHalfAMinute));
    EXPECT_EQ(topLevelCalls, 1);
    EXPECT_EQ(messageOnlyCalls, 0) << "a message-only window gets no broadcast";
}

TEST(MessageWindow, AClassNameTakenByAnotherProcedureIsAnError)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KdTestForeignClass";
    ASSERT_TRUE(RegisterClassW(&windowClass));
    EXPECT_THROW(MessageWindow({.className = "KdTestForeignClass"}, nullptr), EWin32Error);
    UnregisterClassW(L"KdTestForeignClass", GetModuleHandleW(nullptr));

    // Two windows of one class share its registration.
    MessageWindow first({.className = "KdTestShared"}, nullptr), second({.className = "KdTestShared"}, nullptr);
    EXPECT_NE(first.get(), second.get());
}

namespace {

struct Member {
    int pings = 0;
};

SharedMessageWindow<Member>& Shared()
{
    static SharedMessageWindow<Member> shared({.className = "KdTestSharedWindow"},
                                              [](UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
                                                  if (message != kPing)
                                                      return false;
                                                  if (Member* member = Shared().Find(wParam))
                                                      ++member->pings;
                                                  result = 1;
                                                  return true;
                                              });
    return shared;
}

} // namespace

TEST(SharedMessageWindow, OneWindowFromTheFirstMemberToTheLast)
{
    Member a, b;
    EXPECT_EQ(Shared().Window(), nullptr);
    const auto idA = Shared().Join(a);
    const HWND window = Shared().Window();
    ASSERT_NE(window, nullptr);
    const auto idB = Shared().Join(b);
    EXPECT_EQ(Shared().Window(), window);
    EXPECT_NE(idA, idB);
    EXPECT_EQ(Shared().Count(), 2u);
    SendMessageW(window, kPing, idB, 0);
    EXPECT_EQ(SendMessageW(window, kPing, 999, 0), 1) << "an unknown id reaches nobody";
    EXPECT_EQ(a.pings, 0);
    EXPECT_EQ(b.pings, 1);
    Shared().Leave(idA);
    EXPECT_EQ(Shared().Window(), window);
    Shared().Leave(idB);
    EXPECT_EQ(Shared().Window(), nullptr) << "the last member leaving on the window's thread frees it at once";
    EXPECT_FALSE(IsWindow(window));

    // The last member leaving on another thread: freed on the window's thread.
    const auto idC = Shared().Join(a);
    const HWND next = Shared().Window();
    EXPECT_NE(idC, idA) << "ids are never reused";
    std::thread([idC] { Shared().Leave(idC); }).join();
    EXPECT_EQ(Shared().Count(), 0u);
    EXPECT_TRUE(PumpUntil([] { return Shared().Window() == nullptr; }, kHalfAMinute));
    EXPECT_FALSE(IsWindow(next));
}

TEST(SharedMessageWindow, AReleaseMessageDefersTheFreeingOnItsOwnThreadToo)
{
    static SharedMessageWindow<Member> deferred({.className = "KdTestDeferredWindow"}, nullptr, nullptr, WM_APP + 9);
    Member member;
    const auto id = deferred.Join(member);
    const HWND window = deferred.Window();
    deferred.Leave(id);
    EXPECT_EQ(deferred.Window(), window) << "still there until the posted message arrives";
    EXPECT_TRUE(PumpUntil([] { return deferred.Window() == nullptr; }, kHalfAMinute));
    EXPECT_FALSE(IsWindow(window));
}
