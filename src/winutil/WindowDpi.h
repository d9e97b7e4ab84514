#pragma once
// Dots per inch of windows for programs that declare Per-Monitor V2
// awareness: every size a program fixes in pixels is given for 96 dots per
// inch and scaled with ScaleForDpi. The calls that Windows 10 added are
// bound at run time (RuntimeLink.h); where they are missing the system's DPI
// and the older calls stand in, so the programs still load and draw there.
#include <windows.h>

constexpr int kDefaultDpi = 96;

// A length of 96 dots per inch at `dpi`, rounded to the nearest pixel.
int ScaleForDpi(int value, int dpi);

// The DPI the window is drawn at (GetDpiForWindow), else the screen's.
int WindowDpi(HWND window);

// AdjustWindowRectExForDpi where it exists, else AdjustWindowRectEx.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi);

// Sizes the window so that its client area is width by height pixels,
// keeping its place: the frame is estimated for `dpi`, then whatever the
// frame really takes is made up for (the system may scale the frame to a
// new DPI only later, or not at all where it scales none).
void SetClientSizeForDpi(HWND window, int width, int height, int dpi);

// GetSystemMetricsForDpi where it exists, else GetSystemMetrics.
int SystemMetricForDpi(int index, int dpi);

// Windows created while the object lives are DPI-unaware and drawn by GDI
// at the monitor's scale (sharp text, stretched pictures), on systems that
// have that mode (Windows 10 1809); elsewhere it does nothing. For windows
// whose layout is not yet scaled. The thread's mode comes back at the end.
class GdiScaledWindowsScope {
public:
    GdiScaledWindowsScope();
    ~GdiScaledWindowsScope();
    GdiScaledWindowsScope(const GdiScaledWindowsScope&) = delete;
    GdiScaledWindowsScope& operator=(const GdiScaledWindowsScope&) = delete;

private:
    DPI_AWARENESS_CONTEXT previous_ = nullptr;
};
