#include "FileInfo.h"

#include <shellapi.h>

#include <cstring>

TFileInfoRecord TFileInfo::GetInfo(int kind) const
{
    UINT flags = SHGFI_ICON | SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_ATTRIBUTES;
    if (kind == kLargeIcon)
        flags |= SHGFI_LARGEICON;
    else if (kind == kOpenIcon)
        flags |= SHGFI_OPENICON;
    else
        flags |= SHGFI_SMALLICON;
    SHFILEINFOA info = {};
    TFileInfoRecord record;
    if (!SHGetFileInfoA(FFileName.c_str(), 0, &info, sizeof info, flags))
        return record;
    record.icon.reset(info.hIcon);
    record.iconIndex = info.iIcon;
    record.attributes = info.dwAttributes;
    record.displayName.assign(info.szDisplayName, strnlen(info.szDisplayName, sizeof info.szDisplayName));
    record.typeName.assign(info.szTypeName, strnlen(info.szTypeName, sizeof info.szTypeName));
    return record;
}
