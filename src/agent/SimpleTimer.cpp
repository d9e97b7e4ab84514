#include "SimpleTimer.h"

#include "common/AppMessages.h"
#include "HiddenWindow.h"

#include <map>
#include <memory>

namespace {

// The window all timers share, with the timers that use it and how many run.
struct TSimpleTimerHandler {
    explicit TSimpleTimerHandler(WNDPROC procedure) : window("TSimpleTimerHandler", procedure) {}

    HiddenWindow window;
    std::map<UINT_PTR, TSimpleTimer*> timers;
    int running = 0;
};

std::unique_ptr<TSimpleTimerHandler>& Handler()
{
    static std::unique_ptr<TSimpleTimerHandler> handler;
    return handler;
}

UINT_PTR NextTimerId()
{
    static UINT_PTR last = 0;
    return ++last;
}

} // namespace

TSimpleTimer::TSimpleTimer() : TSimpleTimer(1000, nullptr) {}

TSimpleTimer::TSimpleTimer(UINT interval, TNotifyEvent onTimer)
    : FId(NextTimerId()), FInterval(interval), FOnTimer(std::move(onTimer))
{
    if (!Handler())
        Handler() = std::make_unique<TSimpleTimerHandler>(&TSimpleTimer::HandlerProc);
    Handler()->timers[FId] = this;
}

TSimpleTimer::~TSimpleTimer()
{
    Stop(true);
    Handler()->timers.erase(FId);
    if (Handler()->timers.empty())
        Handler().reset();
}

bool TSimpleTimer::Start()
{
    if (FInterval == 0)
        return false;
    if (FRunning)
        Stop(false);
    if (!SetTimer(Handler()->window.get(), FId, FInterval, nullptr))
        return false;
    FRunning = true;
    ++Handler()->running;
    FEnabled = true;
    return true;
}

bool TSimpleTimer::Stop(bool disable)
{
    if (disable)
        FEnabled = false;
    if (!FRunning)
        return true;
    FRunning = false;
    --Handler()->running;
    return KillTimer(Handler()->window.get(), FId) != FALSE;
}

void TSimpleTimer::SetEnabled(bool enabled)
{
    if (enabled)
        Start();
    else
        Stop(true);
}

void TSimpleTimer::SetInterval(UINT interval)
{
    if (interval == FInterval)
        return;
    FInterval = interval;
    if (!FRunning)
        return;
    if (interval == 0)
        Stop(false);
    else
        Start();
}

void TSimpleTimer::SetOnTimer(TNotifyEvent onTimer)
{
    FOnTimer = std::move(onTimer);
    if (!FOnTimer && FRunning)
        Stop(false);
}

int TSimpleTimer::RunningCount()
{
    return Handler() ? Handler()->running : 0;
}

void TSimpleTimer::Fire()
{
    if (FAutoDisable)
        Stop(true);
    // The handler may free this timer; run a copy.
    const TNotifyEvent onTimer = FOnTimer;
    if (onTimer)
        onTimer();
}

LRESULT CALLBACK TSimpleTimer::HandlerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_TIMER)
        return DefWindowProcA(window, message, wParam, lParam);
    try {
        const auto& timers = Handler()->timers;
        const auto found = timers.find(static_cast<UINT_PTR>(wParam));
        if (found != timers.end())
            found->second->Fire();
    } catch (...) {
        HandleCurrentException();
    }
    return 0;
}
