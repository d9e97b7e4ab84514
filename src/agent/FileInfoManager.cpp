#include "FileInfoManager.h"

#include "common/FileInfo.h"
#include "common/Utils.h"
#include "winutil/FindFiles.h"

#include <shellapi.h>

#include <climits>
namespace {

constexpr int kGrowBy = 4;

UniqueImageList NewImageList(int width, int height)
{
    const UINT colour = IsVersion51OrLater() ? ILC_COLOR32 : ILC_COLOR16;
    return UniqueImageList(ImageList_Create(width, height, ILC_MASK | colour, 0, kGrowBy));
}

} // namespace

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
}

// Both icons or neither, so an index means the same picture in both lists.
int TFileInfoManager::AddPair(UniqueIcon large, UniqueIcon small)
{
    if (!large || !small)
        return -1;
    const int largeIndex = ImageList_AddIcon(FLargeImages.get(), large.get());
    if (largeIndex < 0)
        return -1;
    const int smallIndex = ImageList_AddIcon(FSmallImages.get(), small.get());
    if (smallIndex != largeIndex) {
        ImageList_Remove(FLargeImages.get(), largeIndex);
        if (smallIndex >= 0)
            ImageList_Remove(FSmallImages.get(), smallIndex);
        return -1;
    }
    return smallIndex;
}

int TFileInfoManager::AddShellIcons(const std::string& path)
{
    if (path.empty() || !FileExists(path))
        return -1;
    const TFileInfo info(path);
    return AddPair(std::move(info.GetInfo(TFileInfo::kLargeIcon).icon),
                   std::move(info.GetInfo(TFileInfo::kSmallIcon).icon));
}

int TFileInfoManager::AddIcon(std::string_view iconText)
{
    const auto known = FAdded.find(iconText);
    if (known != FAdded.end())
        return known->second;
    const int index = ReadIcon(iconText);
    FAdded.emplace(std::string(iconText), index);
    return index;
}

int TFileInfoManager::ReadIcon(std::string_view iconText)
{
    const IconSource source = ParseIconText(iconText);
    if (source.file.empty())
        return -1;
    const QuietErrorMode quiet;
    UniqueIcon large, small;
    const UINT extracted = ExtractIconExA(source.file.c_str(), source.index, large.put(), small.put(), 1);
    int index = -1;
    if (extracted != 0 && extracted != UINT_MAX)
        index = AddPair(std::move(large), std::move(small));
    // Nothing, or only one of the two sizes: the shell's pictures of the file.
    if (index < 0)
        index = AddShellIcons(source.file);
    if (index >= 0)
        return index;
    const std::string whole = TrimIconText(iconText);
    return whole == source.file ? -1 : AddShellIcons(whole);
}

TFileInfoManager& FileInfoManager()
{
    static TFileInfoManager manager;
    return manager;
}
