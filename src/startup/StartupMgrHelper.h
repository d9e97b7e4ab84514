#pragma once
// Several location managers behind one list ordered by Order. A machine-wide
// registry location has one manager per registry view on 64-bit Windows. The helper owns
// its managers; the merged list borrows their items, which stay valid until
// the next RefreshAll or the helper's destruction. Like its managers, one
// thread at a time uses it.

#include "startup/uStartupMgr.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TStartupMgrHelper {
public:
    explicit TStartupMgrHelper(const std::vector<std::uint8_t>& locations);

    int Count() const { return static_cast<int>(FItemList.size()); }
    PStartupItem Items(int index) const;

    // Takes every location's native entries into its store under the user's
    // store lock (StoreLock.h; when it cannot be had, nothing is taken over
    // and a note says why); the merged list is stale until RefreshAll. Without `machineWide` the machine's
    // locations are left out (they need an elevated start). Every manager is
    // tried; the errors are raised together afterwards, as one EStartupMgrErr
    // whose message holds theirs one after the other.
    void SetupAll(bool machineWide = true);
    // Finishes or undoes the moves a cut left open in the Startup folders'
    // stores (TFolderStartupMgr::RecoverOpenMoves), taking nothing over; a
    // location that refuses is noted, and its take-over tries again.
    void RecoverOpenMoves(bool machineWide = true);
    // What the managers noted since the last call (Note in uStartupMgr), and
    // entries of one name in both registry views; each once per helper.
    std::vector<std::string> TakeNotes();
    // Reloads every manager and rebuilds the merged list. After a failure the
    // list is empty, never left pointing at freed items.
    void RefreshAll();

    static void CollectItems(const TBaseStartupMgr& mgr, std::vector<PStartupItem>& list);
    static int CompareItemOrder(const TStartupItem& a, const TStartupItem& b);
    // The merged list's sequence: Order, then location index, then Desc
    // (bytes); items alike in all three keep the order of their managers.
    static bool ComesFirst(const TStartupItem& a, const TStartupItem& b);

private:
    void BuildItemList();
    void NoteSharedNames();

    std::vector<std::unique_ptr<TBaseStartupMgr>> FMgrList;
    std::vector<PStartupItem> FItemList;
    std::vector<std::string> FNotes;
    std::set<std::string> FNoted;
};
