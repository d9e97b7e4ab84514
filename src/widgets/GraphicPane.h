#pragma once
// TGraphicPane: a child window that hosts windowless controls (see
// GraphicControl.h), for a dialog whose windowless controls need a place in
// its tab order and an accessible object of their own: a markup label in a
// dialog. It paints the controls and routes their messages through its
// host; it is a tab stop while SetTabStop says so. Holding the keyboard
// focus with no item to stand on (a long text without links, scrolled by
// the keys the host's OnKey takes), it shows a focus rectangle around its
// area. The window goes with its parent or with the object, whichever is
// first; the host lives as long as the object, and its controls must go
// before it. Runs on the dialog's thread.
#include <windows.h>

#include "widgets/GraphicControl.h"
#include "winutil/OwnedWindow.h"
#include "winutil/UniqueHandle.h"

#include <memory>

class TGraphicPane {
public:
    // Bounds in the parent's client pixels.
    TGraphicPane(HWND parent, const RECT& bounds);
    ~TGraphicPane();
    TGraphicPane(const TGraphicPane&) = delete;
    TGraphicPane& operator=(const TGraphicPane&) = delete;

    HWND Handle() const { return window_; }
    TGraphicHost& Host() { return *host_; }
    void SetTabStop(bool tabStop);

private:
    template <class Owner>
    friend LRESULT CALLBACK OwnedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void WindowAttached(HWND window);
    void WindowDetached();
    LRESULT WindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();

    HWND window_ = nullptr;
    std::unique_ptr<TGraphicHost> host_;
};
