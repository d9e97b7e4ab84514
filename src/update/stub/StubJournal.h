#pragma once
// Crash-safe replacement of a release, shared by the stub and freshet.exe's
// start. The stub writes a journal of its planned moves (flushed) before the
// first one; each move renames the target to its backup and the download in,
// written through; `update.ini` moves last, so the installed version advances
// only when everything else is in place. Then a commit line is appended
// (flushed), the backups go, and the journal goes last. Whoever finds a
// journal at start completes it (committed) or rolls it back (not), so the
// folder holds the whole old release or the whole new one; every step of both
// may be repeated after a crash. No `.uTMP` or `.uBAK` outlives that start.
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

private:
    UniqueFile file_;
};

// Called after each step that reaches the disk (the stub's test seam).
using JournalStep = void (*)();

// Runs the moves of a journal in order. When one fails, the moves done so far
// are undone and false is returned.
bool ApplyJournal(std::string_view folder, const Journal& journal, JournalStep step);
// Puts back what the moves of a journal did, whatever point they reached:
// each backup over its target, each new file without an old one removed.
// False when something could not be put back (the journal must stay).
bool RollBackJournal(std::string_view folder, const Journal& journal, JournalStep step);
// After the commit: the backups go and the new files lose the download's
// hidden and temporary marks.
void CompleteJournal(std::string_view folder, const Journal& journal, JournalStep step);

enum class Recovery {
    nothing,      // no journal: at most stale .uTMP and .uBAK files were cleared
    completed,    // a committed install was finished
    rolledBack,   // an install cut off before its commit was undone
    unreadable,   // the journal was cut or garbled: nothing was moved by it
    stuck,        // a file could not be put back; the journal stays for the next start
};

// With the folder locked: finishes or undoes an unfinished install; a `.uBAK`
// without a journal goes back in place when its file is missing and is
// deleted otherwise; with dropPending every `.uTMP` goes too (the stub keeps
// them: it installs or deletes them itself). Writes the outcome of what it
// did (all but nothing).
Recovery RecoverFolder(std::string_view folder, bool dropPending);

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
