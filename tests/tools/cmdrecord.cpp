// Launch-test helper: appends one record to the file named by the variable
// KD_RECORD_FILE: its own module path, its command line, its working
// folder (UTF-8), how it was asked to show its window (show=, the start-up
// information's show command, -1 when none was given) and what its token
// says of the Administrators group (admin=elevated, filtered or none).
// Options (anywhere on the command line):
//   --window        show a window as a program does (WinMain's nCmdShow) and
//                   record iconic=1 when it came up minimised, else 0
//   --stay N        after recording, keep a hidden window titled
//                   "cmdrecord-stay" for N ms (a stand-in desktop shell)
//   --sleep N       wait N ms before recording
//   --until NAME    after recording, wait until the event NAME is set (two
//                   minutes at most), so that a test decides when it ends
//   --spawn-child   start a copy of itself with "--sleep 700 --child" and end
//                   at once, so a waiting launcher must follow the child
//   --exit N        end with exit code N
#include "winutil/WideText.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::wstring ModulePath()
{
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::string AdminState()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "unknown";
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    std::string buffer(size, '\0');
    std::string state = "unknown";
    if (size && GetTokenInformation(token, TokenGroups, buffer.data(), size, &size)) {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID admins = nullptr;
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &admins);
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
        state = "none";
        for (DWORD i = 0; i < groups->GroupCount; ++i) {
            if (!EqualSid(groups->Groups[i].Sid, admins))
                continue;
            const DWORD attributes = groups->Groups[i].Attributes;
            const bool enabled = (attributes & SE_GROUP_ENABLED) && !(attributes & SE_GROUP_USE_FOR_DENY_ONLY);
            state = enabled ? "elevated" : "filtered";
        }
        FreeSid(admins);
    }
    CloseHandle(token);
    return state;
}

int ShowCommand()
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
}

bool CameUpMinimised()
{
    const HWND window = CreateWindowW(L"STATIC", L"cmdrecord", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                      200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window)
        return false;
    // As a program shows its first window with the nCmdShow its WinMain got.
    const int show = ShowCommand();
    ShowWindow(window, show >= 0 ? show : SW_SHOWDEFAULT);
    const bool minimised = IsIconic(window) != FALSE;
    DestroyWindow(window);
    return minimised;
}

std::string CurrentFolder()
{
    wchar_t folder[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    return Utf8FromWide(folder);
}

void AppendRecord(const std::string& extra)
{
    wchar_t target[MAX_PATH + 1] = {};
    if (!GetEnvironmentVariableW(L"KD_RECORD_FILE", target, MAX_PATH))
        return;
    const std::string record = "module=" + Utf8FromWide(ModulePath()) +
                               "\r\ncmdline=" + Utf8FromWide(GetCommandLineW()) + "\r\ncwd=" + CurrentFolder() +
                               "\r\nshow=" + std::to_string(ShowCommand()) + "\r\nadmin=" + AdminState() + "\r\n" +
                               extra + "end\r\n";
    // Several recorders may append at once; each record goes in one write.
    for (int attempt = 0; attempt < 100; ++attempt) {
        HANDLE file = CreateFileW(target, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(20);
    }
}

bool SpawnChild()
{
    std::wstring commandLine = L"\"" + ModulePath() + L"\" --sleep 700 --child";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int exitCode = 0;
    bool spawn = false;
    std::string extra;
    DWORD stay = 0;
    std::wstring until;
    for (int i = 1; argv && i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--sleep") == 0 && i + 1 < argc)
            Sleep(static_cast<DWORD>(std::wcstol(argv[++i], nullptr, 10)));
        else if (std::wcscmp(argv[i], L"--exit") == 0 && i + 1 < argc)
            exitCode = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
        else if (std::wcscmp(argv[i], L"--spawn-child") == 0)
            spawn = true;
        else if (std::wcscmp(argv[i], L"--stay") == 0 && i + 1 < argc)
            stay = static_cast<DWORD>(std::wcstol(argv[++i], nullptr, 10));
        else if (std::wcscmp(argv[i], L"--until") == 0 && i + 1 < argc)
            until = argv[++i];
        else if (std::wcscmp(argv[i], L"--window") == 0)
            extra += std::string("iconic=") + (CameUpMinimised() ? "1" : "0") + "\r\n";
    }
    LocalFree(argv);
    AppendRecord(extra);
    if (!until.empty()) {
        if (const HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, until.c_str())) {
            WaitForSingleObject(event, 120000);
            CloseHandle(event);
        }
    }
    if (stay > 0) {
        const HWND window = CreateWindowW(L"STATIC", L"cmdrecord-stay", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                          GetModuleHandleW(nullptr), nullptr);
        Sleep(stay);
        DestroyWindow(window);
    }
    if (spawn && !SpawnChild())
        return 3;
    return exitCode;
}
