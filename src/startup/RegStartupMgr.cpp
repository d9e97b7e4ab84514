#include "RegStartupMgr.h"

#include "common/CmdLnSystem.h"
#include "common/CmdLnUtils.h"
#include "common/Format.h"
#include "common/StrCon.h"
#include "winutil/ErrorText.h"
#include "winutil/RegKey.h"

#include <cstring>

namespace {

constexpr REGSAM FullAccess = KEY_ALL_ACCESS;

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

void WriteItemValues(const RegKey& key, const TStartupItem& item)
{
    Check(key.WriteString("Desc", item.Desc.view()), "Writing Desc");
    Check(key.WriteString("CmdLine", item.CmdLine.view()), "Writing CmdLine");
    Check(key.WriteString("Icon", item.Icon.view()), "Writing Icon");
    Check(key.WriteDword("DelayTime", static_cast<DWORD>(item.DelayTime)), "Writing DelayTime");
    Check(key.WriteDword("Enable", item.Enable ? 1 : 0), "Writing Enable");
    Check(key.WriteDword("Order", static_cast<DWORD>(item.Order)), "Writing Order");
}

// Reads one item key in a single listing of its values; false when it holds
// no usable entry (no command line, or a value of the wrong type), so that one
// damaged key costs only itself.
bool ReadItem(const RegKey& key, TStartupItem& item)
{
    std::vector<RegKey::Value> values;
    if (key.Values(values) != ERROR_SUCCESS)
        return false;
    bool hasCmdLine = false;
    try {
        for (const RegKey::Value& value : values) {
            if (SameText(value.name, "CmdLine")) {
                item.CmdLine = StringValue(value);
                hasCmdLine = true;
            } else if (SameText(value.name, "Desc")) {
                item.Desc = StringValue(value);
            } else if (SameText(value.name, "Icon")) {
                item.Icon = StringValue(value);
            } else if (SameText(value.name, "DelayTime")) {
                item.DelayTime = IntegerValue(value);
            } else if (SameText(value.name, "Enable")) {
                item.Enable = IntegerValue(value) != 0;
            } else if (SameText(value.name, "Order")) {
                item.Order = IntegerValue(value);
            }
        }
    } catch (const std::runtime_error&) {
        return false;
    }
    return hasCmdLine;
}

// The Run key may hold a longer command line than the store's cut copy, and
// may hold it as an expandable string: restoring must keep both. `type` is the
// native value's string type, or `storedType` when there is none.
bool NativeValueSupersedes(const RegKey& key, const TStartupItem& item, DWORD storedType, DWORD& type)
{
    RegKey::Value native;
    type = storedType;
    if (key.Query(item.Desc.view(), native) != ERROR_SUCCESS)
        return false;
    if (native.type != REG_SZ && native.type != REG_EXPAND_SZ)
        return false;
    type = native.type;
    const std::string text = TrimUpTo(RegStringData(native.data), ' ');
    return text.size() > item.CmdLine.size() && text.compare(0, item.CmdLine.size(), item.CmdLine.view()) == 0;
}

} // namespace

TRegStartupMgr::TRegStartupMgr(std::uint8_t location, REGSAM view) : TBaseStartupMgr(location, view)
{
    LoadItems();
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
    return StoreKeyPath() + "\\" + TrimCollapse(desc, '\\');
}

DWORD TRegStartupMgr::StoredCmdLineType(std::string_view desc) const
{
    RegKey::Value stored;
    const RegKey key = RegKey::Open(FDesc.RootKey, ItemKeyPath(desc), KEY_READ | FDesc.View);
    return key && key.Query("CmdLine", stored) == ERROR_SUCCESS && stored.type == REG_EXPAND_SZ ? REG_EXPAND_SZ
                                                                                               : REG_SZ;
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
            store = RegKey();
            for (const std::string& name : names) {
                RegKey key = OpenForListing(StoreKeyPath() + "\\" + name);
                TStartupItem read;
                if (key && ReadItem(key, read))
                    AppendItem(read);
            }
        },
        [](const std::exception& e) { return FormatText(LoadItemsErrorFormat, {e.what()}); });
}

bool TRegStartupMgr::SetupItems()
{
    return RunGuarded(
        [&] {
            RegKey key = RegKey::Open(FDesc.RootKey, FDesc.Path, Access());
            if (!key)
                return false;
            std::vector<RegKey::Value> values;
            Check(key.Values(values), "Listing " + FDesc.Path);
            if (values.empty() || (values.size() == 1 && values[0].name == StoreName))
                return false;
            for (std::size_t n = 0; n < values.size(); ++n) {
                const RegKey::Value& value = values[n];
                if (value.name == StoreName)
                    continue;
                const bool isText = value.type == REG_SZ || value.type == REG_EXPAND_SZ;
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
            const CmdLnSystem& system = SystemCmdLn();
            item.Icon = ExtractProgramFile(system, cmdLine);
            if (TrimUpTo(item.Desc.view(), ' ').empty()) {
                item.Desc = ExtractProgramPath(system, item.CmdLine.view());
                if (item.Desc.empty())
                    item.Desc = "app" + std::to_string(n);
            }
            // A name of backslashes alone would address the store key itself.
            if (TrimCollapse(item.Desc.view(), '\\').empty())
                return false;
            LONG rc = ERROR_SUCCESS;
            RegKey key = RegKey::Create(FDesc.RootKey, ItemKeyPath(item.Desc.view()), Access(), &rc);
            if (!key)
                return false;
            Check(key.WriteString("Desc", item.Desc.view()), "Writing Desc");
            Check(key.WriteString("CmdLine", item.CmdLine.view(), type), "Writing CmdLine");
            Check(key.WriteString("Icon", item.Icon.view()), "Writing Icon");
            if (!key.HasValue("DelayTime"))
                Check(key.WriteDword("DelayTime", 0), "Writing DelayTime");
            if (!key.HasValue("Enable"))
                Check(key.WriteDword("Enable", 1), "Writing Enable");
            if (!key.HasValue("Order"))
                Check(key.WriteDword("Order", static_cast<DWORD>(FDesc.Location * 10 + n)), "Writing Order");
            return true;
        },
        [&](const std::exception& e) { return FailureText(SaveError, e); });
}

bool TRegStartupMgr::RestoreItems()
{
    return RunGuarded(
        [&] {
            RegKey key = RegKey::Open(FDesc.RootKey, FDesc.Path, Access());
            if (!key)
                return false;
            for (const auto& item : FItems) {
                // An empty name would overwrite the key's unnamed value with nothing useful.
                if (item->Desc.empty() || item->CmdLine.empty())
                    continue;
                DWORD type = REG_SZ;
                if (NativeValueSupersedes(key, *item, StoredCmdLineType(item->Desc.view()), type))
                    continue;
                Check(key.WriteString(item->Desc.view(), item->CmdLine.view(), type), "Writing " + item->Desc.str());
            }
            return true;
        },
        [&](const std::exception& e) { return FailureText(RestoreError, e); });
}

bool TRegStartupMgr::DeleteItem(int index)
{
    return RunGuarded(
        [&] {
            const std::string path = ItemKeyPath(Items(index)->Desc.view());
            if (TrimCollapse(Items(index)->Desc.view(), '\\').empty() || !RegKey::Open(FDesc.RootKey, path, Access()))
                return false;
            return RegKey::DeleteKey(FDesc.RootKey, path, FDesc.View) == ERROR_SUCCESS;
        },
        [&](const std::exception& e) { return FailureText(DeleteError, e); });
}

bool TRegStartupMgr::StoreItem(TStartupItem& item)
{
    return ImportValue(item.Desc.str(), item.CmdLine.str(), Count() + 1);
}

bool TRegStartupMgr::SaveItems()
{
    return RunGuarded(
        [&] {
            for (const auto& item : FItems) {
                if (TrimCollapse(item->Desc.view(), '\\').empty())
                    return false;
                RegKey key = RegKey::Create(FDesc.RootKey, ItemKeyPath(item->Desc.view()), Access());
                if (!key)
                    return false;
                WriteItemValues(key, *item);
            }
            return true;
        },
        [&](const std::exception& e) { return FailureText(SaveError, e); });
}
