#include "WindowDpi.h"

#include "winutil/RuntimeLink.h"

namespace {

using GetDpiForWindowFn = UINT WINAPI(HWND);
using AdjustWindowRectExForDpiFn = BOOL WINAPI(RECT*, DWORD, BOOL, DWORD, UINT);
using GetSystemMetricsForDpiFn = int WINAPI(int, UINT);
using SetThreadDpiAwarenessContextFn = DPI_AWARENESS_CONTEXT WINAPI(DPI_AWARENESS_CONTEXT);

SetThreadDpiAwarenessContextFn* SetThreadContext()
{
    static SetThreadDpiAwarenessContextFn* const set =
        OptionalFunctionAs<SetThreadDpiAwarenessContextFn>("user32.dll", "SetThreadDpiAwarenessContext");
    return set;
}

int ScreenDpi()
{
    const HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kDefaultDpi;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDefaultDpi;
}

} // namespace

int ScaleForDpi(int value, int dpi)
{
    return MulDiv(value, dpi, kDefaultDpi);
}

int WindowDpi(HWND window)
{
    static GetDpiForWindowFn* const getDpi = OptionalFunctionAs<GetDpiForWindowFn>("user32.dll", "GetDpiForWindow");
    if (getDpi && window) {
        if (const UINT dpi = getDpi(window))
            return static_cast<int>(dpi);
    }
    return ScreenDpi();
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi)
{
    static AdjustWindowRectExForDpiFn* const adjust =
        OptionalFunctionAs<AdjustWindowRectExForDpiFn>("user32.dll", "AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

void SetClientSizeForDpi(HWND window, int width, int height, int dpi)
{
    RECT frame = {0, 0, width, height};
    AdjustWindowRectForDpi(frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)),
                           static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)), dpi);
    const UINT flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top, flags);
    RECT client = {}, outer = {};
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    if (client.right == width && client.bottom == height)
        return;
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + width - client.right,
                 outer.bottom - outer.top + height - client.bottom, flags);
}

int SystemMetricForDpi(int index, int dpi)
{
    static GetSystemMetricsForDpiFn* const metric =
        OptionalFunctionAs<GetSystemMetricsForDpiFn>("user32.dll", "GetSystemMetricsForDpi");
    return metric ? metric(index, static_cast<UINT>(dpi)) : GetSystemMetrics(index);
}

GdiScaledWindowsScope::GdiScaledWindowsScope()
{
    if (SetThreadDpiAwarenessContextFn* const set = SetThreadContext())
        previous_ = set(DPI_AWARENESS_CONTEXT_UNAWARE_GDISCALED);
}

GdiScaledWindowsScope::~GdiScaledWindowsScope()
{
    if (SetThreadDpiAwarenessContextFn* const set = SetThreadContext(); set && previous_)
        set(previous_);
}
