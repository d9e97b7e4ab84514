#include "common/LogFile.h"

#include "common/ScratchFolder.h"
#include "common/TextLines.h"
#include "common/WineSupport.h"
#include "core/LogText.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"

#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <vector>

// Processes of one user (the agents of two sessions) log to one file at once,
// each rewriting it whole: none may lose another's line, the file stays under
// its cap, and readers of the log are never refused meanwhile.
TEST(LogFile, WritersInSeveralProcessesLoseNoLineAndKeepTheCap)
{
    const ScratchFolder scratch("LogFile");
    std::string filler;
    for (int i = 0; filler.size() < kLogCap - 2000; ++i)
        filler += "2000-01-01 00:00:00 old line " + std::to_string(i) + "\r\n";
    const std::string log = scratch.AddFile("kdAgent.log", filler);
    constexpr int kLines = 150;
    const std::string writers[] = {"first", "second"};
    std::vector<UniqueKernelHandle> processes;
    for (const std::string& writer : writers)
        processes.push_back(StartProcess("probe_system.exe log " + log + " " + writer + " " + std::to_string(kLines)));
    int reads = 0, refused = 0;
    for (const UniqueKernelHandle& process : processes) {
        ASSERT_TRUE(process);
        while (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
            ++reads;
            refused += !ReadWholeFile(log, 16 * kLogCap);
            Sleep(5);
        }
        EXPECT_EQ(WaitForExit(process.get()), 0u);
    }
    EXPECT_EQ(refused, 0) << "of " << reads << " reads while the writers ran";

    const std::string text = ReadWholeFile(log, 16 * kLogCap).value_or("");
    EXPECT_LE(text.size(), kLogCap);
    EXPECT_EQ(text.find("old line 0\r\n"), std::string::npos) << "the oldest lines made room";
    std::map<std::string, std::vector<int>> seen;
    for (const std::string& line : EndedLines(text)) {
        ASSERT_GT(line.size(), 20u) << "whole stamped lines only: " << line;
        const std::string entry = line.substr(20);
        if (entry.starts_with("old line "))
            continue;
        const std::size_t space = entry.find(' ');
        ASSERT_NE(space, std::string::npos) << line;
        seen[entry.substr(0, space)].push_back(std::stoi(entry.substr(space + 1)));
    }
    std::vector<int> all(kLines);
    std::iota(all.begin(), all.end(), 0);
    for (const std::string& writer : writers)
        EXPECT_EQ(seen[writer], all) << writer << "'s lines, each once and in order";
    EXPECT_EQ(seen.size(), 2u);
}
