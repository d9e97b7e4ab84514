#include "updater/UpdaterRules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

TEST(UpdaterRules, OnlyTwoArgumentsUpdateAndOnlyAnExactSilentIsSilent)
{
    EXPECT_EQ(UpdaterModeOf({"/silent", "123"}), TUpdaterMode::umSilent);
    EXPECT_EQ(UpdaterModeOf({"/SILENT", "123"}), TUpdaterMode::umVisible);
    EXPECT_EQ(UpdaterModeOf({"-silent", "123"}), TUpdaterMode::umVisible);
    EXPECT_EQ(UpdaterModeOf({"update", ""}), TUpdaterMode::umVisible);
    EXPECT_EQ(UpdaterModeOf({}), TUpdaterMode::umLauncher);
    EXPECT_EQ(UpdaterModeOf({"/silent"}), TUpdaterMode::umLauncher);
    EXPECT_EQ(UpdaterModeOf({"/silent", "1", "2"}), TUpdaterMode::umLauncher);
}

TEST(UpdaterRules, WindowHandlesArePointerWideDecimals)
{
    EXPECT_EQ(ParseWindowHandle("0"), 0u);
    EXPECT_EQ(ParseWindowHandle("65748"), 65748u);
    EXPECT_EQ(ParseWindowHandle("-1"), std::numeric_limits<std::uintptr_t>::max()) << "sign-extended";
    constexpr auto largest = std::numeric_limits<std::uintptr_t>::max();
    EXPECT_EQ(ParseWindowHandle(std::to_string(largest)), largest);
    EXPECT_EQ(ParseWindowHandle(std::to_string(largest) + "0"), 0u);
    EXPECT_EQ(ParseWindowHandle(std::to_string(largest / 2 + 1).insert(0, "-")), largest / 2 + 1);
    EXPECT_EQ(ParseWindowHandle(std::to_string(largest / 2 + 2).insert(0, "-")), 0u);
    if constexpr (sizeof(std::uintptr_t) == 8)
        EXPECT_EQ(ParseWindowHandle("4294967296"), 4294967296u) << "above 32 bits";
    else
        EXPECT_EQ(ParseWindowHandle("4294967296"), 0u) << "does not fit";
    for (const char* bad : {"", "-", "abc", "12a", " 12", "12 ", "+12", "0x10", "--1", "1.5"})
        EXPECT_EQ(ParseWindowHandle(bad), 0u) << bad;
}

TEST(UpdaterRules, StatusTextNamesTheFileAndWholeKilobytes)
{
    EXPECT_EQ(DownloadStatusText("http://host/files/setup.exe", 4096000, 2048000),
              "Status: Downloading \"setup.exe\"... 2000 kb/ 4000 kb");
    EXPECT_EQ(DownloadStatusText("setup.exe", 1023, 1023), "Status: Downloading \"\"... 0 kb/ 0 kb");
    EXPECT_EQ(DownloadStatusText("http://host/", 6LL << 40, 1025), "Status: Downloading \"\"... 1 kb/ 6442450944 kb");
}
