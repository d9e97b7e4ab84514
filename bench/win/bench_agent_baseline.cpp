// The smallest resident tray program on the same system services as the
// agent: common controls, a COM apartment, the shell's folder lookup, a
// hidden window with a notification-area icon and a message loop; it ends
// after the given number of seconds. bench/bench_agent.sh measures it beside
// the agent, so the memory Wine and these services need can be told apart
// from the agent's own.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    const UINT seconds = argc > 1 ? static_cast<UINT>(std::atoi(argv[1])) : 20;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    char folder[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, folder, CSIDL_STARTUP, FALSE);
    const HWND window = CreateWindowExA(0, "STATIC", "idle", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V2_SIZE;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_TIP;
    icon.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    Shell_NotifyIconA(NIM_ADD, &icon);
    SetTimer(nullptr, 0, seconds * 1000, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER)
            break;
        DispatchMessageA(&msg);
    }
    Shell_NotifyIconA(NIM_DELETE, &icon);
    DestroyWindow(window);
    CoUninitialize();
    return 0;
}
