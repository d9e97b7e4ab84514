#pragma once
// Crash-safe replacement of a release, shared by the stub and freshet.exe's
// start. The downloads are flushed before the stub writes a journal of its
// planned moves with each new file's digest (flushed) before the first move;
// each move renames the target to its backup and the download in. A rename
// only orders names: data reaches the disk through flushes alone, so nothing
// is moved that was not flushed first. `update.ini` moves last, so the
// installed version advances only when everything else is in place. Then a
// commit line is appended (flushed), the backups go, and the journal goes
// last. Whoever finds a journal at start completes it (committed, every new
// file as its digest says) or rolls it back, so the folder holds the whole
// old release or the whole new one; every step of both may be repeated after
// a crash or a power cut. No `.uTMP` or `.uBAK` outlives that start, unless
// a file in use keeps a roll-back from finishing (Recovery::stuck).
//
// The program's folder is locked (`update.lock`, opened without sharing and
// deleted when closed, also when the process is killed) while the stub or a
// recovery works in it. Outcomes go to `update.outcome` there, for the next
// freshet.exe run to report (StubRecords.h has the forms).
#include "update/stub/StubFiles.h"
#include "update/stub/StubRecords.h"

#include <string_view>

class FolderLock {
public:
    // Tries for at most waitMs while another process holds the folder.
    FolderLock(std::string_view folder, DWORD waitMs);
    bool Held() const { return static_cast<bool>(file_); }
    // Not held because another process holds it (not because the folder
    // cannot be written, say).
    bool Busy() const { return busy_; }

private:
    UniqueFile file_;
    bool busy_ = false;
};

// Called after each step that reaches the disk (the stub's test seam).
using JournalStep = void (*)();

// The test seam of the stub and of freshet.exe's recovery: with
// KDSTUB_HALT_AT_STEP set, a step that stops the process for ever after that
// many steps, once it has set the event KDSTUB_HALT_EVENT names (a test then
// cuts the power or kills it); nullptr otherwise.
JournalStep HaltingStep();

// Runs the moves of a journal in order; false at the first that fails, which
// is put back at once (the caller rolls back the rest).
bool ApplyJournal(std::string_view folder, const Journal& journal, JournalStep step);
// Puts back what the moves of a journal did, whatever point they reached:
// each backup over its target (before the commit, in version 2, only over
// the new file: a target that is not yet the new file keeps itself and loses
// the backup; after the commit as a new link of the backup, which stays
// until the journal is deleted, so a cut roll-back is rolled back again), each new file without an old one removed
// (in version 2 only when it holds the journal's digest: anything else is
// not the install's). False when something could not be put back: the
// journal and the backups left must stay.
bool RollBackJournal(std::string_view folder, const Journal& journal, JournalStep step);
// After the commit: the backups go and the new files lose the download's
// hidden mark.
void CompleteJournal(std::string_view folder, const Journal& journal, JournalStep step);

enum class Recovery {
    nothing,     // no journal: at most stale .uTMP and .uBAK files were cleared
    completed,   // a committed install was finished, every new file checked against its digest
    rolledBack,  // an install cut off before its commit was undone
    damaged,     // a committed install held a file that differs from its digest: it was undone
    unreadable,  // the journal was cut or garbled: nothing was moved by it
    stuck,       // a file could not be put back; the journal stays for the next start
    unreadableKept,  // the journal was unreadable while backups were there: nothing was moved or deleted
};

// Whether a recovery left its journal in place, which refuses any install
// over it.
inline bool Unfinished(Recovery recovery)
{
    return recovery == Recovery::stuck || recovery == Recovery::unreadableKept;
}

// With the folder locked: finishes or undoes an unfinished install. A
// committed journal is completed when every new file holds its digest and
// rolled back otherwise; one without digests (version 1, left by an older
// stub) is rolled back while all its backups are there, since its new files
// cannot be checked and the old ones are whole. An unreadable journal is
// deleted, unless backups are there: they may be the only old files, so
// they and the journal stay. A `.uBAK` without a journal goes back in place
// when its file is missing and is deleted otherwise. Writes the outcome of
// what it did (all but nothing). Every step may be repeated after a power
// cut during the recovery itself.
Recovery RecoverFolder(std::string_view folder, JournalStep step = nullptr);

// Whether the folder's journal moves a file of this name.
bool JournalMoves(std::string_view folder, std::string_view name);

// The outcome's code and text of a recovery.
int RecoveryExitCode(Recovery recovery);
std::string_view RecoveryText(Recovery recovery);

// Writes the outcome of a run (code and one line of text) into the folder.
void WriteOutcomeFile(std::string_view folder, int code, std::string_view text);

// Deletes the folder's `.uTMP` files, except those a keep(name) call accepts.
template <typename Keep>
void DeletePendingFiles(std::string_view folder, Keep keep)
{
    ForEachFile(folder, "*.uTMP", [&](std::string_view name) {
        if (!keep(name))
            DeleteAnyFile(InFolder(folder, name).View());
        return true;
    });
}
