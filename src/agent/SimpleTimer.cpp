#include "SimpleTimer.h"

#include "common/AppMessages.h"
#include "winutil/SharedMessageWindow.h"

using keldora::winutil::SharedMessageWindow;

namespace {

int runningTimers = 0;

} // namespace

SharedMessageWindow<TSimpleTimer>& TSimpleTimer::SharedWindow()
{
    static SharedMessageWindow<TSimpleTimer> shared({.className = "TSimpleTimerHandler"},
                                                    &TSimpleTimer::HandleMessage, HandleCurrentException);
    return shared;
}

TSimpleTimer::TSimpleTimer() : TSimpleTimer(1000, nullptr) {}

TSimpleTimer::TSimpleTimer(UINT interval, TNotifyEvent onTimer)
    : FId(SharedWindow().Join(*this)), FInterval(interval), FOnTimer(std::move(onTimer))
{
}

TSimpleTimer::~TSimpleTimer()
{
    Stop(true);
    SharedWindow().Leave(FId);
}

bool TSimpleTimer::Start()
{
    if (FInterval == 0)
        return false;
    if (FRunning)
        Stop(false);
    if (!SetTimer(SharedWindow().Window(), FId, FInterval, nullptr))
        return false;
    FRunning = true;
    ++runningTimers;
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
    --runningTimers;
    return KillTimer(SharedWindow().Window(), FId) != FALSE;
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
    return runningTimers;
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

bool TSimpleTimer::HandleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    if (message != WM_TIMER)
        return false;
    if (TSimpleTimer* timer = SharedWindow().Find(static_cast<UINT_PTR>(wParam)))
        timer->Fire();
    result = 0;
    return true;
}
