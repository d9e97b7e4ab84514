#pragma once
// A real top-level window whose messages reach a graphic host first, as a
// program's window hands them on; a test puts its windowless controls on
// `host` and destroys them before this window goes. The window's class
// (double clicks, the arrow cursor, the button face) is registered once.
#include "widgets/GraphicControl.h"
#include "winutil/UniqueHandle.h"

#include <functional>
#include <memory>

class HostTestWindow {
public:
    // `erase`, when set, paints the background in WM_ERASEBKGND (from the
    // window's first one on), after the host has had the message; else the
    // class's brush does.
    HostTestWindow(DWORD exStyle, const wchar_t* caption, DWORD style, int x, int y, int width, int height,
                   std::function<void(HWND window, HDC dc)> erase = {});
    ~HostTestWindow();
    HostTestWindow(const HostTestWindow&) = delete;
    HostTestWindow& operator=(const HostTestWindow&) = delete;

    UniqueWindow window;
    std::unique_ptr<TGraphicHost> host;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::function<void(HWND window, HDC dc)> erase_;
};
