#include "MessageWindow.h"

#include "winutil/ErrorText.h"

#include <exception>
#include <mutex>
#include <string>

namespace keldora::winutil {

namespace {

HINSTANCE Instance()
{
    return GetModuleHandleA(nullptr);
}

void RegisterWindowClass(const MessageWindowOptions& options, WNDPROC procedure)
{
    static std::mutex lock;
    const std::lock_guard<std::mutex> guard(lock);
    WNDCLASSA windowClass = {};
    if (GetClassInfoA(Instance(), options.className, &windowClass)) {
        if (windowClass.lpfnWndProc != procedure)
            throw EWin32Error(std::string("RegisterClass ") + options.className, ERROR_CLASS_ALREADY_EXISTS);
        return;
    }
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = Instance();
    windowClass.hIcon = options.icon;
    windowClass.hCursor = options.cursor;
    windowClass.lpszClassName = options.className;
    if (!RegisterClassA(&windowClass))
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
        OutputDebugStringA((text + "\n").c_str());
    } catch (...) {
        OutputDebugStringA("MessageWindow: an exception was lost\n");
    }
}

} // namespace

MessageWindow::MessageWindow(const MessageWindowOptions& options, MessageCallback onMessage, ErrorCallback onError)
    : callbacks_(std::make_shared<const Callbacks>(Callbacks{std::move(onMessage), std::move(onError),
                                                             options.className}))
{
    RegisterWindowClass(options, &MessageWindow::WindowProc);
    const bool messageOnly = options.kind == WindowKind::MessageOnly;
    window_.reset(CreateWindowExA(messageOnly ? 0 : options.exStyle, options.className, "",
                                  messageOnly ? 0 : options.style, options.x, options.y, options.width,
                                  options.height, messageOnly ? HWND_MESSAGE : nullptr, nullptr, Instance(), nullptr));
    if (!window_)
        throw EWin32Error(std::string("CreateWindow ") + options.className, GetLastError());
    SetWindowLongPtrA(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageWindow::~MessageWindow()
{
    // The messages of the destruction itself get the default handling.
    if (window_)
        SetWindowLongPtrA(window_.get(), GWLP_USERDATA, 0);
}

LRESULT CALLBACK MessageWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto* self = reinterpret_cast<const MessageWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcA(window, message, wParam, lParam);
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
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace keldora::winutil
