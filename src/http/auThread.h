#pragma once
// Worker threads whose calls reach the main thread. A worker hands a call to
// the main thread by sending message 0x8FFF to one message-only window of
// class `TauThreadWindow`, shared by all workers of the process and created on
// the thread that makes the first worker (the main thread). The worker waits
// until the call has run; so the main thread must keep delivering sent
// messages whenever it waits (every wait here does).
//
// Stopping is cooperative: a stopped worker is abandoned, not terminated. From
// that moment no handler of it runs on the main thread and its calls to
// Synchronize return at once; the object lives on until its own thread ends
// (the thread holds a reference), so whatever the thread still touches stays
// valid. The code an execute handler runs must therefore notice on its own
// that its work was cancelled (the HTTP client closes the handles it blocks
// on) and must use its owner only inside synchronised calls.

#include "winutil/UniqueHandle.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

namespace keldora::winutil {
template <class Member>
class SharedMessageWindow;
} // namespace keldora::winutil

constexpr UINT WM_AUTHREAD_SYNCHRONIZE = 0x8FFF;  // wParam: the worker's id at the window
constexpr UINT WM_AUTHREAD_RELEASE = 0x8FFE;      // destroy the window if it has no users

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TauCustomThread;
class TauEventThread;

// Runs on the worker; the worker is passed so that the handler synchronises
// through its own worker even after the owner has moved on.
using TauThreadExecuteHandler = std::function<void(TauEventThread& Worker)>;
// Run on the main thread with the owning component as Sender.
using TauThreadNotifyHandler = std::function<void(TauCustomThread& Sender)>;

class TauEventThread : public std::enable_shared_from_this<TauEventThread> {
public:
    // Acquires the hidden window. The platform thread is made when the worker
    // is first resumed (a worker that is never started costs no thread);
    // resuming throws EWin32Error when it cannot be created.
    static std::shared_ptr<TauEventThread> Create(TauCustomThread& owner);
    ~TauEventThread();

    TauEventThread(const TauEventThread&) = delete;
    TauEventThread& operator=(const TauEventThread&) = delete;

    // On the worker: runs `method` on the main thread and waits for it. An
    // exception it raises goes to the program's error handling (AppMessages)
    // when the owner handles exceptions and is raised again here otherwise.
    // Returns at once once abandoned.
    void Synchronize(const std::function<void()>& method);

    void Suspend();
    void Resume();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // Waits for the thread to end (delivering sent messages when called on the
    // window's thread) and returns its exit code; 0 at once for a worker that
    // never started.
    DWORD WaitFor();

    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority priority);

    bool Running() const { return running_; }
    bool Suspended() const { return suspended_; }
    bool Abandoned() const { return abandoned_; }
    HANDLE Handle() const { return thread_.get(); }
    DWORD ThreadId() const { return threadId_; }
    DWORD ReturnValue = 0;

private:
    friend class TauCustomThread;
    friend HWND ThreadWindowHandle();
    friend int ThreadWindowUsers();

    explicit TauEventThread(TauCustomThread& owner);
    static unsigned __stdcall ThreadProc(void* param);
    static keldora::winutil::SharedMessageWindow<TauEventThread>& SharedWindow();
    static bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void Run();
    void RunExecuteHandler();
    void FinishStep();
    void RaiseException();
    // On the worker: an exception no handler takes goes to the program's
    // error handling, on the main thread unless the worker was abandoned.
    void Report(const std::exception_ptr& error);
    // Main thread only.
    void Start();
    void CreateThread();
    void Abandon();
    bool MayRunHandlers() const;

    TauCustomThread* owner_;  // valid until abandoned; the owner abandons its worker before it goes
    UINT_PTR windowId_ = 0;
    UniqueKernelHandle thread_;
    DWORD threadId_ = 0;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> suspended_{true};
    std::atomic<bool> running_{false};
    std::atomic<bool> abandoned_{false};
    TThreadPriority priority_ = tpNormal;
    bool handleExceptions_ = true;
    const std::function<void()>* pending_ = nullptr;
    std::exception_ptr captured_;
    TauThreadExecuteHandler executeHandler_;
    TauThreadNotifyHandler exceptionHandler_;
    TauThreadNotifyHandler finishHandler_;
};

// Owns one worker at a time and runs each start on a fresh one. Main thread only.
class TauCustomThread {
public:
    TauCustomThread();
    ~TauCustomThread();

    TauCustomThread(const TauCustomThread&) = delete;
    TauCustomThread& operator=(const TauCustomThread&) = delete;

    // Runs the execute handler on a fresh worker; the previous one is
    // discarded without waiting. With WaitForFinish, waits (processing
    // messages) until it ends; false after a WaitTimeout, which stops it.
    bool Start();
    // Busy: from the start until the finish step begins on the main thread.
    bool Running() const { return worker_->Running(); }
    // Abandons the worker and puts a fresh suspended one in its place.
    void HardStop();
    void SoftStop() { worker_->Terminate(); }
    void Suspend() { worker_->Suspend(); }
    bool Suspended() const { return worker_->Suspended(); }
    // False resumes the current worker, true suspends it.
    void SetSuspended(bool suspended);

    TThreadPriority Priority() const { return priority_; }
    void SetPriority(TThreadPriority priority);

    void SetExecuteHandler(TauThreadExecuteHandler handler) { executeHandler_ = std::move(handler); }
    void SetExceptionHandler(TauThreadNotifyHandler handler) { exceptionHandler_ = std::move(handler); }
    void SetFinishHandler(TauThreadNotifyHandler handler) { finishHandler_ = std::move(handler); }

    // Set by the owning component when its destruction begins: no handler
    // runs from then on, and the worker never looks at its owner again.
    void SetDestroying()
    {
        destroying_ = true;
        worker_->Abandon();
    }
    bool Destroying() const { return destroying_; }

    TauEventThread& Worker() { return *worker_; }

    bool HandleExceptions = true;
    bool WaitForFinish = false;
    DWORD WaitTimeout = 0;  // milliseconds, 0 = no limit
    TauThreadNotifyHandler OnWaitTimeout;

private:
    friend class TauEventThread;

    std::shared_ptr<TauEventThread> NewWorker();
    static void Discard(const std::shared_ptr<TauEventThread>& worker);
    bool WaitForWorker(const std::shared_ptr<TauEventThread>& worker);

    TauThreadExecuteHandler executeHandler_;
    TauThreadNotifyHandler exceptionHandler_;
    TauThreadNotifyHandler finishHandler_;
    TThreadPriority priority_ = tpNormal;
    bool destroying_ = false;
    std::shared_ptr<TauEventThread> worker_;
};

// Thread window state, for tests: the window (null when there is none) and
// the number of worker objects that use it.
HWND ThreadWindowHandle();
int ThreadWindowUsers();
