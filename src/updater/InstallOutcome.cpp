#include "updater/InstallOutcome.h"

#include "common/AppMessages.h"
#include "update/auStubLaunch.h"
#include "update/stub/StubJournal.h"
#include "update/stub/StubRecords.h"
#include "update/stub/StubRules.h"
#include "updater/UpdaterLog.h"
#include "winutil/WideText.h"

#include <windows.h>

namespace {

constexpr std::size_t MaxOutcomeBytes = 64 * 1024;

std::string ProgramFolder()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return {};
    const std::string program = Utf8FromWide(std::wstring_view(path, length));
    return std::string(FolderOf(program));
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

std::string FinishEarlierInstall()
{
    const std::string folder = ProgramFolder();
    if (folder.empty())
        return {};
    std::string report;
    {
        const FolderLock lock(folder, /*waitMs=*/0);
        if (!lock.Held())
            return {};
        RecoverFolder(folder, /*dropPending=*/true);
        report = TakeOutcome(folder);
    }
    RemoveStalePrivateFolders();
    return report;
}

void ShowFailedInstall(const std::string& text)
{
    ShowMessageBox(nullptr, text, "Freshet!", MB_OK | MB_ICONERROR);
}
