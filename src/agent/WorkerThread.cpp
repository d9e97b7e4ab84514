#include "agent/WorkerThread.h"

#include "common/AppMessages.h"
#include "winutil/ComApartment.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>

namespace {

constexpr UINT kJobDone = WM_APP + 1;
// A job is a whole take-over: a cancel fails its call under way, and the
// cancels repeat, so each later step that waits (a file, the store lock's
// alertable wait) fails at once too; the job gets a little longer than a
// start to unwind, and past it the process ends as at a power cut (the
// stores are journaled).
constexpr DWORD kJobStopBoundMs = 5000;

keldora::winutil::MessageWindowOptions WorkerWindowOptions()
{
    keldora::winutil::MessageWindowOptions options;
    options.className = "KeldoraWorkerWindow";
    return options;
}

}  // namespace

struct TWorkerThread::State {
    struct Job {
        Work work;
        Done done;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Job> waiting;
    std::deque<std::pair<Done, std::string>> finished;
    bool running = false;
    bool stopping = false;
    // Cleared, under the mutex, before the window goes.
    HWND window = nullptr;
};

TWorkerThread::TWorkerThread()
    : state_(std::make_shared<State>()),
      window_(WorkerWindowOptions(),
              [this](UINT message, WPARAM, LPARAM, LRESULT& result) {
                  result = 0;
                  if (message != kJobDone)
                      return false;
                  RunFinished();
                  return true;
              },
              HandleCurrentException)
{
    state_->window = window_.get();
    thread_.emplace([state = state_] { Run(state); }, kJobStopBoundMs);
}

TWorkerThread::~TWorkerThread()
{
    std::deque<State::Job> dropped;
    std::deque<std::pair<Done, std::string>> unfinished;
    {
        const std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->window = nullptr;
        dropped.swap(state_->waiting);
        unfinished.swap(state_->finished);
        state_->changed.notify_all();
    }
    thread_.reset();
}

void TWorkerThread::Run(std::shared_ptr<State> state)
{
    // The shell's file information and links want an apartment.
    const ComApartment apartment;
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->changed.wait(lock, [&] { return state->stopping || !state->waiting.empty(); });
        if (state->stopping)
            return;
        State::Job job = std::move(state->waiting.front());
        state->waiting.pop_front();
        state->running = true;
        lock.unlock();
        std::string failure;
        try {
            job.work();
        } catch (...) {
            failure = CurrentExceptionText();
        }
        job.work = nullptr;
        lock.lock();
        state->running = false;
        if (!state->stopping && job.done) {
            state->finished.emplace_back(std::move(job.done), std::move(failure));
            PostMessageW(state->window, kJobDone, 0, 0);
        }
        state->changed.notify_all();
    }
}

void TWorkerThread::Post(Work work, Done done)
{
    const std::lock_guard lock(state_->mutex);
    state_->waiting.push_back({std::move(work), std::move(done)});
    state_->changed.notify_all();
}

bool TWorkerThread::HasWaitingJob() const
{
    const std::lock_guard lock(state_->mutex);
    return !state_->waiting.empty();
}

void TWorkerThread::DropWaitingJobs()
{
    std::deque<State::Job> dropped;
    const std::lock_guard lock(state_->mutex);
    dropped.swap(state_->waiting);
}

bool TWorkerThread::WaitIdle(DWORD timeoutMs)
{
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [this] { return state_->waiting.empty() && !state_->running; });
}

bool TWorkerThread::Idle() const
{
    const std::lock_guard lock(state_->mutex);
    return state_->waiting.empty() && !state_->running && state_->finished.empty();
}

void TWorkerThread::RunFinished()
{
    for (;;) {
        std::pair<Done, std::string> next;
        {
            const std::lock_guard lock(state_->mutex);
            if (state_->finished.empty())
                return;
            next = std::move(state_->finished.front());
            state_->finished.pop_front();
        }
        try {
            next.first(next.second);
        } catch (...) {
            HandleCurrentException();
        }
    }
}
