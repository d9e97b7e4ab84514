#pragma once
// Windows whose procedure belongs to a C++ object. The object passes itself
// as the creation parameter of CreateWindowExW and is found again through
// GWLP_USERDATA; it learns its handle before any other message and is told
// when the window is gone, so it never holds a freed handle.
#include <windows.h>

// Registers the class once per process: double clicks, the arrow cursor and
// the dialog face as background.
void RegisterOwnedWindowClass(const wchar_t* className, WNDPROC procedure);

// The class's procedure. Owner provides WindowAttached(HWND), WindowDetached()
// and WindowMessage(UINT, WPARAM, LPARAM) (make this a friend to keep them
// private). Nothing may leave a window procedure: an exception counts the
// message as handled.
template <class Owner>
LRESULT CALLBACK OwnedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (message == WM_NCCREATE) {
            auto* owner = static_cast<Owner*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
            owner->WindowAttached(window);
        }
        auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!owner)
            return DefWindowProcW(window, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            owner->WindowDetached();
            return DefWindowProcW(window, message, wParam, lParam);
        }
        return owner->WindowMessage(message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}
