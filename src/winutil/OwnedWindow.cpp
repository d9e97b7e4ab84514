#include "OwnedWindow.h"

void RegisterOwnedWindowClass(const wchar_t* className, WNDPROC procedure)
{
    WNDCLASSW windowClass = {};
    if (GetClassInfoW(GetModuleHandleW(nullptr), className, &windowClass))
        return;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // the arrow
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
}
