#pragma once
// The manager of the eight Run-type registry locations. Entries are values of
// the location's key; the store is its subkey "Keldora" with one subkey per
// item. Take-over copies entries and never deletes a value from the Run key.
// An item's key is named by its Desc, each backslash written "%5C"; beside the
// six item values it keeps "Name", the entry's own name in the Run key (empty
// for the key's unnamed value), and "Approved", a copy of Task Manager's
// choice for the entry (StartupApproved.h). Take-over sets Enable from a
// choice it has not seen before; restore writes each entry back under its
// own name, with the choice it had. Every write takes the user's store lock,
// and for the machine's keys the machine's lock too (MachineStoresLock).

#include "startup/StoreLinks.h"
#include "startup/uStartupMgr.h"
#include "winutil/RegKey.h"

#include <optional>
#include <set>
#include <string>

class TRegStartupMgr : public TBaseStartupMgr {
public:
    // `view`: the registry view of the location's key and its store.
    explicit TRegStartupMgr(std::uint8_t location, REGSAM view = 0);

    void LoadItems() override;
    bool SetupItems() override;
    bool RestoreItems() override;
    bool DeleteItem(int index) override;
    bool StoreItem(TStartupItem& item) override;
    bool SaveItems() override;

    // Writes one entry into the store; false when it names nothing to store.
    // The command line keeps the string type it had in the Run key.
    // Values equal to the stored ones are not written again.
    bool ImportValue(const std::string& name, const std::string& cmdLine, int n, DWORD type = REG_SZ);

    // Keys created and values written in any registry store since the
    // program started; a refresh that finds nothing new adds none.
    static std::size_t StoreWrites();

    // The store key below the location's key, in the manager's view.
    std::string StoreKeyPath() const;

private:
    bool IsUsersKey() const;
    // The machine's stores' lock, held; none for the user's keys.
    std::optional<TStoreFileLock> MachineLock() const;
    REGSAM Access() const;
    RegKey OpenForListing(const std::string& path);
    std::string ViewName() const;
    std::string ItemKeyPath(std::string_view desc) const;
    // The item's key, created when it does not exist; empty on failure.
    RegKey OpenItemKey(std::string_view desc, bool& created) const;
    // What one take-over asks again and again, kept for its length.
    struct TakeOverPass;
    std::string FailureText(const char* format, const std::exception& e) const;

    // Item key names whose icon file this manager has worked out or seen.
    std::set<std::string, std::less<>> FIconLooked;
    const TakeOverPass* FPass = nullptr;
};
