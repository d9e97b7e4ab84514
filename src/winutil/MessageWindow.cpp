#include "MessageWindow.h"

#include "winutil/ErrorText.h"
#include "winutil/WideText.h"

#include <exception>
#include <mutex>
#include <string>

namespace keldora::winutil {

namespace {

HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

void RegisterWindowClass(const MessageWindowOptions& options, WNDPROC procedure)
{
    static std::mutex lock;
    const std::lock_guard<std::mutex> guard(lock);
    const std::wstring className = WideFromUtf8(options.className);
    WNDCLASSW windowClass = {};
    if (GetClassInfoW(Instance(), className.c_str(), &windowClass)) {
        if (windowClass.lpfnWndProc != procedure)
            throw EWin32Error(std::string("RegisterClass ") + options.className, ERROR_CLASS_ALREADY_EXISTS);
        return;
    }
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = Instance();
    windowClass.hIcon = options.icon;
    windowClass.hCursor = options.cursor;
    windowClass.lpszClassName = className.c_str();
    if (!RegisterClassW(&windowClass))
        throw EWin32Error(std::string("RegisterClass ") + options.className, GetLastError());
}

// The last resort for an error nobody else takes: a debugger sees it.
void WriteToDebugOutput(const std::string& className) noexcept
{
    try {
        std::string text = className + ": ";
        try {
            throw;
        } catch (const std::exception& e) {
            text += e.what();
        } catch (...) {
            text += "unknown exception";
        }
        OutputDebugStringW(WideFromUtf8(text + "\n").c_str());
    } catch (...) {
        OutputDebugStringW(L"MessageWindow: an exception was lost\n");
    }
}

} // namespace

MessageWindow::MessageWindow(const MessageWindowOptions& options, MessageCallback onMessage, ErrorCallback onError)
    : callbacks_(std::make_shared<const Callbacks>(Callbacks{std::move(onMessage), std::move(onError),
                                                             options.className}))
{
    RegisterWindowClass(options, &MessageWindow::WindowProc);
    const bool messageOnly = options.kind == WindowKind::MessageOnly;
    window_.reset(CreateWindowExW(messageOnly ? 0 : options.exStyle, WideFromUtf8(options.className).c_str(), L"",
                                  messageOnly ? 0 : options.style, options.x, options.y, options.width,
                                  options.height, messageOnly ? HWND_MESSAGE : nullptr, nullptr, Instance(), nullptr));
    if (!window_)
        throw EWin32Error(std::string("CreateWindow ") + options.className, GetLastError());
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageWindow::~MessageWindow()
{
    // The messages of the destruction itself get the default handling.
    if (window_)
        SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
}

LRESULT CALLBACK MessageWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto* self = reinterpret_cast<const MessageWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    const std::shared_ptr<const Callbacks> callbacks = self->callbacks_;
    try {
        LRESULT result = 0;
        if (callbacks->onMessage && callbacks->onMessage(message, wParam, lParam, result))
            return result;
    } catch (...) {
        try {
            if (!callbacks->onError)
                throw;
            callbacks->onError();
        } catch (...) {
            WriteToDebugOutput(callbacks->className);
        }
        return message == WM_QUERYENDSESSION ? TRUE : 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace keldora::winutil
