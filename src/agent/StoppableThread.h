#pragma once
// A thread that is always joined, also when its work is stuck in the system
// (a file on a share that never answers, a pipe that never writes): the end
// of the object cancels the thread's synchronous I/O again and again
// (CancelSynchronousIo) until the work returns, and the work sees a call
// that failed with ERROR_OPERATION_ABORTED; an alertable wait of the work
// ends too (an empty APC is queued with each cancel), as the store lock's
// does (StoreLock.h). A call that no cancel reaches
// (a wait inside the system, a file system that ignores cancels) would hold
// the owner for good; after the bound (kStopBoundMs unless the owner gives
// another) the process ends itself instead,
// with exit code ERROR_TIMEOUT, so that no thread outlives what it uses and
// no static destructor runs under it. The work is the caller's to make safe
// for that end, as for a power cut (the stores are journaled).
//
// Made and ended on one thread; Ended() may be asked from any. The work
// never lets an exception out (it is caught and dropped).
#include <windows.h>

#include "winutil/UniqueHandle.h"

#include <functional>
#include <span>

// How long the end of the object waits for the work, unless told otherwise.
inline constexpr DWORD kStopBoundMs = 2000;

class TStoppableThread {
public:
    explicit TStoppableThread(std::function<void()> work, DWORD stopBoundMs = kStopBoundMs);
    ~TStoppableThread();
    TStoppableThread(const TStoppableThread&) = delete;
    TStoppableThread& operator=(const TStoppableThread&) = delete;

    bool Ended() const;
    // Cancels the thread's synchronous I/O and alertable wait once; the work goes on if it can.
    void CancelIo() const;
    // Cancels and joins as the end of the object does, against the steady
    // tick `until` (GetTickCount64) instead of its own bound, so that the
    // owner of several stops them all within one bound.
    void StopBy(ULONGLONG until) const;

private:
    static unsigned __stdcall Enter(void* work);

    UniqueKernelHandle thread_;
    DWORD stopBoundMs_;
};

// Stops them all within one bound: every one cancelled first, then each
// joined against the same deadline, so that stuck threads cost the bound
// once, not once each.
void StopTogether(std::span<const TStoppableThread* const> threads, DWORD boundMs = kStopBoundMs);
