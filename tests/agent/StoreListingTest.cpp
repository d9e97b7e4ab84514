#include "agent/StoreListing.h"

#include <gtest/gtest.h>

TEST(StoreListing, LinesSplitBackIntoTheirFieldsWhateverTheTextHolds)
{
    const std::string header = ListingHeader();
    EXPECT_EQ(header, "Location\tCaption\tName\tCommand line\tEnabled\tDelay\tOrder\tTaken over\r\n");
    const TListedItem odd{9, "Current User - Startup Folder", "tab\there\\and\r\nline", "C:\\a b\\c.exe \"x\"",
                          true, -5, 93, ""};
    std::string line = ListingLine(odd);
    ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
    line.resize(line.size() - 2);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(ListingFields(line),
              (std::vector<std::string>{"9", odd.caption, odd.name, odd.cmdLine, "1", "-5", "93", "unknown"}));
    const TListedItem dated{1, "c", "Заметки", "x", false, 0, 14, "2026-12-09T15:20:00Z"};
    std::string second = ListingLine(dated);
    second.resize(second.size() - 2);
    EXPECT_EQ(ListingFields(second).back(), "2026-12-09T15:20:00Z");
    EXPECT_EQ(ListingFields(second)[4], "0");
}
