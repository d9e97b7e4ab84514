#pragma once
// The icons of files collected into two image lists, large and small, with
// the same index in both, so that a menu can show each program with its
// icon. The lists own copies of the icons; every icon handle taken from the
// system is destroyed as soon as it has been copied, so rebuilding the lists
// again and again leaks no GDI objects. Main thread only; nothing raises.
#include <windows.h>
#include <commctrl.h>

#include "agent/IconText.h"
#include "winutil/UniqueHandle.h"

#include <map>
#include <string>
#include <string_view>

class TFileInfoManager {
public:
    TFileInfoManager();
    TFileInfoManager(const TFileInfoManager&) = delete;
    TFileInfoManager& operator=(const TFileInfoManager&) = delete;

    // Empties both lists.
    void Clear();
    // Adds the icon named by an icon text ("file" or "file,index", quotes
    // allowed) and returns its index, or -1 when the text names no icon. The
    // same text again before the next Clear gives the same index without
    // reading the file again.
    int AddIcon(std::string_view iconText);

    HIMAGELIST SmallImages() const { return FSmallImages.get(); }
    HIMAGELIST LargeImages() const { return FLargeImages.get(); }

private:
    int AddPair(UniqueIcon large, UniqueIcon small);
    int AddShellIcons(const std::string& path);
    int ReadIcon(std::string_view iconText);

    UniqueImageList FLargeImages;
    UniqueImageList FSmallImages;
    std::map<std::string, int, std::less<>> FAdded;
};

// The one icon cache of the program.
TFileInfoManager& FileInfoManager();
