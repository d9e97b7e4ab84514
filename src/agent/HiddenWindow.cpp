#include "HiddenWindow.h"

#include "winutil/ErrorText.h"

#include <string>

HiddenWindow::HiddenWindow(const char* className, WNDPROC procedure)
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    if (!GetClassInfoA(instance, className, &windowClass)) {
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = className;
        if (!RegisterClassA(&windowClass))
            throw EWin32Error(std::string("RegisterClass ") + className, GetLastError());
    }
    window_.reset(CreateWindowExA(WS_EX_TOOLWINDOW, className, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                                  nullptr));
    if (!window_)
        throw EWin32Error(std::string("CreateWindow ") + className, GetLastError());
}
