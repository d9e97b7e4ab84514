// Launch-test helper: appends one record to the file named by the variable
// KD_RECORD_FILE: its own module path, its command line and its working
// folder. Options (anywhere on the command line):
//   --sleep N       wait N ms before recording
//   --spawn-child   start a copy of itself with "--sleep 700 --child" and end
//                   at once, so a waiting launcher must follow the child
//   --exit N        end with exit code N
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string ModulePath()
{
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string CurrentFolder()
{
    char folder[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

void AppendRecord()
{
    char target[MAX_PATH + 1] = {};
    if (!GetEnvironmentVariableA("KD_RECORD_FILE", target, MAX_PATH))
        return;
    const std::string record = "module=" + ModulePath() + "\r\ncmdline=" + GetCommandLineA() +
                               "\r\ncwd=" + CurrentFolder() + "\r\nend\r\n";
    // Several recorders may append at once; each record goes in one write.
    for (int attempt = 0; attempt < 100; ++attempt) {
        HANDLE file = CreateFileA(target, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    std::string commandLine = "\"" + ModulePath() + "\" --sleep 700 --child";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    int exitCode = 0;
    bool spawn = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sleep") == 0 && i + 1 < argc)
            Sleep(static_cast<DWORD>(std::atoi(argv[++i])));
        else if (std::strcmp(argv[i], "--exit") == 0 && i + 1 < argc)
            exitCode = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--spawn-child") == 0)
            spawn = true;
    }
    AppendRecord();
    if (spawn && !SpawnChild())
        return 3;
    return exitCode;
}
