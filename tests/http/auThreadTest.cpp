#include "http/auThread.h"

#include "HttpTestServer.h"
#include "common/AppMessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Reports of an abandoned worker come on its own thread.
        SetErrorHandler([this](const std::string& message) {
            std::lock_guard<std::mutex> lock(reportsLock);
            reports.push_back(message);
        });
    }
    void TearDown() override { SetErrorHandler(nullptr); }

    bool RunToEnd(TauCustomThread& thread)
    {
        finished = false;
        thread.SetFinishHandler([this](TauCustomThread&) {
            finishThread = GetCurrentThreadId();
            finished = true;
        });
        if (!thread.Start())
            return false;
        return PumpUntil([&] { return finished && !thread.Running(); }, 60000);
    }

    bool finished = false;
    DWORD finishThread = 0;
    std::vector<std::string> Reports()
    {
        std::lock_guard<std::mutex> lock(reportsLock);
        return reports;
    }

    std::mutex reportsLock;
    std::vector<std::string> reports;
};

TEST_F(ThreadTest, SynchronizedCallsRunOnTheMainThread)
{
    TauCustomThread thread;
    std::atomic<DWORD> workerThread{0};
    DWORD synchronizedThread = 0;
    thread.SetExecuteHandler([&](TauEventThread& worker) {
        workerThread = GetCurrentThreadId();
        worker.Synchronize([&] { synchronizedThread = GetCurrentThreadId(); });
    });
    ASSERT_TRUE(RunToEnd(thread));
    EXPECT_NE(workerThread.load(), GetCurrentThreadId());
    EXPECT_EQ(synchronizedThread, GetCurrentThreadId());
    EXPECT_EQ(finishThread, GetCurrentThreadId());
}

TEST_F(ThreadTest, EveryStartRunsOnAFreshThread)
{
    TauCustomThread thread;
    std::vector<DWORD> ids;
    thread.SetExecuteHandler([&](TauEventThread&) { ids.push_back(GetCurrentThreadId()); });
    ASSERT_TRUE(RunToEnd(thread));
    ASSERT_TRUE(RunToEnd(thread));
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_NE(ids[0], ids[1]);
}

TEST_F(ThreadTest, BusyFromStartUntilTheFinishStepBegins)
{
    TauCustomThread thread;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool runningInFinish = true;
    thread.SetExecuteHandler([&](TauEventThread&) { WaitForSingleObject(release, 60000); });
    thread.SetFinishHandler([&](TauCustomThread& sender) {
        runningInFinish = sender.Running();
        finished = true;
    });
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.Running()) << "busy at once, before the thread got going";
    PumpMessagesFor(100);
    EXPECT_TRUE(thread.Running());
    SetEvent(release);
    ASSERT_TRUE(PumpUntil([&] { return finished; }, 60000));
    EXPECT_FALSE(runningInFinish) << "a new start from inside the finish step must be possible";
    CloseHandle(release);
}

TEST_F(ThreadTest, ExceptionsOfSynchronizedCalls)
{
    TauCustomThread thread;
    std::atomic<bool> reachedWorker{false};
    thread.SetExecuteHandler([&](TauEventThread& worker) {
        try {
            worker.Synchronize([] { throw std::runtime_error("from the main thread"); });
        } catch (const std::runtime_error&) {
            reachedWorker = true;
        }
    });
    ASSERT_TRUE(RunToEnd(thread));
    EXPECT_FALSE(reachedWorker) << "dropped while HandleExceptions is true";
    EXPECT_EQ(reports, std::vector<std::string>{"from the main thread"}) << "but reported";

    thread.HandleExceptions = false;
    ASSERT_TRUE(RunToEnd(thread));
    EXPECT_TRUE(reachedWorker) << "raised again on the worker otherwise";
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(ThreadTest, FinishHandlerThatFreesItsOwnerAndFailsIsReported)
{
    for (const bool handleExceptions : {true, false}) {
        reports.clear();
        auto* thread = new TauCustomThread;
        thread->HandleExceptions = handleExceptions;
        bool exceptionHandlerRan = false;
        thread->SetExceptionHandler([&](TauCustomThread&) { exceptionHandlerRan = true; });
        thread->SetFinishHandler([](TauCustomThread& sender) {
            delete &sender;
            throw std::runtime_error("after the owner went");
        });
        ASSERT_TRUE(thread->Start());
        ASSERT_TRUE(PumpUntil([&] { return !Reports().empty(); }, 60000)) << handleExceptions;
        EXPECT_FALSE(exceptionHandlerRan) << "no handler of a freed owner runs";
        EXPECT_EQ(Reports(), std::vector<std::string>{"after the owner went"});
    }
}

TEST_F(ThreadTest, ExecuteExceptionReachesTheExceptionHandlerThenFinish)
{
    TauCustomThread thread;
    std::vector<std::string> order;
    thread.SetExecuteHandler([](TauEventThread&) { throw std::runtime_error("worker failed"); });
    thread.SetExceptionHandler([&](TauCustomThread&) { order.push_back("exception"); });
    thread.SetFinishHandler([&](TauCustomThread&) {
        order.push_back("finish");
        finished = true;
    });
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(PumpUntil([&] { return finished; }, 60000));
    EXPECT_EQ(order, (std::vector<std::string>{"exception", "finish"}));
}

TEST_F(ThreadTest, HardStopRaisesNothingAndAllowsANewStart)
{
    TauCustomThread thread;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> synchronizedAfterStop{false};
    int finishes = 0;
    thread.SetExecuteHandler([&](TauEventThread& worker) {
        WaitForSingleObject(release, 60000);
        worker.Synchronize([&] { synchronizedAfterStop = true; });
    });
    thread.SetFinishHandler([&](TauCustomThread&) { ++finishes; });
    ASSERT_TRUE(thread.Start());
    const DWORD stoppedId = thread.Worker().ThreadId();
    UniqueKernelHandle stopped(OpenThread(SYNCHRONIZE, FALSE, stoppedId));
    thread.HardStop();
    EXPECT_FALSE(thread.Running());
    SetEvent(release);
    ASSERT_EQ(WaitForSingleObject(stopped.get(), 60000), WAIT_OBJECT_0) << "the stopped thread ends by itself";
    PumpMessagesFor(50);
    EXPECT_FALSE(synchronizedAfterStop);
    EXPECT_EQ(finishes, 0);

    thread.SetExecuteHandler([](TauEventThread&) {});
    EXPECT_TRUE(RunToEnd(thread));
    CloseHandle(release);
}

TEST_F(ThreadTest, WaitForFinishDeliversSynchronizedCalls)
{
    TauCustomThread thread;
    thread.WaitForFinish = true;
    int calls = 0;
    thread.SetExecuteHandler([&](TauEventThread& worker) {
        for (int i = 0; i < 5; ++i)
            worker.Synchronize([&] { ++calls; });
    });
    thread.SetFinishHandler([&](TauCustomThread&) { finished = true; });
    EXPECT_TRUE(thread.Start());
    EXPECT_EQ(calls, 5);
    EXPECT_TRUE(finished) << "Start returns only after the finish step";
}

TEST_F(ThreadTest, WaitTimeoutStopsTheWorker)
{
    TauCustomThread thread;
    thread.WaitForFinish = true;
    thread.WaitTimeout = 200;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    int timeouts = 0;
    int finishes = 0;
    thread.OnWaitTimeout = [&](TauCustomThread&) { ++timeouts; };
    thread.SetExecuteHandler([&](TauEventThread&) { WaitForSingleObject(release, 60000); });
    thread.SetFinishHandler([&](TauCustomThread&) { ++finishes; });
    EXPECT_FALSE(thread.Start());
    EXPECT_EQ(timeouts, 1);
    SetEvent(release);
    PumpMessagesFor(200);
    EXPECT_EQ(finishes, 0);
    CloseHandle(release);
}

TEST_F(ThreadTest, WaitForOnTheMainThreadLetsSentMessagesThrough)
{
    TauCustomThread thread;
    int calls = 0;
    thread.SetExecuteHandler([&](TauEventThread& worker) {
        worker.ReturnValue = 7;
        worker.Synchronize([&] { ++calls; });
    });
    thread.SetFinishHandler([&](TauCustomThread&) { ++calls; });
    ASSERT_TRUE(thread.Start());
    EXPECT_EQ(thread.Worker().WaitFor(), 7u);
    EXPECT_EQ(calls, 2);
}

TEST_F(ThreadTest, PriorityMapsToThePlatformValues)
{
    TauCustomThread thread;
    for (TThreadPriority p : {tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical}) {
        thread.SetPriority(p);
        EXPECT_EQ(thread.Worker().Priority(), p);
    }
    thread.SetPriority(tpLowest);
    thread.SetExecuteHandler([](TauEventThread&) {});
    ASSERT_TRUE(RunToEnd(thread));
    EXPECT_EQ(thread.Worker().Priority(), tpLowest) << "kept for the next worker";
}

TEST_F(ThreadTest, WindowLivesAsLongAsWorkersDo)
{
    {
        TauCustomThread thread;
        HWND window = ThreadWindowHandle();
        ASSERT_NE(window, nullptr);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        EXPECT_STREQ(name, L"TauThreadWindow");
        thread.SetExecuteHandler([](TauEventThread&) {});
        ASSERT_TRUE(RunToEnd(thread));
        EXPECT_EQ(ThreadWindowHandle(), window);
    }
    EXPECT_TRUE(PumpUntil([] { return ThreadWindowHandle() == nullptr; }, 60000))
        << "destroyed through the posted message once the last worker is gone";
    EXPECT_EQ(ThreadWindowUsers(), 0);
}

TEST_F(ThreadTest, DestroyingWhileRunningRaisesNothing)
{
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    int calls = 0;
    DWORD id = 0;
    {
        TauCustomThread thread;
        thread.SetExecuteHandler([&, release](TauEventThread& worker) {
            WaitForSingleObject(release, 60000);
            worker.Synchronize([&] { ++calls; });
        });
        thread.SetFinishHandler([&](TauCustomThread&) { ++calls; });
        ASSERT_TRUE(thread.Start());
        id = thread.Worker().ThreadId();
    }
    UniqueKernelHandle worker(OpenThread(SYNCHRONIZE, FALSE, id));
    SetEvent(release);
    ASSERT_EQ(WaitForSingleObject(worker.get(), 60000), WAIT_OBJECT_0);
    PumpMessagesFor(50);
    EXPECT_EQ(calls, 0);
    CloseHandle(release);
}

}  // namespace
