#include "common/ProcessManager.h"

#include "common/CmdLnSystem.h"
#include "core/CmdLnUtils.h"
#include "core/LaunchRules.h"
#include "core/StrCon.h"
#include "common/SystemFacts.h"
#include "common/Environment.h"
#include "common/JobObjects.h"
#include "winutil/ComApartment.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"
#include "winutil/UniqueShell.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

// Given to a process that was created but could not be resumed.
constexpr UINT kNotStartedExitCode = 5;
// Far beyond any shortcut the shell writes.
constexpr std::size_t kMaxShortcutSize = 1 << 20;
constexpr DWORD kCreationFlags = CREATE_SUSPENDED | CREATE_SEPARATE_WOW_VDM;
constexpr ULONG kShellWaitMask =
    SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;

bool IsShortcut(const std::string& path)
{
    return HasChar('.', path) && SameTextCollapsed(TextAfterLast(".", path), "lnk", ' ');
}

const wchar_t* TextOrNull(const std::wstring& text)
{
    return text.empty() ? nullptr : text.c_str();
}

// CreateProcess may write into the command line, so it gets its own copy.
bool StartSuspended(const TStartToken& start, const std::string& candidate, const std::string& directory,
                    int showCommand, PROCESS_INFORMATION& started)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showCommand);
    std::wstring commandLine = WideFromUtf8(candidate);
    const std::wstring folder = WideFromUtf8(directory);
    return CreateProcessFor(start, commandLine, kCreationFlags, TextOrNull(folder), startup, started);
}

// The shell gets the program and its arguments apart: it takes its file
// argument as one name and never splits off arguments.
bool ShellOpen(const TExecuteInfo& info, bool wait, int showCommand)
{
    const std::wstring file = WideFromUtf8(info.FileName);
    const std::wstring parameters = WideFromUtf8(info.Parameters);
    const std::wstring directory = WideFromUtf8(info.Directory);
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    // Without waiting the call may come from a thread that ends right after
    // it, and nobody is there to answer the shell's error box.
    execute.fMask = wait ? kShellWaitMask : SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    execute.lpFile = file.c_str();
    execute.lpParameters = TextOrNull(parameters);
    execute.lpDirectory = TextOrNull(directory);
    execute.nShow = showCommand;
    if (!ShellExecuteExW(&execute))
        return false;
    if (!wait)
        return true;
    // No process handle when the request went to a program already running.
    UniqueKernelHandle process(execute.hProcess);
    WaitWithMessages(nullptr, process.get(), INFINITE);
    return true;
}

// The command the shell runs to open the file ("prog.exe" "%1"), or empty.
std::string OpenCommandOf(const std::string& file)
{
    const std::wstring name = PathFindExtensionW(WideFromUtf8(file).c_str());
    DWORD size = 0;
    if (name.empty() ||
        AssocQueryStringW(ASSOCF_NOTRUNCATE, ASSOCSTR_COMMAND, name.c_str(), L"open", nullptr, &size) != S_FALSE ||
        size == 0)
        return {};
    std::wstring command(size, L'\0');
    if (FAILED(AssocQueryStringW(ASSOCF_NOTRUNCATE, ASSOCSTR_COMMAND, name.c_str(), L"open", command.data(), &size)))
        return {};
    command.resize(size > 0 ? size - 1 : 0);
    return Utf8FromWide(command);
}

std::atomic<bool> g_startUnelevated{false};

bool Resume(const UniqueKernelHandle& process, const UniqueKernelHandle& thread)
{
    if (ResumeThread(thread.get()) != static_cast<DWORD>(-1))
        return true;
    TerminateProcess(process.get(), kNotStartedExitCode);
    return false;
}

struct JobWithPort {
    UniqueKernelHandle job;
    UniqueKernelHandle port;
};

// An unnamed job, so that two waits never share one, holding the suspended
// process; empty handles when the system has no job objects or the process
// cannot join (it may already belong to a job that forbids it).
JobWithPort JoinNewJob(HANDLE process)
{
    try {
        JobWithPort joined;
        joined.job.reset(BoundCreateJobObjectW(nullptr, nullptr));
        if (joined.job)
            joined.port = CreateJobPort(joined.job.get());
        if (!joined.port || !BoundAssignProcessToJobObject(joined.job.get(), process))
            return {};
        return joined;
    } catch (const std::runtime_error&) {
        return {};
    }
}

}  // namespace

bool TProcessManager::GetExecuteInfo(std::string_view commandLine, TExecuteInfo& info) const
{
    std::string program;
    std::string parameters;
    if (!SplitCommandLine(system_, commandLine, program, parameters))
        return false;
    if (!IsShortcut(program)) {
        info = {program, parameters, FolderOfPath(program)};
        return true;
    }
    TExecuteInfo target;
    if (!ResolveShortcut(program, target))
        return false;
    // A shortcut to something outside the file system is the shell's to open.
    info = target.FileName.empty() ? TExecuteInfo{program, "", FolderOfPath(program)} : target;
    return true;
}

bool TProcessManager::Execute(std::string_view commandLine, bool wait, int showCommand, const std::string& directory)
{
    exitCode_ = 0;
    TExecuteInfo info;
    if (!GetExecuteInfo(commandLine, info))
        return false;
    if (!directory.empty())
        info.Directory = directory;
    const int show = info.ShowCommand != 0 ? info.ShowCommand : showCommand;
    const TStartToken start = StartUnelevated() ? StartTokenFor(GetShellWindow()) : TStartToken{};
    for (const std::string& candidate : LaunchCandidates(system_, commandLine, info.FileName, info.Parameters)) {
        PROCESS_INFORMATION started = {};
        if (StartSuspended(start, candidate, info.Directory, show, started))
            return RunStarted(UniqueKernelHandle(started.hProcess), UniqueKernelHandle(started.hThread), wait);
    }
    if (start.way == TStartWay::swAsCaller)
        return ShellOpen(info, wait, show);
    return OpenWithToken(start, info, show, wait);
}

// The shell would open the file in this elevated process; its open command
// runs with the chosen token instead.
bool TProcessManager::OpenWithToken(const TStartToken& start, const TExecuteInfo& info, int showCommand, bool wait)
{
    const std::string command = OpenCommandOf(info.FileName);
    if (command.empty())
        return false;
    PROCESS_INFORMATION started = {};
    if (!StartSuspended(start, FillOpenCommand(command, info.FileName), info.Directory, showCommand, started))
        return false;
    return RunStarted(UniqueKernelHandle(started.hProcess), UniqueKernelHandle(started.hThread), wait);
}

bool TProcessManager::RunStarted(UniqueKernelHandle process, UniqueKernelHandle thread, bool wait)
{
    if (!wait)
        return Resume(process, thread);
    if (GetWindowsVersionFacts().major < 5)
        return WaitForProcess(process, thread);
    const JobWithPort joined = JoinNewJob(process.get());
    if (!joined.port)
        return WaitForProcess(process, thread);
    if (!Resume(process, thread))
        return false;
    DWORD threadId = 0;
    UniqueKernelHandle waiter(CreateThread(nullptr, 0, JobWaitThread, joined.port.get(), 0, &threadId));
    if (!waiter)
        return WaitForExit(process);
    WaitWithMessages(nullptr, waiter.get(), INFINITE);
    return true;
}

bool TProcessManager::WaitForProcess(const UniqueKernelHandle& process, const UniqueKernelHandle& thread)
{
    return Resume(process, thread) && WaitForExit(process);
}

bool TProcessManager::WaitForExit(const UniqueKernelHandle& process)
{
    WaitWithMessages(nullptr, process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &exitCode_);
    return true;
}

bool ExecuteFile(std::string_view commandLine, bool wait, int showCommand, const std::string& directory)
{
    TProcessManager manager;
    return manager.Execute(commandLine, wait, showCommand, directory);
}

void SetStartUnelevated(bool unelevated)
{
    g_startUnelevated = unelevated;
}

bool StartUnelevated()
{
    return g_startUnelevated;
}

bool ResolveShortcut(const std::string& fileName, TExecuteInfo& info)
{
    ComApartment com;
    UniqueCom<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.put()))))
        return false;
    UniqueCom<IPersistFile> file;
    if (FAILED(link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))))
        return false;
    const std::wstring name = WideFromUtf8(SystemCmdLn().FullPath(ExpandEnvVars(fileName)));
    if (name.empty() || FAILED(file.get()->Load(name.c_str(), STGM_READ)))
        return false;
    wchar_t target[MAX_PATH + 1] = {};
    wchar_t directory[MAX_PATH + 1] = {};
    wchar_t arguments[INFOTIPSIZE + 1] = {};
    // The item ID list names the target exactly; the path a link keeps beside
    // it may be a copy in the ANSI code page, "?" where a name does not fit.
    UniqueItemIdList items;
    WIN32_FIND_DATAW found;
    if ((FAILED(link.get()->GetIDList(items.put())) || !items || !SHGetPathFromIDListW(items.get(), target)) &&
        link.get()->GetPath(target, MAX_PATH, &found, SLGP_UNCPRIORITY) != S_OK)
        target[0] = L'\0';
    link.get()->GetWorkingDirectory(directory, MAX_PATH);
    link.get()->GetArguments(arguments, INFOTIPSIZE);
    // The show state from the file's own header: Wine's link object does not load it.
    const int showCommand = ShortcutShowCommand(ReadWholeFile(Utf8FromWide(name), kMaxShortcutSize).value_or(""));
    info = {Utf8FromWide(target), Utf8FromWide(arguments), Utf8FromWide(directory), showCommand};
    return true;
}

UniqueKernelHandle CreateJobPort(HANDLE job)
{
    UniqueKernelHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, reinterpret_cast<ULONG_PTR>(job), 1));
    if (!port)
        return port;
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job, port.get()};
    if (!BoundSetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &association,
                                      sizeof association))
        return {};
    return port;
}

DWORD WINAPI JobWaitThread(LPVOID port)
{
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    while (GetQueuedCompletionStatus(static_cast<HANDLE>(port), &message, &key, &overlapped, INFINITE))
        if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
            break;
    return 0;
}

bool WaitWithMessages(HWND window, HANDLE handle, DWORD timeout)
{
    if (!handle)
        return false;
    bool quit = false;
    WPARAM quitCode = 0;
    DWORD result = WAIT_FAILED;
    for (;;) {
        result = MsgWaitForMultipleObjects(1, &handle, FALSE, timeout, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + 1)
            break;
        MSG message;
        while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (result == WAIT_TIMEOUT)
        TerminateThread(handle, 0);
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return result == WAIT_OBJECT_0;
}
