#include "agent/StoppableThread.h"

#include <process.h>

#include <cstdint>

#include <memory>
#include <stdexcept>

namespace {

// Between two cancels: a cancel only reaches a call already under way.
constexpr DWORD kCancelIntervalMs = 50;

// Queued only to end an alertable wait.
void CALLBACK WakeUp(ULONG_PTR) {}

} // namespace

TStoppableThread::TStoppableThread(std::function<void()> work, DWORD stopBoundMs) : stopBoundMs_(stopBoundMs)
{
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    const std::uintptr_t handle = _beginthreadex(nullptr, 0, Enter, owned.get(), 0, nullptr);
    if (handle == 0)
        throw std::runtime_error("Unable to start a thread.");
    owned.release();
    thread_.reset(reinterpret_cast<HANDLE>(handle));
}

TStoppableThread::~TStoppableThread()
{
    StopBy(GetTickCount64() + stopBoundMs_);
}

void TStoppableThread::StopBy(ULONGLONG until) const
{
    while (WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT) {
        if (GetTickCount64() >= until)
            TerminateProcess(GetCurrentProcess(), ERROR_TIMEOUT);
        CancelIo();
        WaitForSingleObject(thread_.get(), kCancelIntervalMs);
    }
}

bool TStoppableThread::Ended() const
{
    return WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0;
}

void TStoppableThread::CancelIo() const
{
    CancelSynchronousIo(thread_.get());
    QueueUserAPC(WakeUp, thread_.get(), 0);
}

void StopTogether(std::span<const TStoppableThread* const> threads, DWORD boundMs)
{
    const ULONGLONG until = GetTickCount64() + boundMs;
    for (const TStoppableThread* thread : threads)
        thread->CancelIo();
    for (const TStoppableThread* thread : threads)
        thread->StopBy(until);
}

unsigned __stdcall TStoppableThread::Enter(void* work)
{
    const std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(work));
    try {
        (*owned)();
    } catch (...) {
        // Nothing leaves a thread procedure.
    }
    return 0;
}
