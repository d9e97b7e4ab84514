#pragma once
// A real top-level window whose messages reach a graphic host first, as a
// program's window hands them on; a test puts its windowless controls on
// `host` and destroys them before this window goes.
#include "widgets/GraphicControl.h"
#include "winutil/UniqueHandle.h"

#include <memory>

class HostTestWindow {
public:
    HostTestWindow(DWORD exStyle, const wchar_t* caption, DWORD style, int x, int y, int width, int height);
    ~HostTestWindow();
    HostTestWindow(const HostTestWindow&) = delete;
    HostTestWindow& operator=(const HostTestWindow&) = delete;

    UniqueWindow window;
    std::unique_ptr<TGraphicHost> host;
};
