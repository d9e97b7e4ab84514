#pragma once
// The icons of files collected into two image lists, large and small, with
// the same index in both, so that a menu can show each program with its
// icon. The lists own copies of the icons; every icon handle taken from the
// system is destroyed as soon as it has been copied, so rebuilding the lists
// again and again leaks no GDI objects. Nothing raises.
//
// Reading a file (ReadIcons) may take long (a program on an unreachable
// network share) and runs on any thread, off the window's; everything else
// is for the window's thread. The icons outlive one rebuild of a menu: a
// file is read again only when its size or last-write time has changed
// (ReadIcons is handed the stamps of what the lists hold), and so the lists
// show exactly what reading every file afresh would show.
#include <windows.h>
#include <commctrl.h>

#include "agent/IconText.h"
#include "winutil/UniqueShell.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TFileInfoManager {
public:
    // What a file looked like when its icon was read.
    struct FileStamp {
        bool exists = false;
        FILETIME written = {};
        DWORD sizeLow = 0;
        DWORD sizeHigh = 0;
        bool operator==(const FileStamp& other) const;
    };
    struct IconPair {
        UniqueIcon large;
        UniqueIcon small;
    };
    // The files an icon text names, and their icons when they changed.
    struct IconRead {
        std::vector<FileStamp> stamps;
        // False: the files are as the stamps handed in say; no icon was read.
        bool changed = true;
        IconPair icons;
    };

    TFileInfoManager();
    TFileInfoManager(const TFileInfoManager&) = delete;
    TFileInfoManager& operator=(const TFileInfoManager&) = delete;

    // Any thread. The icon named by an icon text ("file" or "file,index",
    // quotes allowed), unless the files are as `known` says.
    static IconRead ReadIcons(std::string_view iconText, const std::vector<FileStamp>* known);

    // Empties both lists.
    void Clear();
    // Starts a rebuild that will ask for these icon texts: the lists are
    // emptied when they hold a picture that none of them needs, so they
    // never grow beyond what one menu shows. Indices handed out before stay
    // valid until the next BeginRebuild or Clear.
    void BeginRebuild(const std::vector<std::string>& iconTexts);
    // The index the lists hold for the text, -1 when none (yet); reads nothing.
    int IndexOf(std::string_view iconText) const;
    // The stamps to hand to ReadIcons; none when the text was never stored.
    std::optional<std::vector<FileStamp>> KnownStamps(std::string_view iconText) const;
    // Puts what was read for the text into the lists and returns its index,
    // or -1 when the text names no icon. Unchanged files keep their index.
    int Store(std::string_view iconText, IconRead read);

    HIMAGELIST SmallImages() const { return FSmallImages.get(); }
    HIMAGELIST LargeImages() const { return FLargeImages.get(); }

private:
    struct Cached {
        int index = -1;
        std::vector<FileStamp> stamps;
    };

    int AddPair(IconPair icons);
    bool ReplacePair(IconPair icons, int index);
    static IconPair ShellIcons(const std::string& path);
    static IconPair FileIcons(std::string_view iconText);
    static std::vector<FileStamp> Stamps(std::string_view iconText);

    UniqueImageList FLargeImages;
    UniqueImageList FSmallImages;
    std::map<std::string, Cached, std::less<>> FAdded;
    // A picture no cached text refers to any more; the next rebuild empties the lists.
    bool FHasOrphans = false;
};

// The one icon cache of the program.
TFileInfoManager& FileInfoManager();
