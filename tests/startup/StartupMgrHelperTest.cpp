#include "StartupTestSupport.h"

#include "common/Assert.h"
#include "startup/FolderStartupMgr.h"
#include "startup/RegStartupMgr.h"
#include "startup/StartupMgrHelper.h"
#include "winutil/UniqueHandle.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>

namespace {

class StartupMgrHelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (std::uint8_t l : {0, 1, 8, 9})
            ClearLocation(l);
        char windows[MAX_PATH];
        GetWindowsDirectoryA(windows, MAX_PATH);
        notepad = std::string(windows) + "\\notepad.exe";
    }
    void TearDown() override
    {
        for (std::uint8_t l : {0, 1, 8, 9})
            ClearLocation(l);
    }
    std::string notepad;
};

} // namespace

TEST_F(StartupMgrHelperTest, EmptyLocationList)
{
    TStartupMgrHelper helper({});
    EXPECT_EQ(helper.Count(), 0);
    helper.SetupAll();
    helper.RefreshAll();
    EXPECT_EQ(helper.Count(), 0);
    EXPECT_THROW(helper.Items(0), EAssertionFailed);
}

TEST_F(StartupMgrHelperTest, MergedListFollowsStoredOrder)
{
    for (int i = 0; i < 5; ++i)
        OpenRunKey(1).WriteString("user" + std::to_string(i), notepad);
    OpenRunKey(0).WriteString("machine0", notepad);
    OpenRunKey(0).WriteString("machine1", notepad);
    WriteFile(GetStpDesc(8).Path + "\\common.lnk", "x");

    TStartupMgrHelper helper({1, 0, 8, 9});
    EXPECT_EQ(helper.Count(), 0);
    helper.SetupAll();
    EXPECT_EQ(helper.Count(), 0);  // stale until the refresh
    helper.RefreshAll();
    ASSERT_EQ(helper.Count(), 8);
    EXPECT_EQ(helper.Items(0)->Location, 0);
    EXPECT_EQ(helper.Items(1)->Location, 0);
    EXPECT_EQ(helper.Items(6)->Location, 1);
    EXPECT_EQ(helper.Items(7)->Location, 8);
    for (int i = 0; i < helper.Count(); ++i)
        EXPECT_EQ(helper.Items(i)->Order, i);
    std::set<std::string> user;
    for (int i = 2; i <= 6; ++i)
        user.insert(helper.Items(i)->Desc.str());
    EXPECT_EQ(user, (std::set<std::string>{"user0", "user1", "user2", "user3", "user4"}));

    TStartupMgrHelper twice({0, 0});
    EXPECT_EQ(twice.Count(), 4);
}

TEST_F(StartupMgrHelperTest, CompareNeverOverflows)
{
    TStartupItem low, high;
    low.Order = INT_MIN;
    high.Order = INT_MAX;
    EXPECT_LT(TStartupMgrHelper::CompareItemOrder(low, high), 0);
    EXPECT_GT(TStartupMgrHelper::CompareItemOrder(high, low), 0);
    EXPECT_EQ(TStartupMgrHelper::CompareItemOrder(low, low), 0);
}

TEST_F(StartupMgrHelperTest, FailedRefreshLeavesNoItemBehind)
{
    OpenRunKey(0).WriteString("machine", notepad);
    WriteFile(GetStpDesc(9).Path + "\\user.lnk", "x");
    TStartupMgrHelper helper({0, 9});
    helper.SetupAll();
    helper.RefreshAll();
    ASSERT_EQ(helper.Count(), 2);

    // The folder's index cannot be read: the registry manager has reloaded
    // (freeing the items the list pointed at) before the folder one fails.
    const std::string index = GetStpDesc(9).Path + "\\Keldora\\Keldora.ini";
    {
        UniqueFile lock(CreateFileA(index.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        EXPECT_THROW(helper.RefreshAll(), EStartupMgrErr);
    }
    EXPECT_EQ(helper.Count(), 0);
    helper.RefreshAll();
    EXPECT_EQ(helper.Count(), 2);
}
