#include "agent/FileInfoManager.h"

#include "AgentTestSupport.h"
#include "common/ScratchFolder.h"
#include "startup/StartupTestSupport.h"
#include "common/FileInfo.h"
#include "common/AppPaths.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::string SystemFile(const char* name)
{
    return GetWindowsDir() + "\\system32\\" + name;
}

std::vector<BYTE> Pixels(HIMAGELIST list, int index)
{
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = 16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    UniqueGdiObject bitmap(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const HGDIOBJ old = SelectObject(dc, bitmap.get());
    ImageList_Draw(list, index, dc, 0, 0, ILD_NORMAL);
    GdiFlush();
    std::vector<BYTE> pixels(static_cast<BYTE*>(bits), static_cast<BYTE*>(bits) + 16 * 16 * 4);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Read as the agent's icon worker reads, stored as its window's thread stores.
int Add(TFileInfoManager& cache, std::string_view text)
{
    const auto known = cache.KnownStamps(text);
    return cache.Store(text, TFileInfoManager::ReadIcons(text, known ? &*known : nullptr));
}

} // namespace

TEST(FileInfoManager, IconTextWithIndexTakesThatIcon)
{
    TFileInfoManager cache;
    const std::string shell32 = SystemFile("shell32.dll");
    EXPECT_EQ(Add(cache, shell32), 0);
    EXPECT_EQ(Add(cache, shell32 + ",2"), 1);
    EXPECT_EQ(Add(cache, "  \"" + shell32 + "\",2"), 2) << "quotes and blanks around the file";
    EXPECT_NE(Pixels(cache.SmallImages(), 0), Pixels(cache.SmallImages(), 1));
    EXPECT_EQ(Pixels(cache.SmallImages(), 1), Pixels(cache.SmallImages(), 2));
    EXPECT_EQ(ImageList_GetImageCount(cache.LargeImages()), 3);
}

TEST(FileInfoManager, DocumentGetsItsShellIconAndNothingGivesMinusOne)
{
    ScratchFolder dir("kdagent-");
    WriteFile(dir.PathOf("notes.txt"), "text");
    TFileInfoManager cache;
    EXPECT_EQ(Add(cache, dir.PathOf("notes.txt")), 0);
    EXPECT_EQ(Add(cache, dir.PathOf("missing.exe")), -1);
    EXPECT_EQ(Add(cache, ""), -1);
    EXPECT_EQ(Add(cache, "\"\""), -1);
    EXPECT_EQ(ImageList_GetImageCount(cache.SmallImages()), 1);
    EXPECT_EQ(ImageList_GetImageCount(cache.LargeImages()), 1) << "the two lists stay in step";
    cache.Clear();
    EXPECT_EQ(Add(cache, SystemFile("shell32.dll")), 0) << "after Clear the first icon has index 0";
}

TEST(FileInfoManager, FileInfoGivesShellIconsTheCallerOwns)
{
    const TFileInfo info(SystemFile("notepad.exe"));
    const TFileInfoRecord large = info.GetInfo(TFileInfo::kLargeIcon);
    const TFileInfoRecord small = info.GetInfo(TFileInfo::kSmallIcon);
    EXPECT_TRUE(large.icon);
    EXPECT_TRUE(small.icon);
    EXPECT_FALSE(large.displayName.empty());
    EXPECT_FALSE(TFileInfo("C:\\no\\such\\file.exe").GetInfo(TFileInfo::kLargeIcon).icon);
}

TEST(FileInfoManager, HundredRebuildsLeakNoGdiObjects)
{
    ScratchFolder dir("kdagent-");
    WriteFile(dir.PathOf("notes.txt"), "text");
    TFileInfoManager cache;
    const std::vector<std::string> texts = {SystemFile("shell32.dll") + ",3", SystemFile("notepad.exe"),
                                            dir.PathOf("notes.txt"), dir.PathOf("missing.exe")};
    auto rebuild = [&] {
        cache.Clear();
        for (const std::string& text : texts)
            Add(cache, text);
    };
    rebuild();
    const int before = CountGdiObjects();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 100; ++i)
        rebuild();
    EXPECT_LE(CountGdiObjects(), before + 2);
}

TEST(FileInfoManager, RebuildsShowWhatTheFilesHoldNow)
{
    ScratchFolder dir("kdagent-");
    const std::string program = dir.PathOf("tool.exe");
    ASSERT_TRUE(CopyFileW(WideFromUtf8(SystemFile("notepad.exe")).c_str(), WideFromUtf8(program).c_str(), FALSE));
    const std::string shell32 = SystemFile("shell32.dll") + ",3";
    TFileInfoManager cache;
    auto rebuild = [&](const std::vector<std::string>& texts) {
        cache.BeginRebuild(texts);
        std::vector<int> indices;
        for (const std::string& text : texts)
            indices.push_back(Add(cache, text));
        return indices;
    };
    const std::vector<std::string> texts = {program, shell32, dir.PathOf("missing.exe"), program};
    const std::vector<int> first = rebuild(texts);
    EXPECT_EQ(first, (std::vector<int>{0, 1, -1, 0}));
    const std::vector<BYTE> notepadPicture = Pixels(cache.SmallImages(), 0);
    EXPECT_EQ(rebuild(texts), first);
    EXPECT_EQ(ImageList_GetImageCount(cache.SmallImages()), 2);

    // The file changed under the same name: its new picture, at the same place.
    ASSERT_TRUE(CopyFileW(WideFromUtf8(SystemFile("winemine.exe")).c_str(), WideFromUtf8(program).c_str(), FALSE));
    EXPECT_EQ(rebuild(texts), first);
    EXPECT_NE(Pixels(cache.SmallImages(), 0), notepadPicture);
    EXPECT_EQ(ImageList_GetImageCount(cache.LargeImages()), 2);

    // An entry gone from the menu takes its picture with it.
    EXPECT_EQ(rebuild({shell32}), (std::vector<int>{0}));
    EXPECT_EQ(ImageList_GetImageCount(cache.SmallImages()), 1);
    DeleteFileW(WideFromUtf8(program).c_str());
    EXPECT_EQ(rebuild({program, shell32}), (std::vector<int>{-1, 0}));
}
