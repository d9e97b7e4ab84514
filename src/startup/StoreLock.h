#pragma once
// One take-over, restore or rewrite of the stores at a time for all the
// sessions of one user (two Remote Desktop sessions, fast user switching):
// the Keldora.ini files and the store keys are rewritten as wholes, and two
// writers at once can lose each other's sections. The lock is a mutex in the
// global namespace named after the user's SID, open to that user alone, so
// that the elevated and the unelevated agent of one user share it. A mutex is
// taken again by the thread that holds it, so nested users of the lock cost
// nothing; an agent that dies holding it leaves it to the next one.
// The wait is alertable: an APC queued to the waiting thread (the agent's
// stopping worker, StoppableThread.h) ends it, and the lock counts as not
// acquired. Where the lock cannot be made (no SID, no such object) the work
// goes on without it, as it did before there was one.
#include <windows.h>

#include "winutil/UniqueHandle.h"

#include <string>

inline constexpr DWORD kStoreLockTimeoutMs = 10000;

class TStoreLock {
public:
    // Waits up to `timeoutMs` for the lock.
    explicit TStoreLock(DWORD timeoutMs = kStoreLockTimeoutMs);
    ~TStoreLock();
    TStoreLock(const TStoreLock&) = delete;
    TStoreLock& operator=(const TStoreLock&) = delete;

    // False only when another holder kept the lock past the time-out, or the
    // thread was woken to stop while it waited.
    bool Acquired() const { return acquired_; }
    // Raises std::runtime_error unless Acquired().
    void Require() const;

    // "Global\Keldora.Stores.<SID>"; empty when the user's SID is unknown.
    static std::string Name();

private:
    UniqueKernelHandle mutex_;
    bool owned_ = false;
    bool acquired_ = true;
};
