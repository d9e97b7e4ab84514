#include "HostTestWindow.h"

#include "winutil/OwnedWindow.h"

#include <gtest/gtest.h>

namespace {

constexpr const wchar_t* kWindowClass = L"KeldoraGraphicHostTestWindow";

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        auto* host = reinterpret_cast<TGraphicHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        LRESULT result = 0;
        if (host && host->HandleMessage(message, wParam, lParam, result))
            return result;
    } catch (...) {
        ADD_FAILURE() << "an exception reached the window procedure";
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

HostTestWindow::HostTestWindow(DWORD exStyle, const wchar_t* caption, DWORD style, int x, int y, int width,
                               int height)
{
    RegisterOwnedWindowClass(kWindowClass, HostWindowProc);
    window.reset(CreateWindowExW(exStyle, kWindowClass, caption, style, x, y, width, height, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr));
    host = std::make_unique<TGraphicHost>(window.get());
    SetWindowLongPtrW(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host.get()));
}

HostTestWindow::~HostTestWindow()
{
    SetWindowLongPtrW(window.get(), GWLP_USERDATA, 0);
    host.reset();
}
