#include "core/Assert.h"
#include "core/Format.h"
#include "core/StrCon.h"
#include "startup/uStartupMgr.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// A manager over an in-memory store, to exercise the frame's protocol.
class MemoryMgr : public TBaseStartupMgr {
public:
    MemoryMgr(std::map<std::string, TStartupItem>& store, bool failLoad = false)
        : TBaseStartupMgr(1), store_(store), failLoad_(failLoad)
    {
        LoadItems();
    }

    void LoadItems() override
    {
        RunGuarded(
            [&] {
                for (const auto& [key, stored] : store_) {
                    if (failLoad_ && key == "bad")
                        throw std::runtime_error("unreadable");
                    AppendItem(stored);
                }
            },
            [](const std::exception& e) { return FormatText(LoadItemsErrorFormat, {e.what()}); });
    }

    bool StoreItem(TStartupItem& item) override
    {
        const std::string key = TrimCollapse(item.Desc.view(), '\\');
        if (key.empty())
            return false;
        store_[key] = item;
        return true;
    }

private:
    std::map<std::string, TStartupItem>& store_;
    bool failLoad_;
};

// Provides loading only, like a location that cannot take new items.
class LoadOnlyMgr : public TBaseStartupMgr {
public:
    LoadOnlyMgr() : TBaseStartupMgr(9) { LoadItems(); }
    void LoadItems() override { AppendItem().Desc = "existing"; }
};

TStartupItem Item(const char* desc, const char* cmd)
{
    TStartupItem item;
    item.Desc = desc;
    item.CmdLine = cmd;
    return item;
}

} // namespace

TEST(StartupMgrBase, AddItemStoresThenReloads)
{
    std::map<std::string, TStartupItem> store;
    MemoryMgr mgr(store);
    EXPECT_EQ(mgr.Count(), 0);

    EXPECT_TRUE(mgr.AddItem(Item("kdAgent", "C:\\k\\kdAgent.exe")));
    EXPECT_EQ(mgr.Count(), 1);
    EXPECT_EQ(mgr.Items(0)->Owner, &mgr);
    EXPECT_EQ(mgr.Items(0)->Location, 1);

    EXPECT_TRUE(mgr.AddItem(Item("\\kdAgent\\", "C:\\new\\kdAgent.exe")));  // same key name: overwritten
    EXPECT_EQ(mgr.Count(), 1);
    EXPECT_EQ(mgr.Items(0)->CmdLine.str(), "C:\\new\\kdAgent.exe");

    EXPECT_FALSE(mgr.AddItem(Item("\\\\", "x")));  // refused by the store: no reload, nothing changes
    EXPECT_EQ(mgr.Count(), 1);
}

TEST(StartupMgrBase, ItemsOutOfRangeFailsTheAssertion)
{
    std::map<std::string, TStartupItem> store{{"a", Item("a", "x")}};
    MemoryMgr mgr(store);
    EXPECT_NO_THROW(mgr.Items(0));
    EXPECT_THROW(mgr.Items(1), EAssertionFailed);
    EXPECT_THROW(mgr.Items(-1), EAssertionFailed);
    try {
        mgr.Items(mgr.Count());
        FAIL() << "an index equal to Count is out of range";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.what()).find("uStartupMgr"), std::string::npos);
    }
    mgr.ClearItems();
    mgr.ClearItems();
    EXPECT_EQ(mgr.Count(), 0);
    EXPECT_TRUE(mgr.Reload());
    EXPECT_EQ(mgr.Count(), 1);
}

TEST(StartupMgrBase, MissingOperationsRaiseTheAbstractError)
{
    LoadOnlyMgr mgr;
    TStartupItem item = Item("new", "x");
    EXPECT_THROW(mgr.AddItem(item), EAbstractError);
    EXPECT_EQ(mgr.Count(), 1);
    EXPECT_THROW(mgr.SetupItems(), EAbstractError);
    EXPECT_THROW(mgr.SaveItems(), EAbstractError);
    TBaseStartupMgr bare(0);  // the frame itself can be created
    EXPECT_EQ(bare.Count(), 0);
    EXPECT_THROW(bare.LoadItems(), EAbstractError);
}

TEST(StartupMgrBase, LoadFailureBecomesTheManagerError)
{
    std::map<std::string, TStartupItem> store{{"a", Item("a", "x")}, {"bad", Item("bad", "y")}};
    try {
        MemoryMgr mgr(store, /*failLoad=*/true);
        FAIL() << "construction should fail";
    } catch (const EStartupMgrErr& e) {
        EXPECT_STREQ(e.what(), "Unable to read startup programs info.\r\n Error Description:\"unreadable\"");
    }
}
