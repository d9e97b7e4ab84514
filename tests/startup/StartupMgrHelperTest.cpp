#include "StartupTestSupport.h"

#include "core/Assert.h"
#include "common/SystemFacts.h"
#include "common/AppPaths.h"
#include "startup/FolderStartupMgr.h"
#include "startup/RegStartupMgr.h"
#include "startup/StartupMgrHelper.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

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
        notepad = GetWindowsDir() + "\\notepad.exe";
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
        EXPECT_EQ(OpenRunKey(1).WriteString("user" + std::to_string(i), notepad), ERROR_SUCCESS);
    EXPECT_EQ(OpenRunKey(0).WriteString("machine0", notepad), ERROR_SUCCESS);
    EXPECT_EQ(OpenRunKey(0).WriteString("machine1", notepad), ERROR_SUCCESS);
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
    EXPECT_EQ(OpenRunKey(0).WriteString("machine", notepad), ERROR_SUCCESS);
    WriteFile(GetStpDesc(9).Path + "\\user.lnk", "x");
    TStartupMgrHelper helper({0, 9});
    helper.SetupAll();
    helper.RefreshAll();
    ASSERT_EQ(helper.Count(), 2);

    // The folder's index cannot be read: the registry manager has reloaded
    // (freeing the items the list pointed at) before the folder one fails.
    const std::string index = GetStpDesc(9).Path + "\\Keldora\\Keldora.ini";
    {
        UniqueFile lock(CreateFileW(WideFromUtf8(index).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock);
        EXPECT_THROW(helper.RefreshAll(), EStartupMgrErr);
    }
    EXPECT_EQ(helper.Count(), 0);
    helper.RefreshAll();
    EXPECT_EQ(helper.Count(), 2);
}

namespace {

bool StoredInView(REGSAM view, const std::string& item)
{
    return static_cast<bool>(RegKey::Open(HKEY_LOCAL_MACHINE, GetStpDesc(0).Path + "\\Keldora\\" + item, KEY_READ | view));
}

int IndexInOwner(const TStartupItem& item)
{
    for (int i = 0; i < item.Owner->Count(); ++i)
        if (item.Owner->Items(i) == &item)
            return i;
    return -1;
}

// Sets a key's DACL: none at all (everyone may) or an empty one (nobody may).
void SetKeyDacl(const RegKey& key, bool open)
{
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ACL empty;
    InitializeAcl(&empty, sizeof empty, ACL_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, open ? nullptr : &empty, FALSE);
    RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &descriptor);
}

} // namespace

TEST_F(StartupMgrHelperTest, BothViewsOfTheMachineRunKeyAreTakenOverListedAndDeletedWhereTheyCameFrom)
{
    if (!Is64BitWindows()) {
        EXPECT_EQ(LocationViews(0), std::vector<REGSAM>{0}) << "a 32-bit system has one view";
        GTEST_SKIP() << "a 32-bit prefix has one registry view; the 64-bit suite covers both";
    }
    EXPECT_EQ(LocationViews(0), (std::vector<REGSAM>{KEY_WOW64_64KEY, KEY_WOW64_32KEY}));
    EXPECT_EQ(LocationViews(1), std::vector<REGSAM>{0}) << "the user's Run key is shared";
    EXPECT_EQ(OpenRunKey(0, KEY_WOW64_64KEY).WriteString("Native", notepad + " /native"), ERROR_SUCCESS);
    EXPECT_EQ(OpenRunKey(0, KEY_WOW64_32KEY).WriteString("Legacy", notepad + " /legacy"), ERROR_SUCCESS);
    EXPECT_EQ(OpenRunKey(0, KEY_WOW64_32KEY).WriteString("Both", notepad + " /32"), ERROR_SUCCESS);
    EXPECT_EQ(OpenRunKey(0, KEY_WOW64_64KEY).WriteString("Both", notepad + " /64"), ERROR_SUCCESS);
    EXPECT_EQ(OpenRunKey(1).WriteString("User", notepad + " /user"), ERROR_SUCCESS);

    TStartupMgrHelper helper({0, 1});
    helper.SetupAll();
    helper.RefreshAll();
    ASSERT_EQ(helper.Count(), 5) << "two views of the machine's key, the user's key once";
    EXPECT_FALSE(StoredInView(KEY_WOW64_64KEY, "Legacy"));
    EXPECT_TRUE(StoredInView(KEY_WOW64_32KEY, "Legacy"));
    EXPECT_TRUE(StoredInView(KEY_WOW64_64KEY, "Native"));
    EXPECT_FALSE(StoredInView(KEY_WOW64_32KEY, "Native"));
    const RegKey both32 = RegKey::Open(HKEY_LOCAL_MACHINE, GetStpDesc(0).Path + "\\Keldora\\Both",
                                       KEY_READ | KEY_WOW64_32KEY);
    EXPECT_EQ(both32.ReadString("CmdLine"), notepad + " /32") << "nothing lost to the name shared by both views";
    EXPECT_EQ(both32.ReadDword("Order"), 0u) << "each view numbers its own listing: 10 x location + position";
    const std::vector<std::string> notes = helper.TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("\"Both\""), std::string::npos) << notes[0];
    helper.RefreshAll();
    EXPECT_TRUE(helper.TakeNotes().empty()) << "reported once";

    for (int i = 0; i < helper.Count(); ++i) {
        TStartupItem& item = *helper.Items(i);
        if (item.Desc.view() != "Legacy")
            continue;
        EXPECT_EQ(item.Owner->Desc().View, static_cast<REGSAM>(KEY_WOW64_32KEY));
        EXPECT_TRUE(item.Owner->DeleteItem(IndexInOwner(item)));
    }
    EXPECT_FALSE(StoredInView(KEY_WOW64_32KEY, "Legacy"));
    EXPECT_TRUE(StoredInView(KEY_WOW64_64KEY, "Native"));
}

TEST_F(StartupMgrHelperTest, EveryLocationIsTriedAndTheErrorsComeTogether)
{
    WriteFile(GetStpDesc(8).Path + "\\Keldora", "x");
    WriteFile(GetStpDesc(9).Path + "\\Keldora", "x");
    EXPECT_EQ(OpenRunKey(1).WriteString("User", notepad), ERROR_SUCCESS);
    TStartupMgrHelper helper({8, 9, 1});
    try {
        helper.SetupAll();
        ADD_FAILURE() << "no error";
    } catch (const EStartupMgrErr& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(GetStpDesc(8).Path), std::string::npos) << text;
        EXPECT_NE(text.find(GetStpDesc(9).Path), std::string::npos) << text;
    }
    EXPECT_TRUE(RegKey::Exists(HKEY_CURRENT_USER, GetStpDesc(1).Path + "\\Keldora\\User"));
    try {
        helper.SetupAll(/*machineWide=*/false);
        ADD_FAILURE() << "no error";
    } catch (const EStartupMgrErr& e) {
        EXPECT_EQ(std::string(e.what()).find(GetStpDesc(8).Path), std::string::npos) << "the machine's are left out";
    }
    DeleteFileW(WideFromUtf8(GetStpDesc(8).Path + "\\Keldora").c_str());
    DeleteFileW(WideFromUtf8(GetStpDesc(9).Path + "\\Keldora").c_str());
}

TEST_F(StartupMgrHelperTest, StoreKeyThatCannotBeOpenedIsReportedOnceAndTheRestIsListed)
{
    EXPECT_EQ(OpenRunKey(1).WriteString("User", notepad), ERROR_SUCCESS);
    EXPECT_EQ(OpenRunKey(0).WriteString("Machine", notepad), ERROR_SUCCESS);
    TStartupMgrHelper helper({0, 1});
    helper.SetupAll();
    // Nobody may open the user's store key any more.
    const RegKey store = RegKey::Open(HKEY_CURRENT_USER, GetStpDesc(1).Path + "\\Keldora", WRITE_DAC);
    ASSERT_TRUE(store);
    SetKeyDacl(store, /*open=*/false);
    const bool enforced = !RegKey::Exists(HKEY_CURRENT_USER, GetStpDesc(1).Path + "\\Keldora");
    if (enforced) {
        helper.RefreshAll();
        EXPECT_EQ(helper.Count(), 1) << "the machine's item is still listed";
        const std::vector<std::string> notes = helper.TakeNotes();
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_NE(notes[0].find("Keldora"), std::string::npos) << notes[0];
        helper.RefreshAll();
        EXPECT_TRUE(helper.TakeNotes().empty()) << "reported once";
    }
    SetKeyDacl(store, /*open=*/true);
    if (!enforced)
        GTEST_SKIP() << "this registry does not enforce key security";
}
