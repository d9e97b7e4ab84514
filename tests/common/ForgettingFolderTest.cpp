// A folder on forgetfs as the power-cut tests use it from Wine.
#include "common/ForgettingFolder.h"

#include "common/AppPaths.h"
#include "common/WineSupport.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

enum class Flush { No, Yes };

void Write(const std::string& path, const std::string& bytes, Flush flush)
{
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << path;
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    if (flush == Flush::Yes) {
        ASSERT_TRUE(FlushFileBuffers(file.get()));
    }
}

void FlushFile(const std::string& path)
{
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file && FlushFileBuffers(file.get())) << path;
}

std::string Read(const std::string& path)
{
    return ReadWholeFile(path, 1 << 20).value_or("(unreadable)");
}

bool Exists(const std::string& path)
{
    return GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD RunToEnd(const std::string& program)
{
    const UniqueKernelHandle process = StartProcess("\"" + program + "\" --exit 7");
    return WaitForExit(process.get());
}

}  // namespace

TEST(ForgettingFolder, APowerCutKeepsFlushedFilesAndMovesAndZerosWhatWasNeverFlushed)
{
    const ForgettingFolder folder;
    if (!folder.Unavailable().empty())
        GTEST_SKIP() << folder.Unavailable();
    const std::string at = folder.Path();
    const std::string flushed(3000, 'f');
    Write(at + "flushed.txt", flushed, Flush::Yes);
    Write(at + "unflushed.txt", std::string(5000, 'u'), Flush::No);
    Write(at + "moved.txt", "old", Flush::Yes);
    Write(at + "moved.new", "new", Flush::Yes);
    ASSERT_TRUE(MoveFileExW(WideFromUtf8(at + "moved.new").c_str(), WideFromUtf8(at + "moved.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(CopyFileW(WideFromUtf8(GetAppFolder() + "cmdrecord.exe").c_str(),
                          WideFromUtf8(at + "cmdrecord.exe").c_str(), FALSE));
    FlushFile(at + "cmdrecord.exe");
    EXPECT_EQ(RunToEnd(at + "cmdrecord.exe"), 7u) << "a program starts from the folder";
    EXPECT_EQ(Read(at + "unflushed.txt"), std::string(5000, 'u'));

    folder.PowerCut();

    EXPECT_EQ(Read(at + "flushed.txt"), flushed);
    EXPECT_EQ(Read(at + "unflushed.txt"), std::string(5000, '\0')) << "written, never flushed";
    EXPECT_EQ(Read(at + "moved.txt"), "new");
    EXPECT_FALSE(Exists(at + "moved.new"));
    EXPECT_EQ(RunToEnd(at + "cmdrecord.exe"), 7u) << "a flushed program starts again after the cut";
}
