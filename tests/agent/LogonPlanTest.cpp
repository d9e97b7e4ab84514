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
