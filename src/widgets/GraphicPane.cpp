#include "GraphicPane.h"

#include <stdexcept>

namespace {

constexpr const wchar_t* kWindowClass = L"KeldoraGraphicPane";

} // namespace

TGraphicPane::TGraphicPane(HWND parent, const RECT& bounds)
{
    RegisterOwnedWindowClass(kWindowClass, OwnedWindowProc<TGraphicPane>);
    window_ = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE, bounds.left, bounds.top,
                              bounds.right - bounds.left, bounds.bottom - bounds.top, parent, nullptr,
                              GetModuleHandleW(nullptr), this);
    if (!window_)
        throw std::runtime_error("the pane could not be created");
    host_ = std::make_unique<TGraphicHost>(window_);
}

TGraphicPane::~TGraphicPane()
{
    if (!window_)
        return;
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
}

void TGraphicPane::SetTabStop(bool tabStop)
{
    const LONG_PTR style = GetWindowLongPtrW(window_, GWL_STYLE);
    SetWindowLongPtrW(window_, GWL_STYLE, tabStop ? style | WS_TABSTOP : style & ~static_cast<LONG_PTR>(WS_TABSTOP));
}

void TGraphicPane::Paint()
{
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window_, &paint);
    host_->PaintControls(dc, paint.rcPaint);
    if (GetFocus() == window_ && !host_->FocusControl()) {
        RECT client = {};
        GetClientRect(window_, &client);
        DrawFocusRect(dc, &client);
    }
    EndPaint(window_, &paint);
}

void TGraphicPane::WindowAttached(HWND window)
{
    window_ = window;
}

void TGraphicPane::WindowDetached()
{
    window_ = nullptr;
}

LRESULT TGraphicPane::WindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        Paint();
        return 0;
    }
    if (message == WM_SETFOCUS || message == WM_KILLFOCUS)
        InvalidateRect(window_, nullptr, TRUE);
    LRESULT result = 0;
    if (host_ && host_->HandleMessage(message, wParam, lParam, result))
        return result;
    return DefWindowProcW(window_, message, wParam, lParam);
}
