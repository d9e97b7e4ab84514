// A thread stuck in a read that never returns by itself, without a packet
// leaving the machine: a synchronous read of a named pipe whose server never
// writes, as a file on a share that never answers would hold a start.
#include "agent/StoppableThread.h"
#include "startup/StoreLock.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

TEST(StoppableThread, AStuckReadHoldsUpNoOtherAndIsCancelledAndJoined)
{
    const std::wstring name = L"\\\\.\\pipe\\kdagent-stuck-" + std::to_wstring(GetCurrentProcessId());
    const UniqueFile server(
        CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(server);
    const UniqueFile client(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                        nullptr));
    ASSERT_TRUE(client) << GetLastError();
    const UniqueKernelHandle reading(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<DWORD> readError{0};
    std::atomic<bool> readReturned{false};

    std::optional<TStoppableThread> stuck;
    stuck.emplace([&] {
        char byte = 0;
        DWORD got = 0;
        SetEvent(reading.get());
        const BOOL read = ReadFile(client.get(), &byte, 1, &got, nullptr);
        readError = read ? ERROR_SUCCESS : GetLastError();
        readReturned = true;
    });
    ASSERT_EQ(WaitForSingleObject(reading.get(), 60000), WAIT_OBJECT_0);

    std::atomic<bool> otherRan{false};
    {
        const TStoppableThread other([&] { otherRan = true; });
    }
    EXPECT_TRUE(otherRan) << "a thread beside the stuck one ran and was joined";
    EXPECT_FALSE(readReturned) << "the read still waits for the pipe";
    EXPECT_FALSE(stuck->Ended());

    stuck.reset();
    EXPECT_TRUE(readReturned) << "joined: the work has returned before the end of the object";
    EXPECT_EQ(readError.load(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    const TStoppableThread throwing([] { throw std::runtime_error("no exception leaves the thread"); });
}

// A take-over waiting for the store lock another agent holds, at Exit: the
// wait ends and the lock counts as not taken, so nothing is written.
TEST(StoppableThread, AWaitForTheStoreLockEndsWhenTheThreadStops)
{
    const TStoreLock held;
    ASSERT_TRUE(held.Acquired());
    const UniqueKernelHandle waiting(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> acquired{-1};
    std::optional<TStoppableThread> worker;
    worker.emplace([&] {
        SetEvent(waiting.get());
        acquired = TStoreLock(600000).Acquired() ? 1 : 0;
    });
    ASSERT_EQ(WaitForSingleObject(waiting.get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(acquired.load(), -1) << "still waiting";
    worker.reset();
    EXPECT_EQ(acquired.load(), 0) << "woken, not acquired";
}

// Threads whose wait the cancel ends, each then busy a while where no cancel
// reaches, as a start whose abort is slow: stopped together, every one is
// cancelled before any is joined, so they spend the time side by side, not
// one after another, and all end within the one bound.
TEST(StoppableThread, SeveralStoppedTogetherAreAllCancelledBeforeAnyIsJoined)
{
    constexpr int kThreads = 3;
    std::atomic<ULONGLONG> woken[kThreads] = {}, returned[kThreads] = {};
    std::atomic<int> waiting{0};
    std::vector<std::unique_ptr<TStoppableThread>> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.push_back(std::make_unique<TStoppableThread>([&, i] {
            ++waiting;
            SleepEx(INFINITE, /*bAlertable=*/TRUE);
            woken[i] = GetTickCount64();
            Sleep(500);
            returned[i] = GetTickCount64();
        }));
    }
    while (waiting < kThreads)
        Sleep(10);
    std::vector<const TStoppableThread*> stopping;
    for (const auto& thread : threads)
        stopping.push_back(thread.get());
    StopTogether(stopping, /*boundMs=*/5000);

    ULONGLONG lastWoken = 0, firstReturned = ~0ULL;
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_TRUE(threads[i]->Ended()) << i;
        EXPECT_NE(returned[i].load(), 0u) << i;
        lastWoken = std::max(lastWoken, woken[i].load());
        firstReturned = std::min(firstReturned, returned[i].load());
    }
    EXPECT_LT(lastWoken, firstReturned) << "every thread was cancelled before the first one had returned";
}
