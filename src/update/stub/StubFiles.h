#pragma once
// The stub's file work: waiting for the program to release its file and
// putting the pending downloads in place so that a failure can always go back.
// Built into the stub only; it uses no exceptions and no heap-owning standard
// containers, so the stub stays small.
#include "update/stub/StubRules.h"

#include <windows.h>

#include <cstddef>
#include <new>
#include <string_view>

// A path in a fixed buffer. Text that does not fit makes the whole path empty,
// so a cut path can never name some other file: every call on it fails.
class PathText {
public:
    PathText() = default;
    explicit PathText(std::string_view text) { Append(text); }

    PathText& Append(std::string_view text);
    const char* c_str() const { return overflow_ ? "" : text_; }
    std::string_view View() const { return overflow_ ? std::string_view() : std::string_view(text_, length_); }

private:
    char text_[MAX_PATH + 1] = {};
    std::size_t length_ = 0;
    bool overflow_ = false;
};

bool FileExists(const char* path);

enum class WaitResult { free, stillHeld, denied };

// Waits while another process holds the file (a sharing violation when it is
// opened for writing), sleeping between tries, for at most limitMs. Any other
// failure (access denied, a read-only file) ends the wait at once as denied.
WaitResult WaitUntilWritable(const char* path, DWORD limitMs);

struct PendingMove {
    PathText pending;
    PathText target;
    PathText backup;
    DWORD pendingAttributes;
    DWORD targetAttributes;  // as planned; INVALID_FILE_ATTRIBUTES when there was none
    TargetRole role;
    bool hadTarget;
};

// A growing array on the process heap: the stub links no operator new.
class MoveList {
public:
    MoveList() = default;
    ~MoveList()
    {
        if (items_)
            HeapFree(GetProcessHeap(), 0, items_);
    }
    MoveList(const MoveList&) = delete;
    MoveList& operator=(const MoveList&) = delete;

    PendingMove* Add()
    {
        if (count_ == capacity_ && !Grow())
            return nullptr;
        return new (&items_[count_++]) PendingMove();
    }
    std::size_t Count() const { return count_; }
    PendingMove& operator[](std::size_t i) { return items_[i]; }

private:
    bool Grow()
    {
        const std::size_t capacity = capacity_ ? capacity_ * 2 : 64;
        const SIZE_T bytes = capacity * sizeof(PendingMove);
        void* grown = items_ ? HeapReAlloc(GetProcessHeap(), 0, items_, bytes) : HeapAlloc(GetProcessHeap(), 0, bytes);
        if (!grown)
            return false;
        items_ = static_cast<PendingMove*>(grown);
        capacity_ = capacity;
        return true;
    }

    PendingMove* items_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};

// Puts the pending files of the program's folder over their targets.
class Replacement {
public:
    // Lists the pending files and names their targets. The release is what is
    // pending now: a file that goes missing later makes the replacement fail.
    // False when the list cannot be held (out of memory).
    bool Plan(const StubCommand& command);

    // Each target is renamed to a backup and the new file moved in; when a
    // move fails, every file moved so far is put back and the backups
    // restored, so the folder holds the whole old release or the whole new
    // one. Backups are removed only after every move succeeded. A read-only
    // target or one that is a folder stops the work before anything is moved.
    // In setup mode the setup program's path, if one was put in place, goes to
    // setupProgram (empty otherwise). Returns done, accessDenied or rolledBack.
    StubExit Apply(PathText& setupProgram);

private:
    MoveList moves_;
};
