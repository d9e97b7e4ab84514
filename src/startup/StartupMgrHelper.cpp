#include "StartupMgrHelper.h"

#include "common/Assert.h"
#include "startup/FolderStartupMgr.h"
#include "startup/RegStartupMgr.h"

#include <algorithm>

std::unique_ptr<TBaseStartupMgr> CreateStartupMgr(std::uint8_t location)
{
    if (IsFolderLocation(location))
        return std::make_unique<TFolderStartupMgr>(location);
    return std::make_unique<TRegStartupMgr>(location);
}

TStartupMgrHelper::TStartupMgrHelper(const std::vector<std::uint8_t>& locations)
{
    for (const std::uint8_t location : locations)
        FMgrList.push_back(CreateStartupMgr(location));
    BuildItemList();
}

PStartupItem TStartupMgrHelper::Items(int index) const
{
    Check(index >= 0 && index < Count(), "Item index out of range", "uStartupMgr");
    return FItemList[index];
}

void TStartupMgrHelper::SetupAll()
{
    for (const auto& mgr : FMgrList)
        mgr->SetupItems();
}

void TStartupMgrHelper::RefreshAll()
{
    // A manager that fails to reload has already freed what the list points at.
    FItemList.clear();
    for (const auto& mgr : FMgrList)
        mgr->Reload();
    BuildItemList();
}

void TStartupMgrHelper::CollectItems(const TBaseStartupMgr& mgr, std::vector<PStartupItem>& list)
{
    for (int i = 0; i < mgr.Count(); ++i)
        list.push_back(mgr.Items(i));
}

int TStartupMgrHelper::CompareItemOrder(const TStartupItem& a, const TStartupItem& b)
{
    return a.Order < b.Order ? -1 : a.Order > b.Order ? 1 : 0;
}

void TStartupMgrHelper::BuildItemList()
{
    FItemList.clear();
    for (const auto& mgr : FMgrList)
        CollectItems(*mgr, FItemList);
    std::sort(FItemList.begin(), FItemList.end(),
              [](PStartupItem a, PStartupItem b) { return CompareItemOrder(*a, *b) < 0; });
    for (int i = 0; i < Count(); ++i)
        FItemList[i]->Order = i;
}
