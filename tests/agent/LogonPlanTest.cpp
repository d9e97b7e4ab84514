#include "agent/LogonPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

namespace {

TLogonItem Item(const std::string& desc, std::int32_t order, std::int32_t delay, std::uint8_t location = 9)
{
    TLogonItem item;
    item.desc = desc;
    item.cmdLine = "C:\\Startup\\Keldora\\" + desc;
    item.order = order;
    item.location = location;
    item.delayTime = delay;
    item.enable = true;
    item.fromStartupFolder = true;
    return item;
}

std::vector<std::string> Sequence(const std::vector<TLogonStart>& plan)
{
    std::vector<std::string> names;
    for (const TLogonStart& start : plan)
        names.push_back(start.item.desc);
    return names;
}

} // namespace

TEST(LogonPlan, DelaysAreSecondsClampedToAnHour)
{
    EXPECT_EQ(LogonDelayMs(0), 0);
    EXPECT_EQ(LogonDelayMs(5), 5000);
    EXPECT_EQ(LogonDelayMs(-1), 0) << "a negative delay starts at once";
    EXPECT_EQ(LogonDelayMs(INT_MIN), 0);
    EXPECT_EQ(LogonDelayMs(kMaxLogonDelaySeconds), 3600000);
    EXPECT_EQ(LogonDelayMs(kMaxLogonDelaySeconds + 1), 3600000);
    EXPECT_EQ(LogonDelayMs(INT_MAX), 3600000) << "no overflow";
}

// Only enabled Startup-folder items, by due time, then Order, then the
// all-users folder first, then Desc: one sequence whatever order they came in.
TEST(LogonPlan, StartsEnabledFolderItemsInADefinedSequence)
{
    std::vector<TLogonItem> items = {Item("late", 0, 10), Item("b", 3, 0), Item("a", 3, 0), Item("machine", 3, 0, 8),
                                     Item("first", 1, -7), Item("never", 0, INT_MAX)};
    TLogonItem disabled = Item("off", 0, 0);
    disabled.enable = false;
    TLogonItem runKey = Item("run", 0, 0, 1);
    runKey.fromStartupFolder = false;
    items.push_back(disabled);
    items.push_back(runKey);
    const std::vector<std::string> expected = {"first", "machine", "a", "b", "late", "never"};
    EXPECT_EQ(Sequence(PlanLogonStarts(items)), expected);
    std::reverse(items.begin(), items.end());
    EXPECT_EQ(Sequence(PlanLogonStarts(items)), expected) << "the input order does not matter";
    EXPECT_EQ(PlanLogonStarts(items).back().dueMs, 3600000);

    std::vector<TLogonItem> tied;
    for (int i = 0; i < 200; ++i)
        tied.push_back(Item("item" + std::to_string(199 - i), 5, 0));
    const std::vector<TLogonStart> plan = PlanLogonStarts(tied);
    ASSERT_EQ(plan.size(), 200u) << "an Order shared by many items loses none";
    for (std::size_t i = 1; i < plan.size(); ++i)
        EXPECT_LT(plan[i - 1].item.desc, plan[i].item.desc);
}

// What no Wine prefix shows: a real logon's Explorer, a shell that says
// nothing, a clock set at logon, the Restart Manager's close.
TEST(LogonPlan, TheFirstTakeOverWaitsForExplorerAndSessionEndsAskWhatTheyMean)
{
    const std::int64_t bound = kShellWaitMs;
    EXPECT_TRUE(LogonGateOf(true, 0, std::nullopt).open) << "Explorer has started the folders";
    EXPECT_TRUE(LogonGateOf(true, 0, std::nullopt).explorerStarted);
    EXPECT_TRUE(LogonGateOf(false, 0, std::nullopt).open) << "no shell window: no Explorer has started them";
    EXPECT_FALSE(LogonGateOf(false, bound - 1, 0).open) << "the shell's window just came up";
    EXPECT_FALSE(LogonGateOf(false, 0, bound - 1).open);
    EXPECT_TRUE(LogonGateOf(false, 0, bound).open) << "an agent started long after the shell waits for nothing";
    EXPECT_TRUE(LogonGateOf(false, bound, 0).open) << "a clock set back at logon cannot hold the take-over longer";
    EXPECT_FALSE(LogonGateOf(false, 0, std::nullopt).explorerStarted)
        << "the files then in the folder are the agent's to start";

    EXPECT_EQ(EndSessionStepOf(false, false), TEndSessionStep::esNothing) << "another program refused: refreshes go on";
    EXPECT_EQ(EndSessionStepOf(false, true), TEndSessionStep::esNothing);
    EXPECT_EQ(EndSessionStepOf(true, true), TEndSessionStep::esEndAgent) << "the Restart Manager may start it again";
    EXPECT_EQ(EndSessionStepOf(true, false), TEndSessionStep::esLastTakeOver);
}
