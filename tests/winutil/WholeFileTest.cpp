#include "winutil/WholeFile.h"

#include "common/ScratchFolder.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

TEST(WholeFile, WritesAppendsAndReadsBytesAsTheyAre)
{
    const ScratchFolder scratch("kdWholeFile");
    const std::string path = scratch.PathOf("log.txt");
    const std::string bytes("a\r\nb\n\0\xFF", 7);

    EXPECT_FALSE(ReadWholeFile(path, 100));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(AppendToFile(path, bytes));
    ASSERT_TRUE(AppendToFile(path, "tail\n"));
    EXPECT_EQ(ReadWholeFile(path, 100), bytes + "tail\n");

    // Another writer keeps the file open, as a second program under test does.
    const UniqueFile other(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(other);
    ASSERT_TRUE(AppendToFile(path, "more"));
    EXPECT_EQ(ReadWholeFile(path, 100), bytes + "tail\nmore");

    EXPECT_FALSE(ReadWholeFile(path, bytes.size()));
    ASSERT_TRUE(WriteWholeFile(path, "new"));
    EXPECT_EQ(ReadWholeFile(path, 3), "new");
    ASSERT_TRUE(WriteWholeFile(path, ""));
    EXPECT_EQ(ReadWholeFile(path, 0), "");

    EXPECT_FALSE(AppendToFile(scratch.PathOf("missing\\log.txt"), "x"));
    EXPECT_FALSE(WriteWholeFile(scratch.PathOf("missing\\log.txt"), "x"));
}
