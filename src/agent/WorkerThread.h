#pragma once
// One thread that runs jobs one after another, off the window's thread, and
// hands the end of each back to the thread that made the object: a job's
// `done` runs there, from its message loop (through a message-only window of
// this object), in the order the jobs ran.
//
// Jobs share nothing with the window's thread but what they capture: copies,
// and results held by shared pointers that `done` reads after the work has
// ended. The thread touches no window but posting to this object's own, and
// owns nothing the window's thread frees. An exception never leaves a job:
// its text goes to `done`. Destroying the object drops the jobs not begun
// and every `done` not yet run, cancels the running job's synchronous I/O
// and joins the thread (StoppableThread.h: a job that has not returned
// within 5 seconds ends the process, as a power cut would).
#include <windows.h>

#include "agent/StoppableThread.h"
#include "winutil/MessageWindow.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class TWorkerThread {
public:
    using Work = std::function<void()>;
    // Empty text, or what the work raised.
    using Done = std::function<void(const std::string& failure)>;

    TWorkerThread();
    ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    // `done` may be empty.
    void Post(Work work, Done done);
    // Whether a job waits that has not begun: one posted now would run after it anyway.
    bool HasWaitingJob() const;
    // Drops the jobs that have not begun, with their `done`.
    void DropWaitingJobs();
    // Waits, dispatching nothing, until every job posted so far has run or
    // the time is up; true when they have. Their `done` runs later, from the
    // message loop.
    bool WaitIdle(DWORD timeoutMs);
    // No job waiting or running, and every `done` has run.
    bool Idle() const;

private:
    struct State;
    static void Run(std::shared_ptr<State> state);
    void RunFinished();

    std::shared_ptr<State> state_;
    keldora::winutil::MessageWindow window_;
    std::optional<TStoppableThread> thread_;
};
