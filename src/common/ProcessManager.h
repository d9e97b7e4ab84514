#pragma once
// Starting a program from a free-form command line (see CmdLnUtils.h for how
// the line is read): the quoted program first, the line as given and the
// unquoted program only where CreateProcess cannot split a path at a blank,
// then the shell. With wait, Execute returns when the started program and
// every program it started have ended, dispatching the calling thread's
// messages meanwhile; the waiting thread it adds only reads a completion port.
// A started process is never left suspended. Nothing here raises for a line
// that cannot be started: the answer is false. Command lines and paths are
// UTF-8; processes and the shell are started through the wide ("W") functions.
// A shortcut starts as Explorer starts it: its target, arguments, working
// folder and show state. Where the process starts unelevated (SetStartUnelevated)
// and runs elevated, every start takes the token of StartToken.h; a document
// then opens through its open command with that token, never through the
// shell in this process, and something only the shell can open is refused.

#include "common/CmdLnSystem.h"
#include "common/StartToken.h"
#include "winutil/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <string_view>

struct TExecuteInfo {
    std::string FileName;
    std::string Parameters;
    // Empty: the new process inherits the caller's working folder.
    std::string Directory;
    // A shortcut's show state (SW_SHOWNORMAL, SW_SHOWMAXIMIZED,
    // SW_SHOWMINNOACTIVE); 0: the caller's.
    int ShowCommand = 0;
};

class TProcessManager {
public:
    // `system` answers the command-line parser's questions; it must outlive the manager.
    explicit TProcessManager(const CmdLnSystem& system = SystemCmdLn()) : system_(system) {}

    // `showCommand`: how the program's first window is shown, unless a
    // shortcut says. `directory`, when given, is the new process's working
    // folder instead of the one the line implies.
    bool Execute(std::string_view commandLine, bool wait, int showCommand = SW_SHOWNORMAL,
                 const std::string& directory = {});
    // True when a program file was found.
    bool GetExecuteInfo(std::string_view commandLine, TExecuteInfo& info) const;
    // Exit code of the last process waited for by its own handle (systems
    // before version 5, or a process that could not join a job); 0 otherwise.
    DWORD ExitCode() const { return exitCode_; }

private:
    bool RunStarted(UniqueKernelHandle process, UniqueKernelHandle thread, bool wait);
    bool OpenWithToken(const TStartToken& start, const TExecuteInfo& info, int showCommand, bool wait);
    bool WaitForProcess(const UniqueKernelHandle& process, const UniqueKernelHandle& thread);
    bool WaitForExit(const UniqueKernelHandle& process);

    const CmdLnSystem& system_;
    DWORD exitCode_ = 0;
};

bool ExecuteFile(std::string_view commandLine, bool wait, int showCommand = SW_SHOWNORMAL,
                 const std::string& directory = {});

// Whether this process's starts drop its elevation (the agent sets it once at
// its start: what it starts comes from places any program of the user may
// write). Off by default: the caller's token.
void SetStartUnelevated(bool unelevated);
bool StartUnelevated();

// Target, arguments, working folder and show state of a shell shortcut. False when the
// file cannot be read as a shortcut; the target is empty for a shortcut to
// something outside the file system.
bool ResolveShortcut(const std::string& fileName, TExecuteInfo& info);

// A new completion port bound to the job, or an empty handle.
UniqueKernelHandle CreateJobPort(HANDLE job);
// Reads the port until the job's last process has ended.
DWORD WINAPI JobWaitThread(LPVOID port);
// Waits for the handle while dispatching the thread's messages (a WM_QUIT met
// meanwhile is posted again afterwards). True when the handle was signalled;
// on time-out the handle, a thread, is ended and the answer is false.
bool WaitWithMessages(HWND window, HANDLE handle, DWORD timeout);
