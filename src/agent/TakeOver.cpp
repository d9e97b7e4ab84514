#include "agent/TakeOver.h"

#include "agent/LogonStart.h"
#include "startup/FolderStartupMgr.h"
#include "startup/StoreLock.h"
#include "winutil/ErrorText.h"

#include <utility>

TTakeOver::TTakeOver(std::vector<std::uint8_t> locations, bool machineWide)
    : FLocations(std::move(locations)), FMachineWide(machineWide)
{
}

void TTakeOver::Report(TTakeOverResult& result)
{
    for (std::string& note : FHelper->TakeNotes())
        result.reports.push_back(std::move(note));
}

std::vector<TStartupItem> TTakeOver::Items() const
{
    std::vector<TStartupItem> items;
    for (int i = 0; i < FHelper->Count(); ++i) {
        items.push_back(*FHelper->Items(i));
        items.back().Owner = nullptr;
    }
    return items;
}

// False, with the report, when the stores could not be read whole. A move
// a cut left open is settled first: the logon start plans from this read.
bool TTakeOver::ReadBeforeTakeOver(TTakeOverResult& result)
{
    if (FBefore)
        return true;
    try {
        FHelper->RecoverOpenMoves(FMachineWide);
        FHelper->RefreshAll();
        FBefore = Items();
        return true;
    } catch (const EStartupMgrErr& e) {
        Report(result);
        result.reports.push_back(e.what());
        return false;
    }
}

// False, with the stores as read before, when the mark could not be written.
// Starting as its owner then could start the logon's items twice beside an
// agent that writes it; so nothing is taken over, the "before" stays one that
// no take-over changed, and the next run asks again.
bool TTakeOver::MarkLogon(TTakeOverResult& result)
{
    LONG error = ERROR_SUCCESS;
    const TLogonMark mark = MarkLogonSession(&error);
    if (mark != TLogonMark::Failed) {
        FMarkedLogon = mark == TLogonMark::Made;
        return true;
    }
    result.waiting = result.reloaded = true;
    result.items = *FBefore;
    Report(result);
    if (!FMarkFailureNoted)
        result.reports.push_back("This session's logon mark could not be written in the registry (" +
                                 ErrorText(static_cast<DWORD>(error)) +
                                 "); nothing is taken over or started at logon until it can be, which is "
                                 "tried again soon.");
    FMarkFailureNoted = true;
    return false;
}

TTakeOverResult TTakeOver::Run(bool reload, const std::function<TLogonGate()>& gate)
{
    TTakeOverResult result;
    // One hold of the lock for the whole run. Until the logon start is
    // given, the stores read before, the session's mark and the first
    // take-over are in it: of two agents of one logon, the second finds the
    // mark and plans nothing. A take-over and its reload in one hold also
    // leave the other agent no gap to lose its turn in where the system
    // grants a lock to whoever asks first once it is free (Wine).
    const TStoreLock lock;
    if (!lock.Acquired()) {
        result.reports.push_back("Nothing was read or taken over, as the startup stores could not be locked (" +
                                 lock.Refusal() + "); the next refresh tries again.");
        return result;
    }
    try {
        if (!FHelper)
            FHelper = std::make_unique<TStartupMgrHelper>(FLocations);
        if (reload && !FLogonItemsGiven) {
            if (!ReadBeforeTakeOver(result))
                return result;
            const TLogonGate now = gate ? gate() : TLogonGate{};
            if (!now.open) {
                result.waiting = result.reloaded = true;
                result.items = *FBefore;
                Report(result);
                return result;
            }
            // Only now that the stores were read whole, and before anything
            // of this logon is taken over.
            if (!FMarkedLogon && !MarkLogon(result))
                return result;
            // Decided by the first take-over only: a later answer would plan
            // from a "before" that lacks what the first one moved. A refused
            // mark took nothing over, so the answer is read again with it.
            if (!FExplorerStarted)
                FExplorerStarted = now.explorerStarted;
        }
    } catch (const EStartupMgrErr& e) {
        if (FHelper)
            Report(result);
        result.reports.push_back(e.what());
        return result;
    }
    try {
        FHelper->SetupAll(FMachineWide);
    } catch (const EStartupMgrErr& e) {
        // Each refused location said why and stayed as it was; the others
        // were taken over, and the stores are read again all the same.
        Report(result);
        result.reports.push_back(e.what());
    }
    if (!reload) {
        Report(result);
        return result;
    }
    result.reloaded = true;
    try {
        FHelper->RefreshAll();
        result.items = Items();
    } catch (const EStartupMgrErr& e) {
        result.items.clear();
        Report(result);
        result.reports.push_back(e.what());
        return result;
    }
    if (!FLogonItemsGiven && FBefore && FMarkedLogon) {
        FLogonItemsGiven = true;
        result.logonItems = !*FMarkedLogon      ? std::vector<TStartupItem>()
                            : *FExplorerStarted ? std::move(*FBefore)
                                                : result.items;
        FBefore.reset();
    }
    Report(result);
    return result;
}

std::string TTakeOver::ReturnOlderMoves() const
{
    if (!FMachineWide)
        return {};
    try {
        TFolderStartupMgr store(AllUsersStartupFolder);
        std::string text = store.ReturnOlderMoves()
                               ? "Files older versions had moved out of the all-users Startup folder went back there."
                               : "";
        for (const std::string& note : store.TakeNotes())
            text += (text.empty() ? "" : "\r\n") + note;
        return text;
    } catch (const std::exception& e) {
        return e.what();
    }
}
