// Steers a running kdAgent the way the product's other programs do, for the
// demo: kdAgentCtl wait | quit | show 0|1 | refresh | endsession | popup | keys VK...
// "popup" asks the tray icon for its menu as a right click would; "keys"
// presses keys (decimal virtual-key codes) in the open menu.
#include <windows.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kTrayNotify = WM_USER + 1024;
constexpr UINT kAgentTrayIconId = 1;

HWND AgentWindow()
{
    return FindWindowA("TAgentForm", nullptr);
}

int Send(UINT message, WPARAM wParam)
{
    const HWND agent = AgentWindow();
    if (!agent) {
        std::fprintf(stderr, "kdAgentCtl: no agent window\n");
        return 1;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(agent, message, wParam, 0, SMTO_NORMAL, 30000, &result)) {
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
        if (AgentWindow() && SendMessageTimeoutA(AgentWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored))
            return 0;
        Sleep(100);
    }
    std::fprintf(stderr, "kdAgentCtl: no agent window after 30 s\n");
    return 1;
}

int Popup()
{
    const HWND handler = FindWindowA("TCoolTrayIconHandler", nullptr);
    if (!handler)
        return 1;
    PostMessageA(handler, kTrayNotify, kAgentTrayIconId, WM_RBUTTONDOWN);
    PostMessageA(handler, kTrayNotify, kAgentTrayIconId, WM_RBUTTONUP);
    return 0;
}

int Keys(int count, char** keys)
{
    const HWND menu = FindWindowA("#32768", nullptr);
    if (!menu)
        return 1;
    for (int i = 0; i < count; ++i) {
        const WPARAM key = static_cast<WPARAM>(std::atoi(keys[i]));
        PostMessageA(menu, WM_KEYDOWN, key, 0);
        PostMessageA(menu, WM_KEYUP, key, 0xC0000000);
        Sleep(150);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const char* command = argv[1];
    if (!std::strcmp(command, "wait"))
        return WaitForAgent();
    if (!std::strcmp(command, "quit"))
        return Send(WM_USER + 101, 0);
    if (!std::strcmp(command, "show") && argc == 3)
        return Send(WM_USER + 102, static_cast<WPARAM>(std::atoi(argv[2])));
    if (!std::strcmp(command, "refresh"))
        return Send(WM_USER + 103, 0);
    if (!std::strcmp(command, "endsession"))
        return Send(WM_QUERYENDSESSION, 0);
    if (!std::strcmp(command, "popup"))
        return Popup();
    if (!std::strcmp(command, "keys"))
        return Keys(argc - 2, argv + 2);
    return 2;
}
