#include "FileInfoManager.h"

#include "common/FileInfo.h"
#include "common/Utils.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueShell.h"

#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <set>

namespace {

constexpr int kGrowBy = 4;

UniqueImageList NewImageList(int width, int height)
{
    const UINT colour = IsVersion51OrLater() ? ILC_COLOR32 : ILC_COLOR16;
    return UniqueImageList(ImageList_Create(width, height, ILC_MASK | colour, 0, kGrowBy));
}

} // namespace

bool TFileInfoManager::FileStamp::operator==(const FileStamp& other) const
{
    return exists == other.exists && CompareFileTime(&written, &other.written) == 0 && sizeLow == other.sizeLow &&
           sizeHigh == other.sizeHigh;
}

TFileInfoManager::TFileInfoManager()
    : FLargeImages(NewImageList(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON))),
      FSmallImages(NewImageList(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)))
{
}

void TFileInfoManager::Clear()
{
    ImageList_RemoveAll(FLargeImages.get());
    ImageList_RemoveAll(FSmallImages.get());
    FAdded.clear();
    FHasOrphans = false;
}

void TFileInfoManager::BeginRebuild(const std::vector<std::string>& iconTexts)
{
    ++FRebuild;
    const std::set<std::string_view> needed(iconTexts.begin(), iconTexts.end());
    const bool unneeded =
        std::any_of(FAdded.begin(), FAdded.end(), [&](const auto& entry) { return !needed.count(entry.first); });
    if (unneeded || FHasOrphans)
        Clear();
}

// Both icons or neither, so an index means the same picture in both lists.
int TFileInfoManager::AddPair(IconPair icons)
{
    if (!icons.large || !icons.small)
        return -1;
    const int largeIndex = ImageList_AddIcon(FLargeImages.get(), icons.large.get());
    if (largeIndex < 0)
        return -1;
    const int smallIndex = ImageList_AddIcon(FSmallImages.get(), icons.small.get());
    if (smallIndex != largeIndex) {
        ImageList_Remove(FLargeImages.get(), largeIndex);
        if (smallIndex >= 0)
            ImageList_Remove(FSmallImages.get(), smallIndex);
        return -1;
    }
    return smallIndex;
}

bool TFileInfoManager::ReplacePair(IconPair icons, int index)
{
    return icons.large && icons.small && ImageList_ReplaceIcon(FLargeImages.get(), index, icons.large.get()) == index &&
           ImageList_ReplaceIcon(FSmallImages.get(), index, icons.small.get()) == index;
}

TFileInfoManager::IconPair TFileInfoManager::ShellIcons(const std::string& path)
{
    if (path.empty() || !FileExists(path))
        return {};
    const TFileInfo info(path);
    return {std::move(info.GetInfo(TFileInfo::kLargeIcon).icon), std::move(info.GetInfo(TFileInfo::kSmallIcon).icon)};
}

TFileInfoManager::IconPair TFileInfoManager::ReadIcons(std::string_view iconText)
{
    const IconSource source = ParseIconText(iconText);
    if (source.file.empty())
        return {};
    const QuietErrorMode quiet;
    HICON large = nullptr, small = nullptr;
    const UINT extracted = ExtractIconExA(source.file.c_str(), source.index, &large, &small, 1);
    IconPair icons;
    // Only an extraction that found icons hands them over: after a failure
    // the out-parameters may hold stale values (Wine copies an uninitialised
    // array), and destroying those could destroy some other live icon.
    if (extracted != 0 && extracted != UINT_MAX)
        icons = {UniqueIcon(large), UniqueIcon(small)};
    // Nothing, or only one of the two sizes: the shell's pictures of the file.
    if (!icons.large || !icons.small)
        icons = ShellIcons(source.file);
    if (icons.large && icons.small)
        return icons;
    const std::string whole = TrimIconText(iconText);
    return whole == source.file ? IconPair{} : ShellIcons(whole);
}

// The files an icon text may be read from: the file before the index, and
// the whole text when that names nothing.
std::vector<TFileInfoManager::FileStamp> TFileInfoManager::Stamps(std::string_view iconText)
{
    std::vector<FileStamp> stamps;
    for (const std::string& path : {ParseIconText(iconText).file, TrimIconText(iconText)}) {
        FileStamp stamp;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (!path.empty() && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
            stamp = {true, data.ftLastWriteTime, data.nFileSizeLow, data.nFileSizeHigh};
        stamps.push_back(stamp);
    }
    return stamps;
}

int TFileInfoManager::AddIcon(std::string_view iconText)
{
    const auto known = FAdded.find(iconText);
    if (known == FAdded.end()) {
        Cached cached{-1, Stamps(iconText), FRebuild};
        cached.index = AddPair(ReadIcons(iconText));
        return FAdded.emplace(std::string(iconText), std::move(cached)).first->second.index;
    }
    if (known->second.rebuild != FRebuild)
        Refresh(iconText, known->second);
    return known->second.index;
}

void TFileInfoManager::Refresh(std::string_view iconText, Cached& cached)
{
    cached.rebuild = FRebuild;
    std::vector<FileStamp> stamps = Stamps(iconText);
    if (stamps == cached.stamps)
        return;
    cached.stamps = std::move(stamps);
    IconPair icons = ReadIcons(iconText);
    if (cached.index < 0) {
        cached.index = AddPair(std::move(icons));
    } else if (!ReplacePair(std::move(icons), cached.index)) {
        cached.index = -1;
        FHasOrphans = true;
    }
}

TFileInfoManager& FileInfoManager()
{
    static TFileInfoManager manager;
    return manager;
}
