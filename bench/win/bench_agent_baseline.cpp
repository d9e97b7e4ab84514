// The smallest resident tray program on the same system services as the
// agent: common controls, a COM apartment, the shell's folder lookup, a
// hidden window with a notification-area icon and a message loop; it ends
// after the given number of seconds. bench/bench_agent.sh measures it beside
// the agent, so the memory Wine and these services need can be told apart
// from the agent's own; and once more with "watch", running the agent's
// change watch (ChangeWatch.h) on the agent's locations, so that the watch's
// own cost is the difference.
// Usage: bench_agent_baseline [SECONDS [watch]]
#include "agent/ChangeWatch.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <memory>

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const UINT seconds = argv && argc > 1 ? static_cast<UINT>(std::wcstol(argv[1], nullptr, 10)) : 20;
    const bool watching = argv && argc > 2 && std::wcscmp(argv[2], L"watch") == 0;
    LocalFree(argv);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, FALSE);
    const HWND window =
        CreateWindowExW(0, L"STATIC", L"idle", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    NOTIFYICONDATAW icon = {};
    icon.cbSize = NOTIFYICONDATAW_V2_SIZE;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_TIP;
    icon.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // the application icon
    Shell_NotifyIconW(NIM_ADD, &icon);
    const std::unique_ptr<TChangeWatch> watch =
        watching ? WatchLocations({0, 1, 8, 9}, /*machineWide=*/true, window, WM_APP) : nullptr;
    SetTimer(nullptr, 0, seconds * 1000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER)
            break;
        DispatchMessageW(&msg);
    }
    Shell_NotifyIconW(NIM_DELETE, &icon);
    DestroyWindow(window);
    CoUninitialize();
    return 0;
}
