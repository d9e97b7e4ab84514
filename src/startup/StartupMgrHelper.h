#pragma once
// Several location managers behind one list ordered by Order. The helper owns
// its managers; the merged list borrows their items, which stay valid until
// the next RefreshAll or the helper's destruction. Main thread only.

#include "startup/uStartupMgr.h"

#include <cstdint>
#include <memory>
#include <vector>

class TStartupMgrHelper {
public:
    explicit TStartupMgrHelper(const std::vector<std::uint8_t>& locations);

    int Count() const { return static_cast<int>(FItemList.size()); }
    PStartupItem Items(int index) const;

    // Takes every location's native entries into its store; the merged list
    // is stale until RefreshAll. A manager's error stops the run there.
    void SetupAll();
    // Reloads every manager and rebuilds the merged list. After a failure the
    // list is empty, never left pointing at freed items.
    void RefreshAll();

    static void CollectItems(const TBaseStartupMgr& mgr, std::vector<PStartupItem>& list);
    static int CompareItemOrder(const TStartupItem& a, const TStartupItem& b);

private:
    void BuildItemList();

    std::vector<std::unique_ptr<TBaseStartupMgr>> FMgrList;
    std::vector<PStartupItem> FItemList;
};
