// Launch-test helper: appends one record to the file named by the variable
// KD_RECORD_FILE: its own module path, its command line and its working
// folder, in UTF-8. Options (anywhere on the command line):
//   --sleep N       wait N ms before recording
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

std::string CurrentFolder()
{
    wchar_t folder[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    return Utf8FromWide(folder);
}

void AppendRecord()
{
    wchar_t target[MAX_PATH + 1] = {};
    if (!GetEnvironmentVariableW(L"KD_RECORD_FILE", target, MAX_PATH))
        return;
    const std::string record = "module=" + Utf8FromWide(ModulePath()) +
                               "\r\ncmdline=" + Utf8FromWide(GetCommandLineW()) + "\r\ncwd=" + CurrentFolder() +
                               "\r\nend\r\n";
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
    for (int i = 1; argv && i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--sleep") == 0 && i + 1 < argc)
            Sleep(static_cast<DWORD>(std::wcstol(argv[++i], nullptr, 10)));
        else if (std::wcscmp(argv[i], L"--exit") == 0 && i + 1 < argc)
            exitCode = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
        else if (std::wcscmp(argv[i], L"--spawn-child") == 0)
            spawn = true;
    }
    LocalFree(argv);
    AppendRecord();
    if (spawn && !SpawnChild())
        return 3;
    return exitCode;
}
