// The self-upgrade stub: started by the update engine with the program's path
// and its restart argument, it waits until the program has let go of its file,
// puts the downloaded files in place and starts the program again. Its exit
// code says what happened (StubExit).
//
// Test settings, read from the environment:
//   KDSTUB_MESSAGE_LOG    the information box's text is appended to this file
//                         instead of being shown
//   KDSTUB_WAIT_LIMIT_MS  how long to wait for a held program file (default
//                         five minutes)
#include "update/stub/StubFiles.h"
#include "update/stub/StubRules.h"

#include <windows.h>

namespace {

constexpr DWORD DefaultWaitLimitMs = 5 * 60 * 1000;
constexpr const char* InfoCaption = "Zeredira3";
constexpr const char* InfoText =
    "Zeredira3 is the self-upgrade helper of the Keldora updater.\r\n\r\n"
    "The updater starts it to put downloaded files in place and to restart the program. "
    "Started on its own it does nothing.";

class WindowsProbe : public FileProbe {
public:
    bool FileExists(std::string_view path) const override { return ::FileExists(PathText(path).c_str()); }
};

// The value of an environment variable; empty when it is not set or too long.
PathText Environment(const char* name)
{
    char value[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length == 0 || length >= sizeof value ? PathText() : PathText(std::string_view(value, length));
}

void ShowInformation()
{
    const PathText log = Environment("KDSTUB_MESSAGE_LOG");
    if (log.View().empty()) {
        MessageBoxA(nullptr, InfoText, InfoCaption, MB_OK | MB_ICONINFORMATION);
        return;
    }
    const HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, InfoCaption, lstrlenA(InfoCaption), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    WriteFile(file, InfoText, lstrlenA(InfoText), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
}

// Starts the program with the restart parameters as its arguments, in its own
// folder. The process handle, when asked for, is the caller's to close.
bool Start(std::string_view program, std::string_view params, HANDLE* process = nullptr)
{
    const SIZE_T size = program.size() + params.size() + 4;
    char* commandLine = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (!commandLine)
        return false;
    char* at = commandLine;
    *at++ = '"';
    for (char c : program)
        *at++ = c;
    *at++ = '"';
    if (!params.empty())
        *at++ = ' ';
    for (char c : params)
        *at++ = c;
    *at = '\0';

    const PathText path(program);
    const PathText folder(FolderOf(program));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started = {};
    const BOOL ok = CreateProcessA(path.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                   &startup, &started);
    HeapFree(GetProcessHeap(), 0, commandLine);
    if (!ok)
        return false;
    CloseHandle(started.hThread);
    if (process)
        *process = started.hProcess;
    else
        CloseHandle(started.hProcess);
    return true;
}

// The setup program runs first and is deleted once it has ended and let go of
// its file; then the program starts.
StubExit RunSetupThenProgram(const StubCommand& command, const PathText& setup, DWORD waitLimitMs)
{
    HANDLE process = nullptr;
    const bool setupStarted = Start(setup.View(), command.params, &process);
    if (setupStarted) {
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
        if (WaitUntilWritable(setup.c_str(), waitLimitMs) == WaitResult::free) {
            SetFileAttributesA(setup.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(setup.c_str());
        }
    }
    const bool programStarted = Start(command.program, command.params);
    return setupStarted && programStarted ? StubExit::done : StubExit::startFailed;
}

// The release is what is pending when the stub starts; it is put in place
// once the program has let go of its file.
StubExit Upgrade(const StubCommand& command)
{
    const DWORD waitLimitMs = ParseMilliseconds(Environment("KDSTUB_WAIT_LIMIT_MS").View(), DefaultWaitLimitMs);
    Replacement replacement;
    StubExit outcome = StubExit::rolledBack;
    PathText setup;
    if (replacement.Plan(command)) {
        switch (WaitUntilWritable(PathText(command.program).c_str(), waitLimitMs)) {
        case WaitResult::free:
            outcome = replacement.Apply(setup);
            break;
        case WaitResult::stillHeld:
            outcome = StubExit::stillHeld;
            break;
        case WaitResult::denied:
            outcome = StubExit::accessDenied;
            break;
        }
    }
    if (!setup.View().empty())
        return RunSetupThenProgram(command, setup, waitLimitMs);
    const bool started = Start(command.program, command.params);
    return outcome == StubExit::done && !started ? StubExit::startFailed : outcome;
}

StubExit Run()
{
    const std::string_view arguments = StubArgumentText(GetCommandLineA());
    StubCommand command;
    switch (ParseStubCommand(arguments, WindowsProbe(), command)) {
    case StubParse::empty:
        ShowInformation();
        return StubExit::usage;
    case StubParse::malformed:
        return StubExit::malformed;
    case StubParse::missingProgram:
        return StubExit::missingProgram;
    case StubParse::ok:
        break;
    }
    return Upgrade(command);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return static_cast<int>(Run());
}
