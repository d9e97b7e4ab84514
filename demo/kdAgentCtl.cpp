// Steers a running kdAgent the way the product's other programs do, for the
// demo: kdAgentCtl wait | quit | show 0|1 | refresh | endsession | popup | keys VK...
// "popup" asks the tray icon for its menu as a right click would; "keys"
// presses keys (decimal virtual-key codes) in the open menu.
#include <windows.h>
#include <shellapi.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

constexpr UINT kTrayNotify = WM_USER + 1024;
constexpr UINT kAgentTrayIconId = 1;

HWND AgentWindow()
{
    return FindWindowW(L"TAgentForm", nullptr);
}

int Send(UINT message, WPARAM wParam)
{
    const HWND agent = AgentWindow();
    if (!agent) {
        std::fprintf(stderr, "kdAgentCtl: no agent window\n");
        return 1;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(agent, message, wParam, 0, SMTO_NORMAL, 30000, &result)) {
        std::fprintf(stderr, "kdAgentCtl: the agent did not answer\n");
        return 1;
    }
    std::printf("message %u answered %" PRIuPTR "\n", message, static_cast<std::uintptr_t>(result));
    return 0;
}

// Returns once the agent's message loop runs, that is after its start-up.
int WaitForAgent()
{
    for (int i = 0; i < 300; ++i) {
        DWORD_PTR ignored = 0;
        if (AgentWindow() && SendMessageTimeoutW(AgentWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored))
            return 0;
        Sleep(100);
    }
    std::fprintf(stderr, "kdAgentCtl: no agent window after 30 s\n");
    return 1;
}

int Popup()
{
    const HWND handler = FindWindowW(L"TCoolTrayIconHandler", nullptr);
    if (!handler)
        return 1;
    PostMessageW(handler, kTrayNotify, kAgentTrayIconId, WM_RBUTTONDOWN);
    PostMessageW(handler, kTrayNotify, kAgentTrayIconId, WM_RBUTTONUP);
    return 0;
}

int Keys(int count, wchar_t** keys)
{
    const HWND menu = FindWindowW(L"#32768", nullptr);
    if (!menu)
        return 1;
    for (int i = 0; i < count; ++i) {
        const WPARAM key = static_cast<WPARAM>(std::wcstol(keys[i], nullptr, 10));
        PostMessageW(menu, WM_KEYDOWN, key, 0);
        PostMessageW(menu, WM_KEYUP, key, 0xC0000000);
        Sleep(150);
    }
    return 0;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const wchar_t* command = argv[1];
    if (!std::wcscmp(command, L"wait"))
        return WaitForAgent();
    if (!std::wcscmp(command, L"quit"))
        return Send(WM_USER + 101, 0);
    if (!std::wcscmp(command, L"show") && argc == 3)
        return Send(WM_USER + 102, static_cast<WPARAM>(std::wcstol(argv[2], nullptr, 10)));
    if (!std::wcscmp(command, L"refresh"))
        return Send(WM_USER + 103, 0);
    if (!std::wcscmp(command, L"endsession"))
        return Send(WM_QUERYENDSESSION, 0);
    if (!std::wcscmp(command, L"popup"))
        return Popup();
    if (!std::wcscmp(command, L"keys"))
        return Keys(argc - 2, argv + 2);
    return 2;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const int result = argv ? Run(argc, argv) : 2;
    LocalFree(argv);
    return result;
}
