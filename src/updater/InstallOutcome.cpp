#include "updater/InstallOutcome.h"

#include "common/AppMessages.h"
#include "common/AppPaths.h"
#include "update/auResume.h"
#include "update/auStubLaunch.h"
#include "update/stub/ManifestWriter.h"
#include "update/stub/StubJournal.h"
#include "update/stub/StubRecords.h"
#include "update/stub/StubRules.h"
#include "updater/UpdaterLog.h"
#include "winutil/WideText.h"

#include <windows.h>

namespace {

constexpr std::size_t MaxOutcomeBytes = 64 * 1024;

// The stub waits for this process (named as the product), finishes the
// folder's journal and starts freshet.exe again with this run's arguments,
// as they were written (quotes included).
bool HandOverRecovery(const std::string& program)
{
    const std::string name = program.substr(FolderOf(program).size());
    const std::string commandLine = Utf8FromWide(GetCommandLineW());
    const std::string arguments(StubArgumentText(commandLine));
    const std::string manifest = ManifestText(ProductIdentity(GetCurrentProcessId()), name, {});
    return !manifest.empty() && LaunchStub(GetModuleHandleW(nullptr), program, "+" + arguments + "0", manifest);
}

// The outcome file's report, removed once read.
std::string TakeOutcome(std::string_view folder)
{
    const PathText path = InFolder(folder, OutcomeFileName);
    HeapText text;
    if (!ReadSmallFile(path.View(), MaxOutcomeBytes, text))
        return {};
    DeleteAnyFile(path.View());
    Outcome outcome;
    if (const RecordError error = ReadOutcome(text.View(), outcome); error != RecordError::none) {
        LogUpdater("the outcome of the last install was unreadable (" + std::string(RecordErrorText(error)) + ")");
        return {};
    }
    LogUpdater("install outcome " + std::to_string(outcome.code) + ": " + std::string(outcome.text));
    if (outcome.code == static_cast<int>(StubExit::done))
        return {};
    return "The update was not installed: " + std::string(outcome.text) + ".";
}

}  // namespace

EarlierInstall FinishEarlierInstall()
{
    const std::string program = GetAppPath();
    const std::string folder(FolderOf(program));
    if (folder.empty())
        return {};
    EarlierInstall earlier;
    {
        const FolderLock lock(folder, /*waitMs=*/0);
        // Another stub or recovery works in the folder: nothing is looked
        // for over it, and its downloads are not this run's to delete. A
        // folder that cannot be written is told by the download.
        if (lock.Busy()) {
            LogUpdater("another update is being installed in this folder: no update is looked for now");
            earlier.stuck = true;
            return earlier;
        }
        if (!lock.Held())
            return {};
        earlier.stuck = Unfinished(RecoverFolder(folder, HaltingStep()));
        // Downloads of earlier runs are never installed; one cut off keeps
        // its record and waits for the engine, which resumes it only for a
        // file of the release it checks and deletes it otherwise.
        if (!earlier.stuck)
            DeletePendingFiles(folder, [&](std::string_view name) {
                return IsFile(InFolder(folder, name, ResumeSuffix).View());
            });
        if (earlier.stuck && JournalMoves(folder, program.substr(folder.size())))
            earlier.handedOver = HandOverRecovery(program);
        if (earlier.handedOver)
            LogUpdater("an install that was cut off has to put back freshet.exe itself: the stub finishes it");
        else
            earlier.failure = TakeOutcome(folder);
    }
    RemoveStalePrivateFolders();
    return earlier;
}

void ShowFailedInstall(const std::string& text)
{
    ShowMessageBox(nullptr, text, "Freshet!", MB_OK | MB_ICONERROR);
}
