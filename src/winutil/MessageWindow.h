#pragma once
// A window that exists only to receive messages: timers, tray callbacks,
// calls handed over from worker threads, menus drawn for their owner.
//
// Two kinds. A message-only window (parent HWND_MESSAGE) gets what is sent or
// posted to it and nothing else. A hidden top-level window also gets the
// broadcasts: WM_QUERYENDSESSION and WM_ENDSESSION, "TaskbarCreated", and it
// can be found by class name with FindWindow; it is never shown unless its
// owner shows it.
//
// Every window class of these windows is registered once per process, on
// first use, with one window procedure; a class name that other programs look
// for is given in the options (UTF-8) and kept. The windows are Unicode
// windows: text messages reach them in UTF-16 whoever sends them.
//
// Threads: the window belongs to the thread that creates the object. Its
// callback runs there, from that thread's message loop or from a message
// another thread sends; the object must be destroyed there. Messages the
// window gets while it is being created have the default handling.
//
// The callback may destroy the object it belongs to. An exception it raises
// never leaves the window procedure: it goes to the error callback (called
// inside the catch block, so std::current_exception() is the error), or to
// the debug output when there is none; the message is then answered 0, and
// WM_QUERYENDSESSION TRUE so that a failure never holds up the end of the
// session.
#include <windows.h>

#include "winutil/UniqueHandle.h"

#include <functional>
#include <memory>
#include <string>

namespace keldora::winutil {

// True when the message was handled and `result` is its answer; false for the
// default handling.
using MessageCallback = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;
using ErrorCallback = std::function<void()>;

enum class WindowKind { MessageOnly, HiddenTopLevel };

struct MessageWindowOptions {
    WindowKind kind = WindowKind::MessageOnly;
    const char* className = "KeldoraMessageWindow";
    // Class resources, taken from the first window of a class.
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    // A top-level window's frame; the defaults make a tool window of no size.
    DWORD style = WS_POPUP;
    DWORD exStyle = WS_EX_TOOLWINDOW;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class MessageWindow {
public:
    // Throws EWin32Error when the class or the window cannot be made.
    MessageWindow(const MessageWindowOptions& options, MessageCallback onMessage, ErrorCallback onError = {});
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND get() const { return window_.get(); }

private:
    struct Callbacks {
        MessageCallback onMessage;
        ErrorCallback onError;
        std::string className;
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Shared with a running window procedure, so that a callback destroying
    // this object does not free the callback it is running in.
    std::shared_ptr<const Callbacks> callbacks_;
    UniqueWindow window_;
};

} // namespace keldora::winutil
