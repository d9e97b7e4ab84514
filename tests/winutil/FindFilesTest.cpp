#include "winutil/FindFiles.h"

#include "common/AppPaths.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(FindFiles, ListsEntriesWithoutDotsAndTestsExistence)
{
    const std::string dir = GetTempDir() + "kdFindFiles";
    CreateDirectoryW(WideFromUtf8(dir).c_str(), nullptr);
    CreateDirectoryW(WideFromUtf8(dir + "\\sub").c_str(), nullptr);
    CloseHandle(
        CreateFileW(WideFromUtf8(dir + "\\a b.lnk").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

    const auto found = FindFiles(dir + "\\*.*");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_TRUE(std::any_of(found.begin(), found.end(), [](const FoundFile& f) {
        return f.name == "sub" && (f.attributes & FILE_ATTRIBUTE_DIRECTORY);
    }));
    EXPECT_TRUE(PathExists(dir + "\\a b.lnk"));
    EXPECT_TRUE(PathExists(dir + "\\sub"));
    EXPECT_TRUE(PathExists(dir + "\\*.lnk"));
    EXPECT_FALSE(PathExists(dir + "\\*.exe"));
    EXPECT_FALSE(PathExists(""));
    EXPECT_TRUE(FileExists(dir + "\\a b.lnk"));
    EXPECT_FALSE(FileExists(dir + "\\sub"));
    EXPECT_TRUE(DirectoryExists(dir + "\\sub"));
    EXPECT_TRUE(FindFiles(dir + "\\nothing*").empty());

    DeleteFileW(WideFromUtf8(dir + "\\a b.lnk").c_str());
    RemoveDirectoryW(WideFromUtf8(dir + "\\sub").c_str());
    RemoveDirectoryW(WideFromUtf8(dir).c_str());
}
