#include "FolderStartupMgr.h"

#include "core/FileNameRule.h"
#include "core/Format.h"
#include "core/ApprovalValue.h"
#include "core/StrCon.h"
#include "startup/StartupApproved.h"
#include "startup/StartupItemFields.h"
#include "startup/StoreLinks.h"
#include "startup/StoreLock.h"
#include "startup/StoreMove.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/ProfileFile.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <algorithm>

namespace {

const char* const SetupError = "Unable to setup startup items from dir:\"%s\".\r\nErr Description:\"%s\"";
const char* const RestoreError = "Unable to remove startup itemsfrom dir:\"%s\".\r\nErr Description:\"%s\"";
const char* const DeleteError = "Unable to delete startup itemsfrom dir:\"%s\".\r\nErr Description:\"%s\"";
const char* const SaveError = "Unable to update items from folder: \"%s\", Error type:%s, Error message:\"%s\"";

// Task Manager's choice for the file as it was when the file was taken over,
// in hexadecimal: the value itself may go once the file is no longer there.
constexpr const char* kApprovedKey = "Approved";

constexpr DWORD SkippedAttributes =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | 0x8 /* volume label */;

const char* ErrorClassName(const std::exception& e)
{
    if (dynamic_cast<const EStartupMgrErr*>(&e))
        return "EStartupMgrErr";
    if (dynamic_cast<const EWin32Error*>(&e))
        return "EWin32Error";
    return "Exception";
}

using keldora::startup::FieldKind;
using keldora::startup::ItemField;
using keldora::startup::ItemFields;
using keldora::startup::StoredItem;

bool WriteField(const ProfileFile& ini, const std::string& section, const ItemField& field, const StoredItem& item)
{
    return field.kind == FieldKind::Text ? ini.WriteString(section, field.name, item.*field.text)
                                         : ini.WriteInteger(section, field.name, item.*field.integer);
}

// Every value; on a take-over the kept ones only where they are missing.
bool WriteItemSection(const ProfileFile& ini, const std::string& section, const StoredItem& item, bool takeOver)
{
    for (const ItemField& field : ItemFields) {
        const bool writes =
            keldora::startup::WritesField(field, item, takeOver, takeOver && ini.HasKey(section, field.name));
        if (writes && !WriteField(ini, section, field, item))
            return false;
    }
    return true;
}

// A new section goes in one write.
bool WriteNewSection(const ProfileFile& ini, const std::string& section, const StoredItem& item,
                     const std::optional<std::string>& approval)
{
    std::vector<std::pair<std::string, std::string>> values;
    for (const ItemField& field : ItemFields) {
        if (keldora::startup::WritesField(field, item, /*takeOver=*/false, /*present=*/false))
            values.emplace_back(field.name, field.kind == FieldKind::Text ? std::string(item.*field.text)
                                                                          : std::to_string(item.*field.integer));
    }
    if (approval)
        values.emplace_back(kApprovedKey, ApprovalHex(*approval));
    return ini.WriteSection(section, values);
}

// Enable as Task Manager's choice (its StartupApproved value) says.
std::int32_t EnableOf(const std::string& approval)
{
    return ApprovalOf(/*binary=*/true, approval) == TApproval::apDisabled ? 0 : 1;
}

// A choice made in Task Manager since the section was written: Enable, and
// the copy of the choice the restore writes back.
bool WriteChoice(const ProfileFile& ini, const std::string& section, const std::string& approval)
{
    return ini.WriteInteger(section, "Enable", EnableOf(approval)) &&
           ini.WriteString(section, kApprovedKey, ApprovalHex(approval));
}

// The keys a take-over writes into an item's section.
std::vector<std::string> SectionKeys()
{
    std::vector<std::string> keys{kApprovedKey};
    for (const ItemField& field : ItemFields)
        keys.emplace_back(field.name);
    return keys;
}

// The store's own names: a file of either name in the folder stays where the
// user put it, since taking it over would overwrite the index.
bool IsStoreName(const std::string& name)
{
    return SameText(name, StoreIniName) || SameText(name, StoreName) || SameText(name, kIndexDraftName) ||
           SameText(name, kLockFileName) || IsDraftName(name);
}

} // namespace

std::vector<std::string> ListFiles(const std::string& folder, const std::string& mask)
{
    std::vector<std::string> names;
    for (const FoundFile& file : FindFiles(AddBackslash(folder) + mask)) {
        if (!(file.attributes & SkippedAttributes))
            names.push_back(file.name);
    }
    return names;
}

// A write of the store (TStoreWrite), no link at the store or its index,
// that holds, open against renames, the Startup folder where it moves files,
// and the store, its links refused again once it is held. Built step by
// step, since a caller may find nothing to do between.
class TFolderStartupMgr::TStoreWork {
public:
    explicit TStoreWork(const TFolderStartupMgr& mgr) : mgr_(mgr), write_(mgr.FDesc.Location != AllUsersStartupFolder)
    {
        mgr_.RefuseLinks();
    }
    // Let go in the reverse of the taking: the machine's lock, the folders, the rest.
    ~TStoreWork() { write_.UnlockMachine(); }
    TStoreWork(const TStoreWork&) = delete;
    TStoreWork& operator=(const TStoreWork&) = delete;

    void HoldFolder() { Hold(folder_, mgr_.FDesc.Path); }
    void HoldFolderAndStore()
    {
        HoldFolder();
        HoldStore();
    }
    void HoldStore()
    {
        Hold(store_, mgr_.StoreFolder());
        mgr_.RefuseLinks();
        write_.LockMachine();
    }
    // Before the store folder itself is removed.
    void LetGoOfStore()
    {
        write_.UnlockMachine();
        store_.reset();
    }

private:
    void Hold(std::optional<THeldFolder>& held, const std::string& folder)
    {
        held.emplace(folder, write_.MoreRightsThanUser());
        held->Require();
    }

    const TFolderStartupMgr& mgr_;
    TStoreWrite write_;
    std::optional<THeldFolder> folder_;
    std::optional<THeldFolder> store_;
};

TFolderStartupMgr::TFolderStartupMgr(std::uint8_t location) : TBaseStartupMgr(location)
{
    LoadItems();
}

std::string TFolderStartupMgr::StoreFolder() const
{
    return FDesc.Path.empty() ? std::string() : AddBackslash(FDesc.Path) + StoreName;
}

std::string TFolderStartupMgr::IniFile() const
{
    return FDesc.Path.empty() ? std::string() : AddBackslash(StoreFolder()) + StoreIniName;
}

std::string TFolderStartupMgr::FailureText(const char* format, const std::exception& e) const
{
    return FormatText(format, {FDesc.Path, e.what()});
}

void TFolderStartupMgr::EnsureStoreFolder() const
{
    if (!ForceDirectories(StoreFolder()))
        throw std::runtime_error(FormatText("Can't create directory:%s", {AddBackslash(StoreFolder())}));
}

// The profile services read a locked or unreadable index as an empty one;
// the store's operations report it instead of working from nothing.
void TFolderStartupMgr::CheckIndexAccess(DWORD access) const
{
    if (!FileExists(IniFile()))
        return;
    const UniqueFile index(CreateFileW(WideFromUtf8(IniFile()).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!index)
        throw EWin32Error("Opening " + IniFile(), GetLastError());
}

void TFolderStartupMgr::LoadItems()
{
    if (FDesc.Path.empty())
        return;
    RunGuarded(
        [&] {
            if (!DirectoryExists(StoreFolder()) || !FileExists(IniFile()))
                return;
            RefuseLinks();
            CheckIndexAccess(GENERIC_READ);
            const std::optional<ProfileSections> index = ProfileFile(IniFile()).ReadAll();
            if (!index)
                throw EWin32Error("Reading " + IniFile(), GetLastError());
            for (const ProfileSection& listed : index->All()) {
                // A repeated name reads the first section of it, as the system does.
                const ProfileSection& section = *index->First(listed.name);
                TStartupItem item;
                for (const ItemField& field : ItemFields) {
                    const std::string value = section.Value(field.name).value_or("");
                    long number = 0;
                    if (field.kind == FieldKind::Text)
                        field.readText(item, value);
                    else
                        field.readInteger(item, ParseInteger(value, number) ? number : 0);
                }
                AppendItem(item);
            }
        },
        [](const std::exception& e) { return FormatText(LoadItemsErrorFormat, {e.what()}); });
}

// StoreMove.h keeps the file in one place at every step. A choice made in
// Task Manager that the section has not seen yet decides Enable; the section
// keeps a copy for the restore.
TStoreMove TFolderStartupMgr::PlannedMove(const std::string& name, int n, const TApprovals& approvals,
                                          int draft) const
{
    const std::optional<std::string> approval = approvals.Find(name);
    const bool known = ProfileFile(IniFile()).HasSection(name);
    TStoreMove move{FDesc.Path, StoreFolder(), name, known, {}, SectionKeys(), draft};
    // The item's text is views: the lambda owns what they name.
    move.writeSection = [name, copy = AddBackslash(StoreFolder()) + name, now = keldora::startup::TakeOverTimeNow(),
                         location = FDesc.Location, n, approval, known](const ProfileFile& ini) {
        StoredItem item = keldora::startup::TakenOverItem(name, copy, copy, location, n, now);
        const bool newChoice =
            approval && (!known || ApprovalFromHex(ini.ReadString(name, kApprovedKey)) != approval);
        if (newChoice)
            item.enable = EnableOf(*approval);
        if (!known)
            return WriteNewSection(ini, name, item, approval);
        return WriteItemSection(ini, name, item, /*takeOver=*/true) &&
               (!newChoice || WriteChoice(ini, name, *approval));
    };
    return move;
}

// A batch shares one journal, one flush of the store and one settle: a
// rewrite of the whole index for each file would hold the stores for most of
// a minute with a thousand files. Bounded, since each file of a batch is held
// open until it ends.
void TFolderStartupMgr::TakeOver(const std::vector<TStoreMove>& moves)
{
    constexpr std::size_t kMovesPerBatch = 256;
    for (std::size_t first = 0; first < moves.size(); first += kMovesPerBatch) {
        const std::vector<TStoreMove> batch(moves.begin() + first,
                                            moves.begin() + std::min(moves.size(), first + kMovesPerBatch));
        const std::vector<TMoveResult> results = MoveIntoStore(batch);
        for (std::size_t n = 0; n < batch.size(); ++n) {
            if (results[n].why.empty())
                continue;
            const char* const format = results[n].leftOpen ? "\"%s\" of \"%s\" went into the store, but %s."
                                                           : "\"%s\" of \"%s\" was not taken over: %s.";
            Note(FormatText(format, {batch[n].name, FDesc.Path, results[n].why}));
        }
    }
}

// All in one rewrite; a section the index cannot take leaves out that file
// only (each is then written alone), which the next take-over tries again.
void TFolderStartupMgr::ListInPlace(const std::vector<TIndexEdit>& entries) const
{
    bool refused = false;
    const auto write = [&](auto first, auto last) {
        return RewriteIndex(IniFile(), [&](const ProfileFile& ini) {
            refused = !std::all_of(first, last, [&](const auto& entry) { return entry(ini); });
            return !refused;
        });
    };
    if (entries.empty() || write(entries.begin(), entries.end()) || !refused || entries.size() == 1)
        return;
    for (auto entry = entries.begin(); entry != entries.end(); ++entry)
        write(entry, entry + 1);
}

// The all-users folder's files are every user's, and Windows starts them
// for each: they stay where they are, and the store lists them as it lists
// Run values, by their own path. A listed file is written again only for a
// choice made in Task Manager since, so a steady refresh writes nothing.
TFolderStartupMgr::TIndexEdit TFolderStartupMgr::InPlaceEntry(const std::string& name, int n,
                                                              const TApprovals& approvals) const
{
    const std::string path = AddBackslash(FDesc.Path) + name;
    const ProfileFile index(IniFile());
    const bool known = index.HasSection(name);
    const std::optional<std::string> approval = approvals.Find(name);
    if (known && !(approval && ApprovalFromHex(index.ReadString(name, kApprovedKey)) != approval))
        return {};
    return [name, path, now = keldora::startup::TakeOverTimeNow(), location = FDesc.Location, n, approval,
            known](const ProfileFile& ini) {
        if (known)
            return WriteChoice(ini, name, *approval);
        StoredItem entry = keldora::startup::TakenOverItem(name, path, path, location, n, now);
        if (approval)
            entry.enable = EnableOf(*approval);
        return WriteNewSection(ini, name, entry, approval);
    };
}

// Driven by the sections, so a cut between a rename and the index rewrite
// is finished by the next call.
bool TFolderStartupMgr::ReturnOlderMoves()
{
    if (FDesc.Location != AllUsersStartupFolder || FDesc.Path.empty())
        return false;
    return RunGuarded(
        [&] {
            TStoreWork work(*this);
            if (!DirectoryExists(StoreFolder()) || !FileExists(IniFile()))
                return false;
            work.HoldFolderAndStore();
            return ReturnEachOlderMove();
        },
        [&](const std::exception& e) { return FailureText(SetupError, e); });
}

bool TFolderStartupMgr::ReturnEachOlderMove()
{
    const ProfileFile index(IniFile());
    std::vector<std::string> back;
    for (const std::string& name : index.SectionNames()) {
        const std::string stored = AddBackslash(StoreFolder()) + name;
        if (IsStoreName(name) || !IsBareFileName(name) || !SameText(index.ReadString(name, "CmdLine"), stored))
            continue;
        const std::string kept = AddBackslash(FDesc.Path) + name;
        const bool inFolder = FileExists(kept);
        const std::string refusal = inFolder ? std::string() : ReturnFromStore(FDesc.Path, StoreFolder(), name);
        if (inFolder && FileExists(stored))
            Note(FormatText("\"%s\" of \"%s\" is there again: the older copy stays in the store, which a restore "
                            "leaves there.",
                            {name, FDesc.Path}));
        if (!refusal.empty())
            Note(FormatText("\"%s\" stays in the store: %s.", {name, refusal}));
        else
            back.push_back(name);
    }
    const bool rewritten = back.empty() || (FlushFolder(FDesc.Path) && RewriteIndex(IniFile(), [&](const ProfileFile& ini) {
        return std::all_of(back.begin(), back.end(), [&](const std::string& name) {
            const std::string kept = AddBackslash(FDesc.Path) + name;
            return ini.WriteString(name, "CmdLine", kept) && ini.WriteString(name, "Icon", kept);
        });
    }));
    if (!rewritten)
        Note(FormatText("The index of \"%s\" could not name the files put back; the next call does it.",
                        {StoreFolder()}));
    return !back.empty() && rewritten;
}

// A store folder or index that is a link would have the store written, and
// its files deleted, wherever the link points.
void TFolderStartupMgr::RefuseLinks() const
{
    for (const std::string& path : {StoreFolder(), IniFile()}) {
        const std::string refusal = LinkRefusal(path);
        if (!refusal.empty())
            throw std::runtime_error(refusal + "; nothing was read, written or moved through it");
    }
}

bool TFolderStartupMgr::SetupItems()
{
    if (FDesc.Path.empty())
        return false;
    return RunGuarded(
        [&] {
            TStoreWork work(*this);
            if (!DirectoryExists(FDesc.Path) && LinkRefusal(FDesc.Path).empty())
                return false;
            work.HoldFolder();
            RefuseLinks();
            EnsureStoreFolder();
            work.HoldStore();
            Recover();
            const std::wstring store = WideFromUtf8(StoreFolder());
            if ((GetFileAttributesW(store.c_str()) & ~FILE_ATTRIBUTE_DIRECTORY) != FILE_ATTRIBUTE_HIDDEN)
                SetFileAttributesW(store.c_str(), FILE_ATTRIBUTE_HIDDEN);
            const std::vector<std::string> files = ListFiles(FDesc.Path, "*.*");
            if (files.empty())
                return false;
            const TApprovals approvals(FDesc);
            std::vector<TStoreMove> moves;
            std::vector<TIndexEdit> inPlace;
            int draft = FirstFreeDraft(StoreFolder());
            for (std::size_t n = 0; n < files.size(); ++n) {
                if (IsStoreName(files[n]))
                    continue;
                if (FDesc.Location != AllUsersStartupFolder)
                    moves.push_back(PlannedMove(files[n], static_cast<int>(n), approvals, draft++));
                else if (auto entry = InPlaceEntry(files[n], static_cast<int>(n), approvals))
                    inPlace.push_back(std::move(entry));
            }
            TakeOver(moves);
            ListInPlace(inPlace);
            return true;
        },
        [&](const std::exception& e) { return FailureText(SetupError, e); });
}

void TFolderStartupMgr::Recover()
{
    for (const std::string& note : RecoverMoves(FDesc.Path, StoreFolder()))
        Note(note);
}

bool TFolderStartupMgr::RecoverOpenMoves()
{
    if (FDesc.Path.empty() || !DirectoryExists(StoreFolder()))
        return false;
    return RunGuarded(
        [&] {
            TStoreWork work(*this);
            if (!MovesOpen(StoreFolder()))
                return false;
            work.HoldFolderAndStore();
            Recover();
            return true;
        },
        [&](const std::exception& e) { return FailureText(SetupError, e); });
}

bool TFolderStartupMgr::RestoreItems()
{
    if (FDesc.Path.empty())
        return false;
    return RunGuarded(
        [&] {
            TStoreWork work(*this);
            if (!DirectoryExists(StoreFolder()))
                return false;
            work.HoldFolderAndStore();
            Recover();
            const std::vector<std::string> files = ListFiles(StoreFolder(), "*.*");
            if (files.empty())
                return false;
            CheckIndexAccess(GENERIC_READ | GENERIC_WRITE);
            const ProfileFile ini(IniFile());
            std::vector<std::string> returned = ReturnedBefore(ini);
            // A move left open may have its only copy in a draft: the index
            // that journals it stays.
            bool everyFileBack = !MovesOpen(StoreFolder());
            for (const std::string& name : files) {
                if (IsStoreName(name))
                    continue;
                const std::string refusal = ReturnRefusal(ini, name);
                if (!refusal.empty()) {
                    Note(FormatText("\"%s\" stays in the store: %s.", {name, refusal}));
                    everyFileBack = false;
                    continue;
                }
                returned.push_back(name);
            }
            // Task Manager's choices follow the renames on the disk, and the
            // sections that keep them go only after both: a cut in between
            // leaves each file back with its section, and the next restore
            // writes its choice (ReturnedBefore); a choice is never written
            // for a file whose return did not reach the disk.
            if (!returned.empty() && !FlushFolder(FDesc.Path)) {
                Note(FormatText("The files put back into \"%s\" could not be flushed to the disk: the index still lists "
                                "them, and the next take-over takes them over again.",
                                {FDesc.Path}));
                return false;
            }
            for (const std::string& name : returned) {
                const std::optional<std::string> approval = ApprovalFromHex(ini.ReadString(name, kApprovedKey));
                if (approval && !WriteApproval(FDesc, name, *approval))
                    Note(FormatText("Task Manager's choice for \"%s\" could not be written back.", {name}));
            }
            // Entries whose files failed to go back stay listed.
            if (!everyFileBack) {
                RewriteIndex(IniFile(), [&](const ProfileFile& copy) {
                    return std::all_of(returned.begin(), returned.end(),
                                       [&](const std::string& name) { return copy.EraseSection(name); });
                });
                return false;
            }
            if (!RemoveStoredFile(IniFile()))
                return false;
            work.LetGoOfStore();
            return RemoveDirectoryW(WideFromUtf8(StoreFolder()).c_str()) != FALSE;
        },
        [&](const std::exception& e) { return FailureText(RestoreError, e); });
}

// The files an earlier restore put back before it was cut short: each
// section of a file moved into the store whose copy is gone from it and is
// in the Startup folder again. Their choices may not have been written yet.
std::vector<std::string> TFolderStartupMgr::ReturnedBefore(const ProfileFile& ini) const
{
    std::vector<std::string> back;
    for (const std::string& name : ini.SectionNames()) {
        const std::string stored = AddBackslash(StoreFolder()) + name;
        if (IsStoreName(name) || !IsBareFileName(name) || ini.HasKey(name, kMovingKey) ||
            !SameText(ini.ReadString(name, "CmdLine"), stored))
            continue;
        if (!PathExists(stored) && FileExists(AddBackslash(FDesc.Path) + name))
            back.push_back(name);
    }
    return back;
}

// Why the stored file stays in the store, else empty once it is back.
std::string TFolderStartupMgr::ReturnRefusal(const ProfileFile& ini, const std::string& name) const
{
    if (ini.HasKey(name, kMovingKey))
        return "its move into the store was cut short and is not settled yet";
    // Only a file older versions moved: a section naming another file of
    // that name has it already where Windows starts it.
    const std::string stored = AddBackslash(StoreFolder()) + name;
    if (FDesc.Location == AllUsersStartupFolder && !SameText(ini.ReadString(name, "CmdLine"), stored))
        return "no section names this copy, an older one of a file that is in the folder again";
    return ReturnFromStore(FDesc.Path, StoreFolder(), name);
}

bool TFolderStartupMgr::DeleteItem(int index)
{
    const TStartupItem item = *Items(index);
    if (FDesc.Path.empty())
        return false;
    return RunGuarded(
        [&] {
            TStoreWork work(*this);
            if (!FileExists(IniFile()))
                return false;
            work.HoldStore();
            CheckIndexAccess(GENERIC_READ | GENERIC_WRITE);
            const std::string file = item.CmdLine.str();
            // Only our own copy is ever deleted: an edited command line may
            // name the user's real program.
            const bool ownCopy = SameText(RemoveBackslash(FolderOfPath(file)), StoreFolder());
            if (ownCopy && !LinkRefusal(file).empty())
                return false;
            if (ownCopy && FileExists(file) && !RemoveStoredFile(file))
                return false;
            return RewriteIndex(IniFile(),
                                [&](const ProfileFile& ini) { return ini.EraseSection(item.Desc.view()); });
        },
        [&](const std::exception& e) { return FailureText(DeleteError, e); });
}

bool TFolderStartupMgr::SaveItems()
{
    if (FDesc.Path.empty())
        return false;
    try {
        TStoreWork work(*this);
        EnsureStoreFolder();
        work.HoldStore();
        return RewriteIndex(IniFile(), [&](const ProfileFile& ini) {
            for (const auto& item : FItems) {
                if (!WriteItemSection(ini, item->Desc.str(), keldora::startup::StoredItemOf(*item),
                                      /*takeOver=*/false))
                    return false;
            }
            return true;
        });
    } catch (const std::exception& e) {
        throw EStartupMgrErr(FormatText(SaveError, {FDesc.Path, ErrorClassName(e), e.what()}));
    }
}
