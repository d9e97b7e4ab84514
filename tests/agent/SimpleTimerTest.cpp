#include "agent/SimpleTimer.h"

#include "AgentTestSupport.h"
#include "common/AppMessages.h"

#include <gtest/gtest.h>

#include <memory>

TEST(SimpleTimer, FiresRepeatedlyUntilStopped)
{
    int ticks = 0;
    TSimpleTimer timer(10, [&ticks] { ++ticks; });
    EXPECT_FALSE(timer.Enabled());
    ASSERT_TRUE(timer.Start());
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 30000));
    EXPECT_TRUE(timer.Stop(true));
    EXPECT_FALSE(timer.Enabled());
    const int stopped = ticks;
    PumpMessagesFor(100);
    EXPECT_EQ(ticks, stopped);
}

TEST(SimpleTimer, AutoDisableFiresOnce)
{
    int ticks = 0;
    TSimpleTimer timer(10, [&ticks] { ++ticks; });
    timer.SetAutoDisable(true);
    timer.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks > 0; }, 30000));
    PumpMessagesFor(150);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(TSimpleTimer::RunningCount(), 0);
}

TEST(SimpleTimer, IntervalZeroAndNoHandlerStopWithoutDisabling)
{
    TSimpleTimer timer(1000, [] {});
    EXPECT_TRUE(timer.Start());
    timer.SetInterval(0);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(TSimpleTimer::RunningCount(), 0);
    EXPECT_FALSE(timer.Start()) << "an interval of 0 cannot start";
    timer.SetInterval(500);
    EXPECT_TRUE(timer.Start());
    timer.SetOnTimer(nullptr);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(TSimpleTimer::RunningCount(), 0);
}

TEST(SimpleTimer, TimersShareOneWindowAndCountWhatRuns)
{
    TSimpleTimer a(1000, [] {}), b(1000, [] {});
    EXPECT_NE(a.Id(), b.Id());
    a.Start();
    b.Start();
    EXPECT_EQ(TSimpleTimer::RunningCount(), 2);
    b.Start();
    EXPECT_EQ(TSimpleTimer::RunningCount(), 2) << "restarting a running timer stops it first";
    a.Stop(false);
    EXPECT_EQ(TSimpleTimer::RunningCount(), 1);
}

TEST(SimpleTimer, ExceptionInHandlerGoesToTheErrorHandlerAndFreeingItselfIsSafe)
{
    std::string reported;
    SetErrorHandler([&reported](const std::string& message) { reported = message; });
    auto timer = std::make_unique<TSimpleTimer>();
    timer->SetInterval(10);
    timer->SetOnTimer([&timer] {
        timer.reset();
        throw std::runtime_error("tick failed");
    });
    timer->Start();
    EXPECT_TRUE(PumpUntil([&] { return !reported.empty(); }, 30000));
    EXPECT_EQ(reported, "tick failed");
    EXPECT_FALSE(timer);
    SetErrorHandler(nullptr);
}
