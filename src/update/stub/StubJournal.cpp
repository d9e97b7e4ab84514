#include "update/stub/StubJournal.h"

#include "update/stub/StubRules.h"

namespace {

constexpr DWORD LockRetryMs = 50;
// A journal of the largest release: every line well under 1 KB.
constexpr std::size_t MaxJournalBytes = MaxReleaseFiles * 1024;

void Step(JournalStep step)
{
    if (step)
        step();
}

PathText BackupOf(std::string_view folder, std::string_view target)
{
    return InFolder(folder, target, BackupSuffix);
}

// The old file kept under its backup name: a second link of it, so that the
// target's name never goes missing (freshet.exe must be there to start after
// any cut), or, where the file system has no links, the target renamed.
bool KeepBackup(const PathText& target, const PathText& backup, bool& linked)
{
    linked = CreateHardLinkW(WideText(backup.View()).c_str(), WideText(target.View()).c_str(), nullptr) != FALSE;
    return linked || MoveWrittenThrough(target.View(), backup.View(), /*replace=*/false);
}

// One move: the old file kept as its backup, then the download in its
// place. A failure of the second step puts the target back at once.
bool MoveIn(std::string_view folder, const JournalMove& move, JournalStep step)
{
    const PathText target = InFolder(folder, move.target);
    const PathText backup = BackupOf(folder, move.target);
    bool linked = false;
    if (move.hadTarget) {
        if (!KeepBackup(target, backup, linked))
            return false;
        Step(step);
    }
    const PathText pending = InFolder(folder, move.pending);
    if (MoveWrittenThrough(pending.View(), target.View(), /*replace=*/linked)) {
        Step(step);
        return true;
    }
    // The system refuses to replace a file mapped elsewhere (a library
    // another process loaded) but lets it be renamed: the old file then
    // goes to its backup name itself. A cut between the steps leaves it
    // under one of its names.
    if (linked && DeleteAnyFile(backup.View()) && MoveWrittenThrough(target.View(), backup.View(), false) &&
        MoveWrittenThrough(pending.View(), target.View(), false)) {
        Step(step);
        return true;
    }
    if (move.hadTarget)
        MoveWrittenThrough(backup.View(), target.View(), /*replace=*/true);
    return false;
}

// A committed install is undone only while all its backups are there (else
// it is completed), so each old file goes back as a new link of its backup,
// which stays until the journal is gone; on a file system without links the
// backup itself goes back.
bool RestoreKeepingBackup(const PathText& target, const PathText& backup)
{
    PathText link(backup.View());
    link.Append(RestoringSuffix.substr(BackupSuffix.size()));
    DeleteAnyFile(link.View());
    if (!CreateHardLinkW(WideText(link.View()).c_str(), WideText(backup.View()).c_str(), nullptr))
        return MoveWrittenThrough(backup.View(), target.View(), /*replace=*/true);
    const bool back = MoveWrittenThrough(link.View(), target.View(), /*replace=*/true);
    DeleteAnyFile(link.View());
    return back;
}

// Undoes one move, from any point it reached; after the commit every move
// reached its target.
bool MoveBack(std::string_view folder, const JournalMove& move, bool committed)
{
    const PathText target = InFolder(folder, move.target);
    if (move.hadTarget) {
        const PathText backup = BackupOf(folder, move.target);
        if (!IsFile(backup.View()))
            return true;
        // A move that never reached its target left the old file there: its
        // backup is a second link of it, or was never the install's (planted
        // while the stub waited), and goes back over nothing.
        if (!committed && !move.sha256.empty() && IsFile(target.View()) &&
            !FileMatches(target.View(), move.sha256))
            return DeleteAnyFile(backup.View());
        if (committed)
            return RestoreKeepingBackup(target, backup);
        // A backup that is a link of the target itself is left by a rename
        // (the system's rename between two links of one file does nothing).
        return MoveWrittenThrough(backup.View(), target.View(), /*replace=*/true) &&
               (!IsFile(backup.View()) || DeleteAnyFile(backup.View()));
    }
    // Without an old file the target is the new one once its download is gone.
    if (IsFile(InFolder(folder, move.pending).View()) || !IsFile(target.View()))
        return true;
    if (!move.sha256.empty() && !FileMatches(target.View(), move.sha256))
        return true;
    return DeleteAnyFile(target.View());
}

// Visits the moves of a journal ReadJournal accepted, in order.
template <typename Visit>
bool EveryMove(const Journal& journal, Visit visit)
{
    std::string_view lines = journal.moveLines;
    JournalMove move;
    for (std::size_t i = 0; i < journal.moveCount; ++i) {
        NextJournalMove(lines, move);
        if (!visit(move))
            return false;
    }
    return true;
}

bool NewFilesIntact(std::string_view folder, const Journal& journal)
{
    return EveryMove(journal, [&](const JournalMove& move) {
        return FileMatches(InFolder(folder, move.target).View(), move.sha256);
    });
}

// A journal without digests is undone only while no backup of it is gone:
// once an older stub began to delete them, only completing it is whole.
bool BackupsWhole(std::string_view folder, const Journal& journal)
{
    return EveryMove(journal, [&](const JournalMove& move) {
        return !move.hadTarget || IsFile(BackupOf(folder, move.target).View());
    });
}

// Once a backup of a committed install is gone, only completing it is
// whole, also when a new file no longer holds its digest.
Recovery RecoverJournal(std::string_view folder, const Journal& journal, JournalStep step)
{
    const bool complete = journal.committed && (!BackupsWhole(folder, journal) ||
                                                (journal.version == 2 && NewFilesIntact(folder, journal)));
    if (complete) {
        CompleteJournal(folder, journal, step);
        return Recovery::completed;
    }
    if (!RollBackJournal(folder, journal, step))
        return Recovery::stuck;
    return journal.committed && journal.version == 2 ? Recovery::damaged : Recovery::rolledBack;
}

bool AnyBackup(std::string_view folder)
{
    bool any = false;
    ForEachFile(folder, "*.uBAK", [&](std::string_view) {
        any = true;
        return false;
    });
    return any;
}

bool ReadFolderJournal(std::string_view folder, HeapText& text, Journal& journal)
{
    return ReadSmallFile(InFolder(folder, JournalFileName).View(), MaxJournalBytes, text) &&
           ReadJournal(text.View(), journal) == RecordError::none;
}

// Backups left by an earlier version of the stub, by a roll-back of a
// committed install (links of their targets), or planted: a backup goes back
// only where its file is missing, so none can replace a file.
void ClearStrayBackups(std::string_view folder)
{
    ForEachFile(folder, "*.uBAK.new", [&](std::string_view name) {
        DeleteAnyFile(InFolder(folder, name).View());
        return true;
    });
    ForEachFile(folder, "*.uBAK", [&](std::string_view name) {
        const PathText backup = InFolder(folder, name);
        const std::string_view target(name.data(), name.size() - BackupSuffix.size());
        if (!IsPlainFileName(target) || !MoveWrittenThrough(backup.View(), InFolder(folder, target).View(), false) ||
            IsFile(backup.View()))
            DeleteAnyFile(backup.View());
        return true;
    });
}

std::uint32_t haltAtStep = 0;
std::uint32_t stepsDone = 0;

void HaltAtItsStep()
{
    if (++stepsDone != haltAtStep)
        return;
    const PathText name = Environment(L"KDSTUB_HALT_EVENT");
    const UniqueKernelHandle halted(OpenEventW(EVENT_MODIFY_STATE, FALSE, WideText(name.View()).c_str()));
    if (halted)
        SetEvent(halted.get());
    for (;;)
        Sleep(INFINITE);
}

}  // namespace

JournalStep HaltingStep()
{
    haltAtStep = ParseMilliseconds(Environment(L"KDSTUB_HALT_AT_STEP").View(), 0);
    return haltAtStep ? HaltAtItsStep : nullptr;
}

FolderLock::FolderLock(std::string_view folder, DWORD waitMs)
{
    const WideText path(InFolder(folder, LockFileName).View());
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        // A link planted under the lock's name is opened itself, never its target, which
        // closing would delete.
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
        busy_ = !file_ && GetLastError() == ERROR_SHARING_VIOLATION;
        if (!busy_ || GetTickCount64() - start >= waitMs)
            return;
        Sleep(LockRetryMs);
    }
}

bool ApplyJournal(std::string_view folder, const Journal& journal, JournalStep step)
{
    return EveryMove(journal, [&](const JournalMove& move) { return MoveIn(folder, move, step); });
}

bool RollBackJournal(std::string_view folder, const Journal& journal, JournalStep step)
{
    // Last move first, so each file returns over what the later ones left.
    bool whole = true;
    for (std::size_t i = journal.moveCount; i > 0; --i) {
        std::string_view lines = journal.moveLines;
        JournalMove move;
        for (std::size_t j = 0; j < i; ++j)
            NextJournalMove(lines, move);
        whole = MoveBack(folder, move, journal.committed) && whole;
        Step(step);
    }
    return whole;
}

void CompleteJournal(std::string_view folder, const Journal& journal, JournalStep step)
{
    EveryMove(journal, [&](const JournalMove& move) {
        SetFileAttributesW(WideText(InFolder(folder, move.target).View()).c_str(), FILE_ATTRIBUTE_ARCHIVE);
        if (move.hadTarget) {
            DeleteAnyFile(BackupOf(folder, move.target).View());
            Step(step);
        }
        return true;
    });
}

Recovery RecoverFolder(std::string_view folder, JournalStep step)
{
    const PathText journalPath = InFolder(folder, JournalFileName);
    // Cut before their rename: the journal's never reached its name, so it
    // moved nothing.
    DeleteAnyFile(InFolder(folder, JournalFileName, FreshSuffix).View());
    DeleteAnyFile(InFolder(folder, OutcomeFileName, FreshSuffix).View());
    Recovery recovery = Recovery::nothing;
    if (AttributesOf(journalPath.View()) != INVALID_FILE_ATTRIBUTES) {
        HeapText text;
        Journal journal;
        if (ReadFolderJournal(folder, text, journal))
            recovery = RecoverJournal(folder, journal, step);
        else
            recovery = AnyBackup(folder) ? Recovery::unreadableKept : Recovery::unreadable;
    }
    if (Unfinished(recovery)) {
        WriteOutcomeFile(folder, RecoveryExitCode(recovery), RecoveryText(recovery));
        return recovery;
    }
    // The journal goes first: the backups a roll-back of a committed install
    // kept keep it undone until then.
    if (DeleteAnyFile(journalPath.View()) && recovery != Recovery::nothing)
        Step(step);
    ClearStrayBackups(folder);
    if (recovery != Recovery::nothing)
        WriteOutcomeFile(folder, RecoveryExitCode(recovery), RecoveryText(recovery));
    return recovery;
}

bool JournalMoves(std::string_view folder, std::string_view name)
{
    HeapText text;
    Journal journal;
    return ReadFolderJournal(folder, text, journal) &&
           !EveryMove(journal, [&](const JournalMove& move) { return !SameFileName(move.target, name); });
}

int RecoveryExitCode(Recovery recovery)
{
    switch (recovery) {
    case Recovery::nothing:
    case Recovery::completed:
        return static_cast<int>(StubExit::done);
    case Recovery::stuck:
    case Recovery::unreadableKept:
        return static_cast<int>(StubExit::recoveryStuck);
    default:
        return static_cast<int>(StubExit::rolledBack);
    }
}

std::string_view RecoveryText(Recovery recovery)
{
    switch (recovery) {
    case Recovery::nothing:
        return "nothing was left to finish";
    case Recovery::completed:
        return "an install that was cut off while finishing was completed";
    case Recovery::rolledBack:
        return "an install that was cut off was rolled back: the previous version was kept";
    case Recovery::damaged:
        return "an install that was cut off left a file that differs from its digest, so it was rolled back: the "
               "previous version was kept";
    case Recovery::stuck:
        return "an install that was cut off could not be rolled back yet: a file is in use; the next start "
               "finishes it";
    case Recovery::unreadableKept:
        return "the install journal could not be read while backups of an install were there: nothing was "
               "moved or deleted, and the journal and the backups stay as they are";
    case Recovery::unreadable:
        break;
    }
    return "the install journal was unreadable: nothing was moved";
}

void WriteOutcomeFile(std::string_view folder, int code, std::string_view text)
{
    char buffer[2048];
    RecordText out(buffer, sizeof buffer);
    WriteOutcome(out, code, text);
    if (!out.Cut())
        WriteFlushed(InFolder(folder, OutcomeFileName).View(), out.Text());
}
