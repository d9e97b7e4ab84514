#include "FileInfoManager.h"

#include "common/FileInfo.h"
#include "common/SystemFacts.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueShell.h"
#include "winutil/WideText.h"

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

TFileInfoManager::IconPair TFileInfoManager::FileIcons(std::string_view iconText)
{
    const IconSource source = ParseIconText(iconText);
    if (source.file.empty())
        return {};
    const QuietErrorMode quiet;
    HICON large = nullptr, small = nullptr;
    const UINT extracted = ExtractIconExW(WideFromUtf8(source.file).c_str(), source.index, &large, &small, 1);
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
        if (!path.empty() && GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &data))
            stamp = {true, data.ftLastWriteTime, data.nFileSizeLow, data.nFileSizeHigh};
        stamps.push_back(stamp);
    }
    return stamps;
}

TFileInfoManager::IconRead TFileInfoManager::ReadIcons(std::string_view iconText, const std::vector<FileStamp>* known)
{
    IconRead read;
    read.stamps = Stamps(iconText);
    read.changed = !known || *known != read.stamps;
    if (read.changed)
        read.icons = FileIcons(iconText);
    return read;
}

int TFileInfoManager::IndexOf(std::string_view iconText) const
{
    const auto known = FAdded.find(iconText);
    return known == FAdded.end() ? -1 : known->second.index;
}

std::optional<std::vector<TFileInfoManager::FileStamp>> TFileInfoManager::KnownStamps(std::string_view iconText) const
{
    const auto known = FAdded.find(iconText);
    if (known == FAdded.end())
        return std::nullopt;
    return known->second.stamps;
}

int TFileInfoManager::Store(std::string_view iconText, IconRead read)
{
    auto known = FAdded.find(iconText);
    // Read against stamps the lists no longer hold (emptied meanwhile): nothing to show.
    if (!read.changed)
        return known != FAdded.end() && known->second.stamps == read.stamps ? known->second.index : -1;
    if (known == FAdded.end())
        known = FAdded.emplace(std::string(iconText), Cached{}).first;
    Cached& cached = known->second;
    cached.stamps = std::move(read.stamps);
    if (cached.index < 0) {
        cached.index = AddPair(std::move(read.icons));
    } else if (!ReplacePair(std::move(read.icons), cached.index)) {
        cached.index = -1;
        FHasOrphans = true;
    }
    return cached.index;
}

TFileInfoManager& FileInfoManager()
{
    static TFileInfoManager manager;
    return manager;
}
