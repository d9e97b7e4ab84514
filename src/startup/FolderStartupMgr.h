#pragma once
// The manager of the two Startup-folder locations. Entries are the plain files
// of the folder; take-over moves the user's into the hidden store folder
// "Keldora" (StoreMove.h) and records them in its "Keldora.ini", with a copy
// of Task Manager's choice for each ("Approved", StartupApproved.h) that
// restore writes back once the file's return is on the disk, before the
// section goes (a restore cut short in between leaves the section, and the
// next one writes the choice). The all-users folder's files stay where Windows starts
// them for every user: its store lists them by their own path. Every operation
// that writes takes the store lock (and the all-users store's machine lock),
// holds the Startup folder and its store open against renames for its whole
// run, and, elevated, works on the user's folder with the user's lowered
// rights (StoreLinks.h); a folder that is a link is refused with the reason,
// raised as EStartupMgrErr. A manager whose folder is unknown
// does nothing and answers false. Taking in new items by StoreItem is not
// provided for folders (it raises the abstract-call error).

#include "startup/StartupApproved.h"
#include "startup/StoreLinks.h"
#include "startup/uStartupMgr.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class ProfileFile;
struct TStoreMove;

class TFolderStartupMgr : public TBaseStartupMgr {
public:
    explicit TFolderStartupMgr(std::uint8_t location);

    void LoadItems() override;
    bool SetupItems() override;
    bool RestoreItems() override;
    bool DeleteItem(int index) override;
    bool SaveItems() override;

    // The all-users store only: older versions moved that folder's files
    // into it, where only the administrator's agent started them. Each goes
    // back where Windows starts it for every user, its section then naming
    // it there (the agent starts it no more); a second call finds nothing to
    // do. Not part of SetupItems: Windows did not start these files at this
    // logon, so the agent calls it once its logon start of the session has
    // started them from the store. True when a file went back.
    bool ReturnOlderMoves();
    // Finishes or undoes the moves a cut left open (RecoverMoves, StoreMove.h)
    // as a take-over begins, without taking anything over: before the stores
    // are read for the logon start, which must not plan from a move half
    // done. True when a move was open.
    bool RecoverOpenMoves();

    std::string StoreFolder() const;
    std::string IniFile() const;

private:
    class TStoreWork;

    void EnsureStoreFolder() const;
    // Raises EWin32Error when the INI file exists but cannot be opened so.
    void CheckIndexAccess(DWORD access) const;
    // Raises std::runtime_error when the store folder or its index is a link.
    void RefuseLinks() const;
    // The move of a file into the store (StoreMove.h); `draft`: the number
    // of its draft in the store.
    TStoreMove PlannedMove(const std::string& name, int n, const TApprovals& approvals, int draft) const;
    // Moves them in batches, with a note for each file that stays in the
    // Startup folder saying why.
    void TakeOver(const std::vector<TStoreMove>& moves);
    using TIndexEdit = std::function<bool(const ProfileFile&)>;
    // The edit of the index that lists an all-users file in place, or none
    // when its section has nothing new.
    TIndexEdit InPlaceEntry(const std::string& name, int n, const TApprovals& approvals) const;
    void ListInPlace(const std::vector<TIndexEdit>& entries) const;
    void Recover();
    bool ReturnEachOlderMove();
    std::vector<std::string> ReturnedBefore(const ProfileFile& ini) const;
    std::string ReturnRefusal(const ProfileFile& ini, const std::string& name) const;
    std::string FailureText(const char* format, const std::exception& e) const;
};

// Plain files of the folder matching the mask, in the order the file system
// lists them: no folders, volume labels, hidden or system files.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask);
