// Steers a running kdAgent the way the product's other programs do, for the
// demo: kdAgentCtl wait | taken | quit | show 0|1 | refresh | endsession | popup | keys VK...
// "popup" asks the tray icon for its menu as a right click would; "keys"
// presses keys (decimal virtual-key codes) in the open menu.
#include <windows.h>
#include <shellapi.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

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
    for (int i = 0; i < 3000; ++i) {
        DWORD_PTR ignored = 0;
        if (AgentWindow() && SendMessageTimeoutW(AgentWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored))
            return 0;
        Sleep(10);
    }
    std::fprintf(stderr, "kdAgentCtl: no agent window after 30 s\n");
    return 1;
}

constexpr const wchar_t* kUserRun = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The name of the user's Run key's last value as the key lists it; empty for none.
std::wstring LastRunValue()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserRun, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return {};
    DWORD count = 0, longest = 0;
    std::wstring name;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS &&
        count) {
        name.resize(longest + 1);
        DWORD size = longest + 1;
        if (RegEnumValueW(key, count - 1, name.data(), &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            name.resize(size);
        else
            name.clear();
    }
    RegCloseKey(key);
    return name;
}

// Returns once the agent is ready (as "wait") and its take-over of the
// user's Run key is done: the take-over goes through the values in the
// order the key lists them and writes an entry's "Name" last, so the store
// holding the last value's "Name" marks it done. The agent's own entry is
// in the key by then. For names without a backslash.
int WaitForTakenOver()
{
    if (WaitForAgent())
        return 1;
    const std::wstring last = LastRunValue();
    if (last.empty())
        return 0;
    const std::wstring entry = std::wstring(kUserRun) + L"\\Keldora\\" + last;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (GetTickCount64() < deadline) {
        if (RegGetValueW(HKEY_CURRENT_USER, entry.c_str(), L"Name", RRF_RT_REG_SZ, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
            return 0;
        Sleep(1);
    }
    std::fprintf(stderr, "kdAgentCtl: \"%ls\" was not taken over within a minute\n", last.c_str());
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
    if (!std::wcscmp(command, L"taken"))
        return WaitForTakenOver();
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
