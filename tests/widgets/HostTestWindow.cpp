#include "HostTestWindow.h"

#include "winutil/OwnedWindow.h"

#include <gtest/gtest.h>

namespace {

constexpr const wchar_t* kWindowClass = L"KeldoraGraphicHostTestWindow";

} // namespace

LRESULT CALLBACK HostTestWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<HostTestWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        LRESULT result = 0;
        if (self && self->host && self->host->HandleMessage(message, wParam, lParam, result))
            return result;
        if (self && message == WM_ERASEBKGND && self->erase_) {
            self->erase_(window, reinterpret_cast<HDC>(wParam));
            return 1;
        }
    } catch (...) {
        ADD_FAILURE() << "an exception reached the window procedure";
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HostTestWindow::HostTestWindow(DWORD exStyle, const wchar_t* caption, DWORD style, int x, int y, int width,
                               int height, std::function<void(HWND window, HDC dc)> erase)
    : erase_(std::move(erase))
{
    RegisterOwnedWindowClass(kWindowClass, Procedure);
    window.reset(CreateWindowExW(exStyle, kWindowClass, caption, style, x, y, width, height, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), this));
    host = std::make_unique<TGraphicHost>(window.get());
}

HostTestWindow::~HostTestWindow()
{
    SetWindowLongPtrW(window.get(), GWLP_USERDATA, 0);
    host.reset();
}
