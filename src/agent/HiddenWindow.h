#pragma once
// A hidden window for components that only need one to receive messages
// (timers, tray callbacks, menu drawing). It is a top-level window rather than
// a message-only one, so that broadcasts such as "TaskbarCreated" reach it.
// The class is registered on first use with the given procedure; the window
// belongs to the thread that creates it and must be freed there.
#include <windows.h>

#include "winutil/UniqueHandle.h"

class HiddenWindow {
public:
    HiddenWindow(const char* className, WNDPROC procedure);

    HWND get() const { return window_.get(); }

private:
    UniqueWindow window_;
};
