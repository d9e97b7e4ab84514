#include "FileInfo.h"

#include "winutil/WideText.h"

#include <shellapi.h>

#include <cwchar>
#include <iterator>

TFileInfoRecord TFileInfo::GetInfo(int kind) const
{
    UINT flags = SHGFI_ICON | SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ATTRIBUTES;
    if (kind == kLargeIcon)
        flags |= SHGFI_LARGEICON;
    else if (kind == kOpenIcon)
        flags |= SHGFI_OPENICON;
    else
        flags |= SHGFI_SMALLICON;
    SHFILEINFOW info = {};
    TFileInfoRecord record;
    if (!SHGetFileInfoW(WideFromUtf8(FFileName).c_str(), 0, &info, sizeof info, flags))
        return record;
    record.icon.reset(info.hIcon);
    record.iconIndex = info.iIcon;
    record.attributes = info.dwAttributes;
    record.displayName =
        Utf8FromWide(std::wstring_view(info.szDisplayName, wcsnlen(info.szDisplayName, std::size(info.szDisplayName))));
    record.typeName =
        Utf8FromWide(std::wstring_view(info.szTypeName, wcsnlen(info.szTypeName, std::size(info.szTypeName))));
    return record;
}
