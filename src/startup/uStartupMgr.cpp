#include "uStartupMgr.h"

#include "core/Assert.h"
#include "core/StrCon.h"
#include "common/SystemFacts.h"
#include "common/AppPaths.h"
#include "core/Utf8.h"
#include "winutil/WideText.h"
#include "winutil/UniqueShell.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <utility>

const char* const StartupRunKeyPaths[4] = {
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\Run",
    "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\Load",
};

const char* const StartupLocationCaptions[StartupLocationCount] = {
    "All User - Registry Run key",
    "Current User - Registry Run key",
    "All User - Registry RunServices key",
    "Current User - Registry RunServices key",
    "All User - Registry Windows NT Run key",
    "Current User - Registry Windows NT Run key",
    "All User - Registry Windows NT Load key",
    "Current User - Registry Windows NT Load key",
    "All User - Startup Folder",
    "Current User - Startup Folder",
};

const char* const LoadItemsErrorFormat = "Unable to read startup programs info.\r\n Error Description:\"%s\"";

void ShortString::assign(std::string_view text)
{
    length_ = static_cast<std::uint16_t>(std::min(Utf8PrefixLength(text, MaxLength), MaxBytes));
    memcpy(chars_, text.data(), length_);
}

bool IsFolderLocation(std::uint8_t location)
{
    return location == AllUsersStartupFolder || location == UserStartupFolder;
}

std::string GetSpecialFolderPath(int folder)
{
    UniqueItemIdList list;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folder, list.put())) || !list)
        return {};
    wchar_t path[MAX_PATH + 1] = {};
    return SHGetPathFromIDListW(list.get(), path) ? Utf8FromWide(path) : std::string();
}

std::string GetLegacyCommonStartupPath()
{
    const std::string userStartup = RemoveBackslash(GetSpecialFolderPath(CSIDL_STARTUP));
    const std::string name = TextAfterLast("\\", userStartup);
    const std::string windows = GetWindowsDir();
    if (name.empty() || windows.empty())
        return {};
    return AddBackslash(windows) + "All Users\\Start Menu\\Programs\\" + name;
}

namespace {

// The NT family has had a common Startup folder of its own since NT 4; the
// built 9x path does not exist there (NT 5.2 and later least of all).
std::string AllUsersStartupPath()
{
    if (GetWindowsVersionFacts().nt) {
        std::string common = GetSpecialFolderPath(CSIDL_COMMON_STARTUP);
        if (!common.empty())
            return common;
    }
    return GetLegacyCommonStartupPath();
}

} // namespace

bool IsMachineLocation(std::uint8_t location)
{
    return location % 2 == 0;
}

std::vector<REGSAM> LocationViews(std::uint8_t location)
{
    if (IsFolderLocation(location) || !IsMachineLocation(location) || !Is64BitWindows())
        return {0};
    return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
}

TStpDesc GetStpDesc(std::uint8_t location, REGSAM view)
{
    Check(location < StartupLocationCount, "Startup location out of range", "uStartupMgr");
    TStpDesc desc;
    desc.Location = location;
    if (location == AllUsersStartupFolder) {
        desc.Path = AllUsersStartupPath();
    } else if (location == UserStartupFolder) {
        desc.Path = GetSpecialFolderPath(CSIDL_STARTUP);
    } else {
        desc.RootKey = location % 2 == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        desc.Path = StartupRunKeyPaths[location / 2];
        desc.View = view;
    }
    return desc;
}

TBaseStartupMgr::TBaseStartupMgr(std::uint8_t location, REGSAM view) : FDesc(GetStpDesc(location, view)) {}

std::vector<std::string> TBaseStartupMgr::TakeNotes()
{
    return std::exchange(FNotes, {});
}

void TBaseStartupMgr::Note(const std::string& text)
{
    if (FNoted.insert(text).second)
        FNotes.push_back(text);
}

void TBaseStartupMgr::LoadItems()
{
    throw EAbstractError();
}

bool TBaseStartupMgr::SetupItems()
{
    throw EAbstractError();
}

bool TBaseStartupMgr::RestoreItems()
{
    throw EAbstractError();
}

bool TBaseStartupMgr::DeleteItem(int)
{
    throw EAbstractError();
}

bool TBaseStartupMgr::StoreItem(TStartupItem&)
{
    throw EAbstractError();
}

bool TBaseStartupMgr::SaveItems()
{
    throw EAbstractError();
}

PStartupItem TBaseStartupMgr::Items(int index) const
{
    Check(index >= 0 && index < Count(), "Item index out of range", "uStartupMgr");
    return FItems[index].get();
}

bool TBaseStartupMgr::Reload()
{
    ClearItems();
    LoadItems();
    return true;
}

bool TBaseStartupMgr::AddItem(TStartupItem item)
{
    if (!StoreItem(item))
        return false;
    Reload();
    return true;
}

TStartupItem& TBaseStartupMgr::AppendItem(const TStartupItem& item)
{
    FItems.push_back(std::make_unique<TStartupItem>(item));
    TStartupItem& added = *FItems.back();
    added.Owner = this;
    added.Location = FDesc.Location;
    return added;
}
