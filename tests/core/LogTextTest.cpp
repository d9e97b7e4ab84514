#include "core/LogText.h"

#include <gtest/gtest.h>

TEST(LogText, AppendsAndDropsTheOldestWholeLinesAtTheCap)
{
    EXPECT_EQ(AppendLogLine("", "first", 64), "first\r\n");
    EXPECT_EQ(AppendLogLine("first\r\n", "second", 64), "first\r\nsecond\r\n");
    const std::string full = "aaaa\r\nbbbb\r\n";  // 12 bytes
    EXPECT_EQ(AppendLogLine(full, "cccc", 11), "cccc\r\n") << "both old lines go, never half of one";
    EXPECT_EQ(AppendLogLine(full, "cc", 15), "bbbb\r\ncc\r\n");
    EXPECT_EQ(AppendLogLine("old\r\n", std::string(40, 'x'), 10), "xxxxxxxx\r\n") << "a long line is cut";
    std::string log;
    for (int i = 0; i < 5000; ++i)
        log = AppendLogLine(log, "line " + std::to_string(i), 1000);
    EXPECT_LE(log.size(), 1000u);
    EXPECT_EQ(log.rfind("line 4999\r\n"), log.size() - 11);
    EXPECT_EQ(log.compare(0, 5, "line "), 0);
}
