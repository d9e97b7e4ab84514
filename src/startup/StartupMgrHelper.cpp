#include "StartupMgrHelper.h"

#include "core/Assert.h"
#include "startup/FolderStartupMgr.h"
#include "startup/RegStartupMgr.h"
#include "startup/StoreLock.h"

#include "core/Format.h"
#include "core/StrCon.h"
#include "winutil/RegKey.h"

#include <algorithm>
#include <set>
#include <utility>

std::unique_ptr<TBaseStartupMgr> CreateStartupMgr(std::uint8_t location, REGSAM view)
{
    if (IsFolderLocation(location))
        return std::make_unique<TFolderStartupMgr>(location);
    return std::make_unique<TRegStartupMgr>(location, view);
}

TStartupMgrHelper::TStartupMgrHelper(const std::vector<std::uint8_t>& locations)
{
    for (const std::uint8_t location : locations) {
        for (const REGSAM view : LocationViews(location))
            FMgrList.push_back(CreateStartupMgr(location, view));
    }
    BuildItemList();
}

PStartupItem TStartupMgrHelper::Items(int index) const
{
    Check(index >= 0 && index < Count(), "Item index out of range", "uStartupMgr");
    return FItemList[index];
}

void TStartupMgrHelper::SetupAll(bool machineWide)
{
    const TStoreLock lock;
    if (!lock.Acquired()) {
        const std::string note = "Nothing was taken over, as the startup stores could not be locked (" +
                                 lock.Refusal() + "); the take-over waits for the next refresh.";
        if (FNoted.insert(note).second)
            FNotes.push_back(note);
        return;
    }
    std::string errors;
    for (const auto& mgr : FMgrList) {
        if (!machineWide && IsMachineLocation(mgr->Desc().Location))
            continue;
        try {
            mgr->SetupItems();
        } catch (const EStartupMgrErr& e) {
            errors += (errors.empty() ? "" : "\r\n\r\n") + std::string(e.what());
        }
    }
    if (!errors.empty())
        throw EStartupMgrErr(errors);
}

void TStartupMgrHelper::RecoverOpenMoves(bool machineWide)
{
    for (const auto& mgr : FMgrList) {
        const std::uint8_t location = mgr->Desc().Location;
        if (!IsFolderLocation(location) || (!machineWide && IsMachineLocation(location)))
            continue;
        try {
            static_cast<TFolderStartupMgr&>(*mgr).RecoverOpenMoves();
        } catch (const EStartupMgrErr& e) {
            if (FNoted.insert(e.what()).second)
                FNotes.push_back(e.what());
        }
    }
}

std::vector<std::string> TStartupMgrHelper::TakeNotes()
{
    std::vector<std::string> notes = std::exchange(FNotes, {});
    for (const auto& mgr : FMgrList) {
        for (std::string& note : mgr->TakeNotes())
            notes.push_back(std::move(note));
    }
    return notes;
}

// The 32-bit and the 64-bit view of one key may each hold an entry of the
// same name: both are kept, each in its own view's store, and listed twice.
void TStartupMgrHelper::NoteSharedNames()
{
    std::set<std::pair<std::uint8_t, std::string>> seen;
    for (const auto& mgr : FMgrList) {
        if (mgr->Desc().View != KEY_WOW64_32KEY)
            continue;
        for (const auto& other : FMgrList) {
            if (other->Desc().View != KEY_WOW64_64KEY || other->Desc().Location != mgr->Desc().Location)
                continue;
            for (int i = 0; i < mgr->Count(); ++i) {
                for (int j = 0; j < other->Count(); ++j) {
                    const std::string name = mgr->Items(i)->Desc.str();
                    if (!SameText(name, other->Items(j)->Desc.view()) || !seen.emplace(mgr->Desc().Location, name).second)
                        continue;
                    const std::string note = FormatText(
                        "Startup entry \"%s\" is in both the 64-bit and the 32-bit view of \"%s\"; both are kept.",
                        {name, RegistryPath(mgr->Desc().Path)});
                    if (FNoted.insert(note).second)
                        FNotes.push_back(note);
                }
            }
        }
    }
}

void TStartupMgrHelper::RefreshAll()
{
    // A manager that fails to reload has already freed what the list points at.
    FItemList.clear();
    // Not half of another agent's rewrite; reading without the lock loses nothing.
    const TStoreLock lock;
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

// Items of one Order keep the order of their locations, then of their names.
bool TStartupMgrHelper::ComesFirst(const TStartupItem& a, const TStartupItem& b)
{
    if (const int order = CompareItemOrder(a, b))
        return order < 0;
    if (a.Location != b.Location)
        return a.Location < b.Location;
    return a.Desc.view() < b.Desc.view();
}

void TStartupMgrHelper::BuildItemList()
{
    FItemList.clear();
    for (const auto& mgr : FMgrList)
        CollectItems(*mgr, FItemList);
    std::stable_sort(FItemList.begin(), FItemList.end(),
                     [](PStartupItem a, PStartupItem b) { return ComesFirst(*a, *b); });
    for (int i = 0; i < Count(); ++i)
        FItemList[i]->Order = i;
    NoteSharedNames();
}
