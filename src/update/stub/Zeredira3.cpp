// The self-upgrade stub: started by the update engine from a private folder
// with the program's path and its restart argument, and the manifest of the
// checked release beside it. It waits until the product has ended, finishes
// or undoes an install an earlier run left unfinished, waits until every file
// can be replaced, flushes and checks each download against the manifest,
// moves the release in through its journal and starts the program again. Its exit code (StubExit)
// and a line of text also go to `update.outcome` in the program's folder.
//
// Test settings, read from the environment:
//   KDSTUB_MESSAGE_LOG    the information box's text is appended to this file
//                         instead of being shown
//   KDSTUB_WAIT_LIMIT_MS  how long to wait for the product and held files
//                         (default five minutes)
//   KDSTUB_HALT_AT_STEP   stop for ever after this many steps of the journal
//                         have reached the disk (1: the journal is written,
//                         then each rename, the commit, each backup removed,
//                         the journal removed; a recovery counts its own),
//                         having set the event named by KDSTUB_HALT_EVENT:
//                         a test then kills the process (HaltingStep)
#include "core/Utf8.h"
#include "update/stub/StubFiles.h"
#include "update/stub/StubInstall.h"
#include "update/stub/StubJournal.h"
#include "update/stub/StubRecords.h"
#include "update/stub/StubRules.h"

#include <windows.h>

namespace {

constexpr DWORD DefaultWaitLimitMs = 5 * 60 * 1000;
constexpr DWORD RecoveryRetryMs = 250;
constexpr std::size_t MaxManifestBytes = MaxReleaseFiles * 512;
constexpr const wchar_t* InfoCaption = L"Zeredira3";
constexpr std::string_view InfoText =
    "Zeredira3 is the self-upgrade helper of the Keldora updater.\r\n\r\n"
    "The updater starts it to put downloaded files in place and to restart the program. "
    "Started on its own it does nothing.";

class WindowsProbe : public FileProbe {
public:
    bool FileExists(std::string_view path) const override { return IsFile(path); }
};

void ShowInformation()
{
    const PathText log = Environment(L"KDSTUB_MESSAGE_LOG");
    if (log.View().empty()) {
        MessageBoxW(nullptr, WideText(InfoText).c_str(), InfoCaption, MB_OK | MB_ICONINFORMATION);
        return;
    }
    const UniqueFile file(CreateFileW(WideText(log.View()).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.get(), "Zeredira3\r\n", 11, &written, nullptr);
    WriteFile(file.get(), InfoText.data(), static_cast<DWORD>(InfoText.size()), &written, nullptr);
    WriteFile(file.get(), "\r\n", 2, &written, nullptr);
}

// Starts the program with the restart parameters as its arguments, in its own
// folder. The process handle, when asked for, is the caller's to close.
bool Start(std::string_view program, std::string_view params, HANDLE* process = nullptr)
{
    HeapText line;
    const bool built = line.Append("\"") && line.Append(program) && line.Append("\"") &&
                       (params.empty() || (line.Append(" ") && line.Append(params)));
    HeapArray<wchar_t> wide;
    const std::string_view text = line.View();
    for (std::size_t at = 0; built && at < text.size();) {
        const Utf8Char c = DecodeUtf8At(text, at);
        at += c.length;
        char16_t units[2];
        const std::size_t count = EncodeUtf16(c.code, units);
        for (std::size_t i = 0; i < count; ++i) {
            if (wchar_t* unit = wide.Add())
                *unit = static_cast<wchar_t>(units[i]);
        }
    }
    wchar_t* end = wide.Add();
    if (!built || !end)
        return false;
    *end = L'\0';
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started = {};
    const PathText path(program);
    const PathText folder(FolderOf(program));
    if (!CreateProcessW(WideText(path.View()).c_str(), &wide[0], nullptr, nullptr, FALSE, 0, nullptr,
                        WideText(folder.View()).c_str(), &startup, &started))
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
bool RunSetupThenProgram(const StubCommand& command, const PathText& setup, DWORD waitLimitMs)
{
    HANDLE process = nullptr;
    const bool setupStarted = Start(setup.View(), command.params, &process);
    if (setupStarted) {
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
        const ULONGLONG start = GetTickCount64();
        while (!DeleteAnyFile(setup.View()) && GetTickCount64() - start < waitLimitMs)
            Sleep(50);
    }
    return Start(command.program, command.params) && setupStarted;
}

// The manifest beside the stub, held open (others may only read it) and
// deleted when the stub ends. A scanner that opens the new file for a moment
// is waited out, within the wait for the product: its open is no missing
// manifest.
UniqueFile OpenManifest(DWORD waitLimitMs)
{
    const ULONGLONG start = GetTickCount64();
    wchar_t module[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return {};
    const PathText own = Utf8Of(module);
    const WideText path(InFolder(FolderOf(own.View()), ManifestFileName).View());
    for (;;) {
        UniqueFile manifest(CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (manifest || GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount64() - start >= waitLimitMs)
            return manifest;
        Sleep(RecoveryRetryMs);
    }
}

// An earlier install left unfinished is finished or undone once the program
// has ended (it may be among its files); a file in use is waited for. True
// unless a roll-back stays stuck, which refuses this install.
bool RecoverBeforeInstall(std::string_view folder, ULONGLONG start, DWORD waitLimitMs, InstallResult& result)
{
    for (;;) {
        const Recovery recovery = RecoverFolder(folder, HaltingStep());
        if (!Unfinished(recovery)) {
            if (recovery != Recovery::nothing)
                result.Set(static_cast<StubExit>(RecoveryExitCode(recovery)), RecoveryText(recovery));
            return true;
        }
        if (GetTickCount64() - start >= waitLimitMs) {
            result.Set(StubExit::recoveryStuck, RecoveryText(recovery), ": nothing was installed");
            return false;
        }
        Sleep(RecoveryRetryMs);
    }
}

// Installs the manifest's release; the result says how it went. True when
// the program is to be started again (not while the product still runs or a
// roll-back is unfinished); in setup mode `setup` then names the setup
// program put in place. A manifest of no files installs nothing: an engine
// whose files were all skipped, or freshet.exe handing over a recovery it
// cannot do while it runs, sends one.
bool Upgrade(const StubCommand& command, std::string_view folder, const Manifest& manifest, DWORD waitLimitMs,
             InstallResult& result, PathText& setup)
{
    const ULONGLONG start = GetTickCount64();
    Install install(command, folder, HaltingStep());
    if (!install.WaitForProgram(manifest.product, start, waitLimitMs, result))
        return result.code != StubExit::stillHeld;
    if (!RecoverBeforeInstall(folder, start, waitLimitMs, result))
        return false;
    if (manifest.fileCount == 0) {
        if (result.length == 0)
            result.Set(StubExit::done, "the release was installed");
        return true;
    }
    bool installed = install.Plan(manifest, result) && install.WaitForRelease(start, waitLimitMs, result) &&
                     install.CheckDigests(result);
    if (installed) {
        DeletePendingFiles(folder, [&](std::string_view name) { return install.IsPlanned(name); });
        installed = install.Apply(result);
    }
    install.Release();
    if (installed)
        setup = install.SetupProgram();
    return result.code != StubExit::stillHeld && result.code != StubExit::recoveryStuck;
}

// The manifest names the updater this stub was started for.
bool ForThisUpdater(const StubCommand& command, const Manifest& manifest)
{
    const std::string_view program = command.program;
    return SameFileName(std::string_view(program.data() + FolderOf(program).size(),
                                         program.size() - FolderOf(program).size()),
                        manifest.updater);
}

// The work in the program's folder, under its lock: an earlier install
// finished or undone, then this one. True when the program is to be started.
bool InstallRelease(const StubCommand& command, std::string_view folder, DWORD waitLimitMs, InstallResult& result,
                    PathText& setup)
{
    const FolderLock lock(folder, waitLimitMs);
    if (!lock.Held()) {
        result.Set(StubExit::stillHeld, "another install held the program's folder: nothing was replaced");
        return false;
    }
    const UniqueFile manifestFile = OpenManifest(waitLimitMs);
    HeapText manifestText;
    Manifest manifest;
    bool restart = true;
    if (!manifestFile) {
        result.Set(StubExit::badManifest, "no manifest of checked files was handed over: nothing was replaced");
    } else if (const RecordError error = !ReadAll(manifestFile.get(), MaxManifestBytes, manifestText)
                                             ? RecordError::tooMany
                                             : ReadManifest(manifestText.View(), manifest);
               error != RecordError::none) {
        result.Set(StubExit::badManifest, "the manifest of checked files was refused (", RecordErrorText(error),
                   "): nothing was replaced");
    } else if (!ForThisUpdater(command, manifest)) {
        result.Set(StubExit::badManifest, "the manifest of checked files names another updater (", manifest.updater,
                   "): nothing was replaced");
    } else {
        restart = Upgrade(command, folder, manifest, waitLimitMs, result, setup);
    }
    // Without a manifest there is no product to wait for: a journal is
    // finished now, as far as it can be.
    if (result.code == StubExit::badManifest && Unfinished(RecoverFolder(folder)))
        restart = false;
    // Whatever was not installed is stale now.
    DeletePendingFiles(folder, [](std::string_view) { return false; });
    // Written before the program starts: its first run reports it.
    WriteOutcomeFile(folder, static_cast<int>(result.code), result.Text());
    return restart;
}

StubExit Run()
{
    HeapText commandLine;
    AppendUtf8Of(commandLine, GetCommandLineW());
    StubCommand command;
    switch (ParseStubCommand(StubArgumentText(commandLine.View()), WindowsProbe(), command)) {
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
    const std::string_view folder = FolderOf(command.program);
    const DWORD waitLimitMs = ParseMilliseconds(Environment(L"KDSTUB_WAIT_LIMIT_MS").View(), DefaultWaitLimitMs);
    InstallResult result;
    PathText setup;
    if (!InstallRelease(command, folder, waitLimitMs, result, setup))
        return result.code;
    const bool started = setup.View().empty() ? Start(command.program, command.params)
                                              : RunSetupThenProgram(command, setup, waitLimitMs);
    if (result.code == StubExit::done && !started) {
        result.Set(StubExit::startFailed, "the release was installed but the program did not start");
        WriteOutcomeFile(folder, static_cast<int>(result.code), result.Text());
    }
    return result.code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return static_cast<int>(Run());
}
