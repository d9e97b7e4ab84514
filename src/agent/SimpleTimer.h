#pragma once
// A light window-message timer. All timers of the process share one
// message-only window, created with the first timer and freed with the last.
// Main thread only; OnTimer runs from the message loop, and an exception it
// raises goes to the general error handling (AppMessages), never through the
// loop.
#include <windows.h>

#include <functional>

namespace keldora::winutil {
template <class Member>
class SharedMessageWindow;
} // namespace keldora::winutil

class TSimpleTimer {
public:
    using TNotifyEvent = std::function<void()>;

    TSimpleTimer();  // 1000 ms, no handler, stopped
    TSimpleTimer(UINT interval, TNotifyEvent onTimer);
    ~TSimpleTimer();
    TSimpleTimer(const TSimpleTimer&) = delete;
    TSimpleTimer& operator=(const TSimpleTimer&) = delete;

    // False for an interval of 0 or when the system has no timer left.
    bool Start();
    // Kills the system timer; clears Enabled when asked.
    bool Stop(bool disable);

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    UINT Interval() const { return FInterval; }
    // A running timer restarts with the new interval; 0 stops it but keeps Enabled.
    void SetInterval(UINT interval);
    // Setting no handler stops a running timer but keeps Enabled.
    void SetOnTimer(TNotifyEvent onTimer);
    bool AutoDisable() const { return FAutoDisable; }
    // Stop (disabling) before each OnTimer: a one-shot timer.
    void SetAutoDisable(bool autoDisable) { FAutoDisable = autoDisable; }
    UINT_PTR Id() const { return FId; }

    // Timers currently set with the system.
    static int RunningCount();

private:
    static keldora::winutil::SharedMessageWindow<TSimpleTimer>& SharedWindow();
    static bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void Fire();

    UINT_PTR FId;
    UINT FInterval;
    bool FEnabled = false;
    bool FAutoDisable = false;
    bool FRunning = false;
    TNotifyEvent FOnTimer;
};
