#include "auThread.h"

#include "common/AppMessages.h"
#include "winutil/ErrorText.h"
#include "winutil/MessageLoop.h"
#include "winutil/SharedMessageWindow.h"

#include <process.h>

#include <utility>

namespace {

constexpr struct {
    TThreadPriority priority;
    int value;
} PriorityValues[] = {
    {tpIdle, THREAD_PRIORITY_IDLE},       {tpLowest, THREAD_PRIORITY_LOWEST},
    {tpLower, THREAD_PRIORITY_BELOW_NORMAL}, {tpNormal, THREAD_PRIORITY_NORMAL},
    {tpHigher, THREAD_PRIORITY_ABOVE_NORMAL}, {tpHighest, THREAD_PRIORITY_HIGHEST},
    {tpTimeCritical, THREAD_PRIORITY_TIME_CRITICAL},
};

// Delivers the messages other threads send to this one, removing nothing
// from the queue.
void DeliverSentMessages()
{
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

}  // namespace

using keldora::winutil::SharedMessageWindow;

// Allocated once and never freed: an abandoned worker may still leave the
// window while the run-time tears down static objects at exit.
SharedMessageWindow<TauEventThread>& TauEventThread::SharedWindow()
{
    static auto* shared =
        new SharedMessageWindow<TauEventThread>({.className = "TauThreadWindow"}, &TauEventThread::HandleMessage,
                                                HandleCurrentException, WM_AUTHREAD_RELEASE);
    return *shared;
}

bool TauEventThread::HandleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    if (message != WM_AUTHREAD_SYNCHRONIZE)
        return false;
    result = 0;
    TauEventThread* worker = SharedWindow().Find(static_cast<UINT_PTR>(wParam));
    if (!worker || !worker->MayRunHandlers())
        return true;
    worker->captured_ = nullptr;
    try {
        (*worker->pending_)();
    } catch (...) {
        // Dropped for the worker when it handles exceptions, but not unseen.
        if (worker->handleExceptions_)
            HandleCurrentException();
        else
            worker->captured_ = std::current_exception();
    }
    return true;
}

HWND ThreadWindowHandle()
{
    return TauEventThread::SharedWindow().Window();
}

int ThreadWindowUsers()
{
    return static_cast<int>(TauEventThread::SharedWindow().Count());
}

std::shared_ptr<TauEventThread> TauEventThread::Create(TauCustomThread& owner)
{
    return std::shared_ptr<TauEventThread>(new TauEventThread(owner));
}

void TauEventThread::CreateThread()
{
    // The thread owns a reference of its own, so the object outlives any
    // owner that lets go of it while the thread still runs.
    auto* reference = new std::shared_ptr<TauEventThread>(shared_from_this());
    unsigned id = 0;
    const auto handle = _beginthreadex(nullptr, 0, ThreadProc, reference, CREATE_SUSPENDED, &id);
    if (handle == 0) {
        const DWORD error = GetLastError();
        delete reference;
        throw EWin32Error("TauEventThread: create thread", error);
    }
    thread_.reset(reinterpret_cast<HANDLE>(handle));
    threadId_ = id;
    SetPriority(priority_);
}

TauEventThread::TauEventThread(TauCustomThread& owner)
    : owner_(&owner),
      handleExceptions_(owner.HandleExceptions),
      executeHandler_(owner.executeHandler_),
      exceptionHandler_(owner.exceptionHandler_),
      finishHandler_(owner.finishHandler_)
{
    windowId_ = SharedWindow().Join(*this);
}

TauEventThread::~TauEventThread()
{
    SharedWindow().Leave(windowId_);
}

unsigned __stdcall TauEventThread::ThreadProc(void* param)
{
    std::shared_ptr<TauEventThread> self = std::move(*static_cast<std::shared_ptr<TauEventThread>*>(param));
    delete static_cast<std::shared_ptr<TauEventThread>*>(param);
    DWORD result = 0;
    try {
        self->Run();
        result = self->ReturnValue;
    } catch (...) {
        HandleCurrentException();
    }
    self.reset();
    return result;
}

void TauEventThread::Run()
{
    // Without HandleExceptions an error ends the handler and is reported;
    // the finish step still runs.
    try {
        RunExecuteHandler();
    } catch (...) {
        Report(std::current_exception());
    }
    if (finishHandler_) {
        try {
            Synchronize([this] { FinishStep(); });
        } catch (...) {
            Report(std::current_exception());
        }
    }
    running_ = false;
}

void TauEventThread::RunExecuteHandler()
{
    if (!executeHandler_ || abandoned_)
        return;
    if (!handleExceptions_) {
        executeHandler_(*this);
        return;
    }
    try {
        executeHandler_(*this);
    } catch (...) {
        Synchronize([this] { RaiseException(); });
    }
}

void TauEventThread::Report(const std::exception_ptr& error)
{
    bool reported = false;
    Synchronize([&] {
        reported = true;
        HandleException(error);
    });
    if (!reported)
        HandleException(error);
}

void TauEventThread::RaiseException()
{
    if (exceptionHandler_)
        exceptionHandler_(*owner_);
}

void TauEventThread::FinishStep()
{
    running_ = false;
    if (!handleExceptions_) {
        finishHandler_(*owner_);
        return;
    }
    try {
        finishHandler_(*owner_);
    } catch (...) {
        // The handler may have freed the owner; an owner that goes abandons
        // this worker first, so the flag is read and the owner left alone.
        if (!MayRunHandlers()) {
            HandleCurrentException();
            return;
        }
        RaiseException();
    }
}

bool TauEventThread::MayRunHandlers() const
{
    return !abandoned_;
}

void TauEventThread::Synchronize(const std::function<void()>& method)
{
    if (abandoned_)
        return;
    pending_ = &method;
    captured_ = nullptr;
    SendMessageW(SharedWindow().Window(), WM_AUTHREAD_SYNCHRONIZE, windowId_, 0);
    pending_ = nullptr;
    std::exception_ptr error = std::exchange(captured_, nullptr);
    if (error)
        std::rethrow_exception(error);
}

void TauEventThread::Suspend()
{
    suspended_ = true;
    if (thread_)
        SuspendThread(thread_.get());
}

void TauEventThread::Resume()
{
    if (!thread_)
        CreateThread();
    const DWORD previous = ResumeThread(thread_.get());
    if (previous != static_cast<DWORD>(-1) && previous <= 1)
        suspended_ = false;
}

DWORD TauEventThread::WaitFor()
{
    if (!thread_)
        return 0;
    HANDLE handle = thread_.get();
    const HWND window = SharedWindow().Window();
    const bool onWindowThread = window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
    if (onWindowThread) {
        while (MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
            DeliverSentMessages();
    } else {
        WaitForSingleObject(handle, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeThread(handle, &code);
    return code;
}

TThreadPriority TauEventThread::Priority() const
{
    if (!thread_)
        return priority_;
    const int value = GetThreadPriority(thread_.get());
    for (const auto& entry : PriorityValues) {
        if (entry.value == value)
            return entry.priority;
    }
    return tpNormal;
}

void TauEventThread::SetPriority(TThreadPriority priority)
{
    priority_ = priority;
    for (const auto& entry : PriorityValues) {
        if (entry.priority == priority && thread_)
            SetThreadPriority(thread_.get(), entry.value);
    }
}

void TauEventThread::Start()
{
    // Busy at once: the thread may not have begun when the caller asks.
    running_ = true;
    try {
        Resume();
    } catch (...) {
        running_ = false;
        throw;
    }
}

void TauEventThread::Abandon()
{
    abandoned_ = true;
    // A worker suspended on its way is let go so that its thread can end.
    while (thread_ && suspended_) {
        const DWORD previous = ResumeThread(thread_.get());
        if (previous == static_cast<DWORD>(-1) || previous <= 1)
            suspended_ = false;
    }
}

TauCustomThread::TauCustomThread() : worker_(NewWorker()) {}

TauCustomThread::~TauCustomThread()
{
    destroying_ = true;
    Discard(worker_);
}

std::shared_ptr<TauEventThread> TauCustomThread::NewWorker()
{
    auto worker = TauEventThread::Create(*this);
    worker->SetPriority(priority_);
    return worker;
}

void TauCustomThread::Discard(const std::shared_ptr<TauEventThread>& worker)
{
    if (worker)
        worker->Abandon();
}

bool TauCustomThread::Start()
{
    auto fresh = NewWorker();
    Discard(std::exchange(worker_, fresh));
    fresh->Start();
    if (!WaitForFinish)
        return true;
    return WaitForWorker(fresh);
}

bool TauCustomThread::WaitForWorker(const std::shared_ptr<TauEventThread>& worker)
{
    HANDLE handle = worker->Handle();
    const DWORD deadline = GetTickCount() + WaitTimeout;
    for (;;) {
        DWORD timeout = INFINITE;
        if (WaitTimeout != 0) {
            const DWORD now = GetTickCount();
            timeout = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
        }
        const DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, timeout, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result == WAIT_OBJECT_0 + 1) {
            if (!ProcessMessages() || destroying_)
                return true;
            continue;
        }
        if (worker_ == worker)
            HardStop();
        if (OnWaitTimeout)
            OnWaitTimeout(*this);
        return false;
    }
}

void TauCustomThread::HardStop()
{
    Discard(std::exchange(worker_, NewWorker()));
}

void TauCustomThread::SetSuspended(bool suspended)
{
    if (suspended)
        worker_->Suspend();
    else
        worker_->Resume();
}

void TauCustomThread::SetPriority(TThreadPriority priority)
{
    priority_ = priority;
    worker_->SetPriority(priority);
}
