#pragma once
// One take-over, restore or rewrite of the stores at a time for all the
// sessions of one user (two Remote Desktop sessions, fast user switching, the
// elevated and the unelevated agent): the Keldora.ini files and the store
// keys are rewritten as wholes, and two writers at once can lose each other's
// sections.
//
// The lock is a byte-range lock on the file "Keldora\Stores.lock" in the
// user's local application data, a folder of the user's own profile where
// no other user may create or hold a file. Both agents of one user open that
// one file, made and opened with the user's own (for an elevated agent,
// lowered) rights, shared for reading and writing, so neither one's handle
// keeps the other out. The folder and the file are opened without following
// links; a link, a junction or another name there is refused.
//
// The wait is the system's own queue of lock requests, bounded by the
// time-out and alertable: an APC queued to the waiting thread (the agent's
// stopping worker, StoppableThread.h) ends it, and the lock counts as not
// acquired. The system lets the lock go with the holder's handle, so an
// agent that dies holding it leaves it to the next one.
//
// The thread that holds it takes it again for nothing: nested users of the
// lock on that thread cost nothing. Another thread of the same process waits
// like another process. Fails closed: where the lock cannot be had, Acquired()
// is false with the reason, and the callers change nothing.
#include "common/StartToken.h"
#include "startup/StoreLinks.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

inline constexpr DWORD kStoreLockTimeoutMs = 10000;

// How a thread spends its place in the queue: waits up to `timeoutMs` for
// `granted` and returns WAIT_OBJECT_0 once it is set; WAIT_IO_COMPLETION
// gives the place up as the program stops, anything else as timed out. A
// window's thread answers its sent messages meanwhile.
using TStoreLockWait = std::function<DWORD(HANDLE granted, DWORD timeoutMs)>;

class TStoreLock {
public:
    // Waits up to `timeoutMs` for the lock.
    explicit TStoreLock(DWORD timeoutMs = kStoreLockTimeoutMs);
    // The same, the wait spent by `wait` instead of an alertable one.
    TStoreLock(DWORD timeoutMs, const TStoreLockWait& wait);
    ~TStoreLock();
    TStoreLock(const TStoreLock&) = delete;
    TStoreLock& operator=(const TStoreLock&) = delete;

    bool Acquired() const { return refusal_.empty(); }
    // Why it was not acquired (held past the time-out, the wait woken to
    // stop, the lock file refused or not made); empty when it was.
    const std::string& Refusal() const { return refusal_; }
    // Not acquired because another holder kept it past the time-out.
    bool HeldElsewhere() const { return heldElsewhere_; }
    // Raises std::runtime_error with the reason unless Acquired().
    void Require() const;

    // The lock file; empty when the user's local application data is unknown.
    static std::string Path();

private:
    struct Held;

    std::shared_ptr<Held> held_;  // the outermost lock of its thread only
    std::string refusal_;
    bool heldElsewhere_ = false;
};

// What every write of a store runs in, taken in this order and let go in the
// reverse: the user's stores locked, the user's own lowered rights for a
// user's location, and for a machine-wide one the machine's lock once
// LockMachine is called (its file lies in the all-users store, held open
// first there). Raises std::runtime_error when any of them cannot be had.
class TStoreWrite {
public:
    explicit TStoreWrite(bool userLocation);

    bool MoreRightsThanUser() const { return rights_.MoreRightsThanUser(); }
    void LockMachine();
    void UnlockMachine() { machine_.reset(); }

private:
    const TStoreLock lock_;
    const TActingAsUser rights_;
    const bool userLocation_;
    std::optional<TStoreFileLock> machine_;
};
