#pragma once
// The icons of files collected into two image lists, large and small, with
// the same index in both, so that a menu can show each program with its
// icon. The lists own copies of the icons; every icon handle taken from the
// system is destroyed as soon as it has been copied, so rebuilding the lists
// again and again leaks no GDI objects. Main thread only; nothing raises.
//
// The icons outlive one rebuild of a menu: a rebuild that names the same
// icon texts reads a file again only when its size or last-write time has
// changed, and so shows exactly what reading every file afresh would show.
#include <windows.h>
#include <commctrl.h>

#include "agent/IconText.h"
#include "winutil/UniqueShell.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

class TFileInfoManager {
public:
    TFileInfoManager();
    TFileInfoManager(const TFileInfoManager&) = delete;
    TFileInfoManager& operator=(const TFileInfoManager&) = delete;

    // Empties both lists.
    void Clear();
    // Starts a rebuild that will ask for these icon texts: the lists are
    // emptied when they hold a picture that none of them needs, so they
    // never grow beyond what one menu shows. Indices handed out before stay
    // valid until the next BeginRebuild or Clear.
    void BeginRebuild(const std::vector<std::string>& iconTexts);
    // Adds the icon named by an icon text ("file" or "file,index", quotes
    // allowed) and returns its index, or -1 when the text names no icon. The
    // same text again gives the same index, reading the file again only in
    // a new rebuild and only when it has changed.
    int AddIcon(std::string_view iconText);

    HIMAGELIST SmallImages() const { return FSmallImages.get(); }
    HIMAGELIST LargeImages() const { return FLargeImages.get(); }

private:
    struct IconPair {
        UniqueIcon large;
        UniqueIcon small;
    };
    // What a file looked like when its icon was read.
    struct FileStamp {
        bool exists = false;
        FILETIME written = {};
        DWORD sizeLow = 0;
        DWORD sizeHigh = 0;
        bool operator==(const FileStamp& other) const;
    };
    struct Cached {
        int index = -1;
        std::vector<FileStamp> stamps;
        unsigned rebuild = 0;
    };

    int AddPair(IconPair icons);
    bool ReplacePair(IconPair icons, int index);
    static IconPair ShellIcons(const std::string& path);
    static IconPair ReadIcons(std::string_view iconText);
    static std::vector<FileStamp> Stamps(std::string_view iconText);
    void Refresh(std::string_view iconText, Cached& cached);

    UniqueImageList FLargeImages;
    UniqueImageList FSmallImages;
    std::map<std::string, Cached, std::less<>> FAdded;
    unsigned FRebuild = 0;
    // A picture no cached text refers to any more; the next rebuild empties the lists.
    bool FHasOrphans = false;
};

// The one icon cache of the program.
TFileInfoManager& FileInfoManager();
