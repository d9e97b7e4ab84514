#include "common/WineSupport.h"

#include "core/StrCon.h"
#include "startup/uStartupMgr.h"
#include "winutil/FindFiles.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <sstream>
#include <type_traits>

static_assert(std::is_trivially_copyable_v<TStartupItem>, "items are copied and freed as one block");

TEST(StartupLocations, RegistryLocationsAlternateMachineAndUser)
{
    const char* const paths[] = {
        "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
        "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
        "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\Run",
        "\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\Load",
    };
    for (std::uint8_t i = 0; i < 8; ++i) {
        const TStpDesc desc = GetStpDesc(i);
        EXPECT_EQ(desc.Location, i);
        EXPECT_EQ(desc.RootKey, i % 2 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE) << int(i);
        EXPECT_EQ(desc.Path, paths[i / 2]) << int(i);
    }
    EXPECT_STREQ(StartupLocationCaptions[3], "Current User - Registry RunServices key");
    EXPECT_STREQ(StartupLocationCaptions[8], "All User - Startup Folder");
}

TEST(StartupLocations, FoldersAreTheShellsStartupFolders)
{
    const TStpDesc user = GetStpDesc(UserStartupFolder);
    EXPECT_EQ(user.RootKey, nullptr);
    EXPECT_TRUE(DirectoryExists(user.Path)) << user.Path;
    EXPECT_NE(user.Path.back(), '\\');
    EXPECT_EQ(TextAfterLast("\\", user.Path), "StartUp");

    // This prefix reports an NT version the classification does not know; the
    // all-users folder must still be the real common Startup folder.
    const TStpDesc common = GetStpDesc(AllUsersStartupFolder);
    EXPECT_TRUE(DirectoryExists(common.Path)) << common.Path;
    EXPECT_NE(common.Path, user.Path);
    EXPECT_EQ(common.Path, GetSpecialFolderPath(CSIDL_COMMON_STARTUP));
}

TEST(StartupLocations, AllUsersFolderPerWindowsFamily)
{
    auto probe = [](const char* version) {
        WineVersionScope scope(version);
        std::istringstream lines(RunAndCapture("probe_system.exe"));
        std::string kind, v51, allUsers, user;
        std::getline(lines, kind);
        std::getline(lines, v51);
        std::getline(lines, allUsers);
        std::getline(lines, user);
        return std::make_pair(TrimUpTo(allUsers, ' '), TrimUpTo(user, ' '));
    };
    const std::string common = GetSpecialFolderPath(CSIDL_COMMON_STARTUP);
    EXPECT_EQ(probe("winxp").first, common);
    EXPECT_EQ(probe("win2003").first, common);
    EXPECT_EQ(probe("win10").first, common);

    const auto [legacy, user] = probe("win98");
    EXPECT_TRUE(SameText(legacy, "C:\\windows\\All Users\\Start Menu\\Programs\\" + TextAfterLast("\\", user)))
        << legacy;
}

TEST(StartupItem, TextFieldsAreCutNeverOverrun)
{
    TStartupItem item;
    EXPECT_TRUE(item.Desc.empty());
    EXPECT_EQ(item.DelayTime, 0);
    EXPECT_FALSE(item.Enable);
    EXPECT_EQ(item.Owner, nullptr);

    const std::string longLine = "C:\\" + std::string(297, 'a');
    item.CmdLine = longLine;
    EXPECT_EQ(item.CmdLine.size(), 255u);
    EXPECT_EQ(item.CmdLine.str(), longLine.substr(0, 255));

    item.Desc = std::string(255, 'b');
    EXPECT_EQ(item.Desc.size(), 255u);
    item.Icon = "\xC7\xE0\xEF\xF3\xF1\xEA";  // high bytes are ordinary text
    EXPECT_EQ(item.Icon.str(), "\xC7\xE0\xEF\xF3\xF1\xEA");

    TStartupItem copy = item;
    item.CmdLine = "";
    EXPECT_EQ(copy.CmdLine.str(), longLine.substr(0, 255));
    EXPECT_TRUE(item.CmdLine.empty());
}
