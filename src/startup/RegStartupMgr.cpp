#include "RegStartupMgr.h"

#include "common/CmdLnSystem.h"
#include "core/CmdLnMemo.h"
#include "core/CmdLnUtils.h"
#include "core/Format.h"
#include "core/StrCon.h"
#include "core/Utf8.h"
#include "core/ApprovalValue.h"
#include "startup/StartupApproved.h"
#include "startup/StartupItemFields.h"
#include "startup/StoreLinks.h"
#include "startup/StoreLock.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"

#include <cstring>

using keldora::startup::FieldKind;
using keldora::startup::ItemField;
using keldora::startup::ItemFields;
using keldora::startup::StoredItem;

namespace {

constexpr REGSAM FullAccess = KEY_ALL_ACCESS;
constexpr const char* kNameValue = "Name";
constexpr const char* kApprovedValue = "Approved";

const char* const SetupError = "Unable to setup startup items from registry:\"%s\".\r\nErr Description:\"%s\"";
const char* const SaveError = "Unable to save itemsfrom registry: \"%s\".\r\nError message:\"%s\"";
const char* const RestoreError = "Unable to Restore startup items from registry:\"%s\".\r\nErr Description:\"%s\"";
const char* const DeleteError = "Unable to delete itemsfrom registry:\"%s\".\r\nErr Description:\"%s\"";

void Check(LONG rc, const std::string& what)
{
    if (rc != ERROR_SUCCESS)
        throw EWin32Error(what, static_cast<DWORD>(rc));
}

std::string StringValue(const RegKey::Value& value)
{
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
        throw std::runtime_error("Invalid data type for '" + value.name + "'");
    return RegStringData(value.data);
}

std::int32_t IntegerValue(const RegKey::Value& value)
{
    if (value.type != REG_DWORD || value.data.size() != sizeof(DWORD))
        throw std::runtime_error("Invalid data type for '" + value.name + "'");
    DWORD data = 0;
    memcpy(&data, value.data.data(), sizeof data);
    return static_cast<std::int32_t>(data);
}

std::size_t storeWrites = 0;

const RegKey::Value* FindValue(const std::vector<RegKey::Value>& values, std::string_view name)
{
    for (const RegKey::Value& value : values)
        if (SameText(value.name, name))
            return &value;
    return nullptr;
}

bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// Writes the values of one item key that differ from what it holds, so that a
// refresh finding nothing new leaves the registry untouched.
class ItemKeyWriter {
public:
    // A key just created holds nothing to compare with.
    ItemKeyWriter(const RegKey& key, bool created) : key_(key)
    {
        if (!created)
            Check(key.Values(current_), "Reading the item key");
    }

    const RegKey::Value* Current(std::string_view name) const { return FindValue(current_, name); }

    // The string type the value has now, or REG_SZ.
    DWORD CurrentStringType(std::string_view name) const
    {
        const RegKey::Value* value = Current(name);
        return value && IsStringType(value->type) ? value->type : REG_SZ;
    }

    void String(const char* name, std::string_view text, DWORD type = REG_SZ)
    {
        const RegKey::Value* value = Current(name);
        if (value && value->type == type && RegStringData(value->data) == text)
            return;
        Check(key_.WriteString(name, text, type), std::string("Writing ") + name);
        ++storeWrites;
    }

    void Dword(const char* name, std::int32_t data)
    {
        const RegKey::Value* value = Current(name);
        const auto raw = static_cast<DWORD>(data);
        if (value && value->type == REG_DWORD && value->data == std::string(reinterpret_cast<const char*>(&raw), sizeof raw))
            return;
        Check(key_.WriteDword(name, raw), std::string("Writing ") + name);
        ++storeWrites;
    }

    void Binary(const char* name, std::string_view bytes)
    {
        const RegKey::Value* value = Current(name);
        if (value && value->type == REG_BINARY && value->data == bytes)
            return;
        Check(key_.WriteBinary(name, bytes), std::string("Writing ") + name);
        ++storeWrites;
    }

    // Every value; on a take-over the kept ones only where they are missing.
    void Item(const StoredItem& item, DWORD cmdLineType, bool takeOver)
    {
        for (const ItemField& field : ItemFields) {
            if (!keldora::startup::WritesField(field, item, takeOver, Current(field.name) != nullptr))
                continue;
            if (field.kind == FieldKind::Text)
                String(field.name, item.*field.text, field.expandable ? cmdLineType : REG_SZ);
            else
                Dword(field.name, item.*field.integer);
        }
    }

private:
    const RegKey& key_;
    std::vector<RegKey::Value> current_;
};

void WriteItemValues(const RegKey& key, bool created, const TStartupItem& item)
{
    ItemKeyWriter writer(key, created);
    writer.Item(keldora::startup::StoredItemOf(item), writer.CurrentStringType("CmdLine"), /*takeOver=*/false);
}

// The store's key name of an item. A backslash would nest the key where the
// store never lists it, so each one is written "%5C" and the name stays one
// key; the "Desc" value keeps the name as it was. Names without a backslash
// are their own key names.
std::string ItemKeyName(std::string_view desc)
{
    return ReplaceAll("\\", "%5C", TrimCollapse(desc, '\\'));
}

// Reads one item key in a single listing of its values; false when a value
// has the wrong type, so that one damaged key costs only itself. Absent values
// leave their fields empty; a key without "Desc" is named by its key name, so
// that it can still be saved and deleted. A key holding nothing but subkeys
// is a folder of an older store that nested names with backslashes, not an
// item.
bool ReadItem(const RegKey& key, const std::string& keyName, TStartupItem& item)
{
    std::vector<RegKey::Value> values;
    if (key.Values(values) != ERROR_SUCCESS)
        return false;
    std::vector<std::string> subKeys;
    if (values.empty() && key.SubKeyNames(subKeys) == ERROR_SUCCESS && !subKeys.empty())
        return false;
    item.Desc = keyName;
    try {
        for (const RegKey::Value& value : values) {
            const ItemField* field = keldora::startup::FindItemField(value.name);
            if (field && field->kind == FieldKind::Text)
                field->readText(item, StringValue(value));
            else if (field)
                field->readInteger(item, IntegerValue(value));
        }
    } catch (const std::runtime_error&) {
        return false;
    }
    return true;
}

// A stored line may have been cut from a longer one that the Run key still
// holds; restoring must not shorten it. A line the user shortened is no cut
// of the native one and is written back as it is.
bool NativeValueSupersedes(const RegKey& key, std::string_view name, const TStartupItem& item)
{
    // A cut line fills the field but for a character that did not fit.
    if (Utf8PrefixLength(item.CmdLine.view(), ShortString::MaxLength - 2) == item.CmdLine.size())
        return false;
    RegKey::Value native;
    if (key.Query(name, native) != ERROR_SUCCESS || !IsStringType(native.type))
        return false;
    const std::string text = TrimUpTo(RegStringData(native.data), ' ');
    return text.size() > item.CmdLine.size() && ShortString(text) == item.CmdLine;
}

// What an item's key says about the entry it came from.
struct NativeEntry {
    std::string name;
    // Whether the name was recorded at take-over (stores written before
    // names were recorded have only Desc).
    bool recorded = false;
    DWORD cmdLineType = REG_SZ;
    std::optional<std::string> approval;
};

NativeEntry NativeEntryOf(const RegKey& itemKey, const TStartupItem& item)
{
    NativeEntry entry;
    entry.name = item.Desc.str();
    if (!itemKey)
        return entry;
    RegKey::Value value;
    if (itemKey.Query(kNameValue, value) == ERROR_SUCCESS && IsStringType(value.type)) {
        entry.name = RegStringData(value.data);
        entry.recorded = true;
    }
    if (itemKey.Query("CmdLine", value) == ERROR_SUCCESS && value.type == REG_EXPAND_SZ)
        entry.cmdLineType = REG_EXPAND_SZ;
    if (itemKey.Query(kApprovedValue, value) == ERROR_SUCCESS &&
        ApprovalOf(value.type == REG_BINARY, value.data) != TApproval::apNone)
        entry.approval = value.data;
    return entry;
}

// An entry of an older store whose name was never recorded may be in the key
// already under the name it really had (the unnamed value, named by its
// program in the store): writing it under its Desc would start it twice.
bool HeldUnderAnotherName(const std::vector<RegKey::Value>& values, const TStartupItem& item)
{
    for (const RegKey::Value& value : values) {
        if (IsStringType(value.type) && !SameText(value.name, item.Desc.view()) &&
            TrimUpTo(RegStringData(value.data), ' ') == item.CmdLine.view())
            return true;
    }
    return false;
}

} // namespace

struct TRegStartupMgr::TakeOverPass {
    explicit TakeOverPass(const TStpDesc& location) : lookups(SystemCmdLn()), approvals(location) {}
    MemoCmdLnSystem lookups;
    TApprovals approvals;
};

TRegStartupMgr::TRegStartupMgr(std::uint8_t location, REGSAM view) : TBaseStartupMgr(location, view)
{
    LoadItems();
}

std::size_t TRegStartupMgr::StoreWrites()
{
    return storeWrites;
}

REGSAM TRegStartupMgr::Access() const
{
    return FullAccess | FDesc.View;
}

// Full access where it is granted; else what an unelevated user may do, so
// that a machine-wide store is still listed.
RegKey TRegStartupMgr::OpenForListing(const std::string& path)
{
    LONG rc = ERROR_SUCCESS;
    RegKey key = RegKey::Open(FDesc.RootKey, path, Access(), &rc);
    if (rc == ERROR_ACCESS_DENIED)
        key = RegKey::Open(FDesc.RootKey, path, KEY_READ | FDesc.View, &rc);
    if (!key && rc != ERROR_FILE_NOT_FOUND)
        Note(FormatText("Unable to open \"%s\": %s", {ViewName() + RegistryPath(path), ErrorText(static_cast<DWORD>(rc))}));
    return key;
}

std::string TRegStartupMgr::ViewName() const
{
    const char* root = FDesc.RootKey == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
    const char* view = FDesc.View == KEY_WOW64_32KEY ? " (32-bit)" : FDesc.View == KEY_WOW64_64KEY ? " (64-bit)" : "";
    return std::string(root) + view + "\\";
}

std::string TRegStartupMgr::StoreKeyPath() const
{
    return AddBackslash(FDesc.Path) + StoreName;
}

std::string TRegStartupMgr::ItemKeyPath(std::string_view desc) const
{
    return StoreKeyPath() + "\\" + ItemKeyName(desc);
}

// An existing key is left as it was; making one counts as a write.
RegKey TRegStartupMgr::OpenItemKey(std::string_view desc, bool& created) const
{
    RegKey key = RegKey::Create(FDesc.RootKey, ItemKeyPath(desc), Access(), created);
    if (created)
        ++storeWrites;
    return key;
}

std::string TRegStartupMgr::FailureText(const char* format, const std::exception& e) const
{
    return FormatText(format, {FDesc.Path, e.what()});
}

void TRegStartupMgr::LoadItems()
{
    RunGuarded(
        [&] {
            RegKey store = OpenForListing(StoreKeyPath());
            if (!store)
                return;
            std::vector<std::string> names;
            Check(store.SubKeyNames(names), "Listing " + StoreKeyPath());
            for (const std::string& name : names) {
                RegKey key = OpenForListing(StoreKeyPath() + "\\" + name);
                TStartupItem read;
                if (key && ReadItem(key, name, read))
                    AppendItem(read);
            }
        },
        [](const std::exception& e) { return FormatText(LoadItemsErrorFormat, {e.what()}); });
}

// An elevated agent writes the user's keys with the user's rights only: a
// key the user made a link cannot lead its writes or deletes anywhere the
// user may not write.
bool TRegStartupMgr::IsUsersKey() const
{
    return FDesc.RootKey == HKEY_CURRENT_USER;
}

// Every administrator's agent writes the machine's stores: their writes take
// the machine's lock besides the user's.
std::optional<TStoreFileLock> TRegStartupMgr::MachineLock() const
{
    if (IsUsersKey())
        return std::nullopt;
    return MachineStoresLock();
}

bool TRegStartupMgr::SetupItems()
{
    return RunGuarded(
        [&] {
            TStoreWrite write(IsUsersKey());
            write.LockMachine();
            RegKey key = RegKey::Open(FDesc.RootKey, FDesc.Path, Access());
            if (!key)
                return false;
            std::vector<RegKey::Value> values;
            Check(key.Values(values), "Listing " + FDesc.Path);
            if (values.empty() || (values.size() == 1 && values[0].name == StoreName))
                return false;
            const TakeOverPass pass(FDesc);
            FPass = &pass;
            struct PassEnd {
                const TakeOverPass*& pass;
                ~PassEnd() { pass = nullptr; }
            } passEnd{FPass};
            for (std::size_t n = 0; n < values.size(); ++n) {
                const RegKey::Value& value = values[n];
                if (value.name == StoreName)
                    continue;
                // The record cannot hold a longer name, and a cut one would
                // come back as a second entry.
                if (ShortString(value.name).size() != value.name.size()) {
                    Note(FormatText("Startup entry \"%s...\" in \"%s\" has a name longer than 255 characters; it is "
                                    "left where it is.",
                                    {ShortString(value.name).str(), ViewName() + RegistryPath(FDesc.Path)}));
                    continue;
                }
                const bool isText = IsStringType(value.type);
                if (!isText)
                    Note(FormatText("Startup entry \"%s\" in \"%s\" is not a text value; it is left where it is.",
                                    {value.name, ViewName() + RegistryPath(FDesc.Path)}));
                const std::string cmdLine = isText ? TrimUpTo(RegStringData(value.data), ' ') : std::string();
                ImportValue(value.name, cmdLine, static_cast<int>(n), value.type);
            }
            return true;
        },
        [&](const std::exception& e) { return FailureText(SetupError, e); });
}

bool TRegStartupMgr::ImportValue(const std::string& name, const std::string& cmdLine, int n, DWORD type)
{
    return RunGuarded(
        [&] {
            if (cmdLine.empty())
                return false;
            TStartupItem item;
            item.Desc = name;
            item.CmdLine = cmdLine;
            const CmdLnSystem& system = FPass ? static_cast<const CmdLnSystem&>(FPass->lookups) : SystemCmdLn();
            if (TrimUpTo(item.Desc.view(), ' ').empty()) {
                item.Desc = ExtractProgramPath(system, item.CmdLine.view());
                if (item.Desc.empty())
                    item.Desc = "app" + std::to_string(n);
            }
            // A name of backslashes alone would address the store key itself.
            const std::string keyName = ItemKeyName(item.Desc.view());
            if (keyName.empty())
                return false;
            bool created = false;
            const RegKey key = OpenItemKey(item.Desc.view(), created);
            if (!key)
                return false;
            ItemKeyWriter writer(key, created);
            const DWORD cmdLineType = IsStringType(type) ? type : REG_SZ;
            const RegKey::Value* stored = writer.Current("CmdLine");
            const RegKey::Value* icon = writer.Current("Icon");
            // Working the icon out again searches the file system. It follows
            // a changed line; an icon whose file is missing (its program may
            // have been installed since) is looked at once in this manager's life.
            const bool sameLine =
                stored && stored->type == cmdLineType && RegStringData(stored->data) == item.CmdLine.view();
            if (sameLine && icon && IsStringType(icon->type) &&
                (FIconLooked.count(keyName) || FileExists(RegStringData(icon->data))))
                item.Icon = RegStringData(icon->data);
            else
                item.Icon = ExtractProgramFile(system, cmdLine);
            FIconLooked.insert(keyName);
            const std::string now = keldora::startup::TakeOverTimeNow();
            StoredItem entry = keldora::startup::TakenOverItem(item.Desc.view(), item.CmdLine.view(),
                                                               item.Icon.view(), FDesc.Location, n, now);
            // A choice made in Task Manager that this store has not seen yet
            // is the user's latest word on the entry.
            const std::optional<std::string> approval = FPass ? FPass->approvals.Find(name) : std::nullopt;
            const RegKey::Value* seen = writer.Current(kApprovedValue);
            const bool newChoice = approval && !(seen && seen->type == REG_BINARY && seen->data == *approval);
            if (newChoice)
                entry.enable = ApprovalOf(/*binary=*/true, *approval) == TApproval::apDisabled ? 0 : 1;
            writer.Item(entry, cmdLineType, /*takeOver=*/true);
            if (newChoice) {
                writer.Dword("Enable", entry.enable);
                writer.Binary(kApprovedValue, *approval);
            }
            writer.String(kNameValue, name);
            return true;
        },
        [&](const std::exception& e) { return FailureText(SaveError, e); });
}

bool TRegStartupMgr::RestoreItems()
{
    return RunGuarded(
        [&] {
            TStoreWrite write(IsUsersKey());
            write.LockMachine();
            RegKey key = RegKey::Open(FDesc.RootKey, FDesc.Path, Access());
            if (!key)
                return false;
            std::vector<RegKey::Value> present;
            Check(key.Values(present), "Listing " + FDesc.Path);
            for (const auto& item : FItems) {
                if (item->CmdLine.empty() || ItemKeyName(item->Desc.view()).empty())
                    continue;
                const NativeEntry native =
                    NativeEntryOf(RegKey::Open(FDesc.RootKey, ItemKeyPath(item->Desc.view()), KEY_READ | FDesc.View),
                                  *item);
                if (!native.recorded && HeldUnderAnotherName(present, *item))
                    continue;
                if (!NativeValueSupersedes(key, native.name, *item)) {
                    Check(key.WriteString(native.name, item->CmdLine.view(), native.cmdLineType),
                          "Writing " + native.name);
                    ++storeWrites;
                }
                if (native.approval && !WriteApproval(FDesc, native.name, *native.approval))
                    Note(FormatText("Task Manager's choice for \"%s\" could not be written back.", {native.name}));
            }
            return true;
        },
        [&](const std::exception& e) { return FailureText(RestoreError, e); });
}

bool TRegStartupMgr::DeleteItem(int index)
{
    return RunGuarded(
        [&] {
            TStoreWrite write(IsUsersKey());
            write.LockMachine();
            const std::string_view desc = Items(index)->Desc.view();
            const std::string path = ItemKeyPath(desc);
            if (ItemKeyName(desc).empty() || !RegKey::Open(FDesc.RootKey, path, Access()))
                return false;
            return RegKey::DeleteKey(FDesc.RootKey, path, FDesc.View) == ERROR_SUCCESS;
        },
        [&](const std::exception& e) { return FailureText(DeleteError, e); });
}

bool TRegStartupMgr::StoreItem(TStartupItem& item)
{
    const TStoreLock lock;
    std::optional<TStoreFileLock> machineLock;
    RunGuarded(
        [&] {
            lock.Require();
            machineLock = MachineLock();
        },
        [&](const std::exception& e) { return FailureText(SaveError, e); });
    return ImportValue(item.Desc.str(), item.CmdLine.str(), Count() + 1);
}

bool TRegStartupMgr::SaveItems()
{
    return RunGuarded(
        [&] {
            TStoreWrite write(IsUsersKey());
            write.LockMachine();
            for (const auto& item : FItems) {
                if (ItemKeyName(item->Desc.view()).empty())
                    return false;
                bool created = false;
                const RegKey key = OpenItemKey(item->Desc.view(), created);
                if (!key)
                    return false;
                WriteItemValues(key, created, *item);
            }
            return true;
        },
        [&](const std::exception& e) { return FailureText(SaveError, e); });
}
