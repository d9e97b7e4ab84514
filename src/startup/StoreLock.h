#pragma once
// One take-over, restore or rewrite of the stores at a time for all the
// sessions of one user (two Remote Desktop sessions, fast user switching):
// the Keldora.ini files and the store keys are rewritten as wholes, and two
// writers at once can lose each other's sections.
//
// The lock is a file in the user's own local profile folder
// ("%LOCALAPPDATA%\Keldora\Stores.lock"), held open without sharing: every
// session, elevated or not, of the user opens the same file, and no other
// user can open it (the profile is the user's alone), so no one else can
// hold it or fake it, as anyone could a named object in the global
// namespace. The system closes the file of a process that dies holding it.
// Within a process, threads take turns through a process-wide mutex that
// its holder's thread may take again (nested users of the lock cost
// nothing) and that a thread ending while it holds it leaves to the next;
// the file stays open while any thread of the process holds the lock.
// Where the file cannot be made (no profile folder) the work goes on
// without it, as it did before there was one.
#include <windows.h>

#include <string>

inline constexpr DWORD kStoreLockTimeoutMs = 10000;

class TStoreLock {
public:
    // Waits up to `timeoutMs` for the lock. Safe from any thread.
    explicit TStoreLock(DWORD timeoutMs = kStoreLockTimeoutMs);
    ~TStoreLock();
    TStoreLock(const TStoreLock&) = delete;
    TStoreLock& operator=(const TStoreLock&) = delete;

    // False only when another holder kept the lock past the time-out.
    bool Acquired() const { return acquired_; }
    // Raises std::runtime_error unless Acquired().
    void Require() const;

    // The lock file's path; empty when the user has no local profile folder.
    static std::string Path();

private:
    bool owned_ = false;
    bool acquired_ = true;
};
