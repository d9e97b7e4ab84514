#include "core/LaunchRules.h"

#include "core/MemoryCmdLnSystem.h"

#include <gtest/gtest.h>

TEST(LaunchRules, AnUnquotedPathWithABlankIsNeverTriedAsItStands)
{
    MemoryCmdLnSystem sys("C:\\Work");
    sys.AddFile("C:\\Program Files\\Tool\\tool.exe");
    sys.AddFile("C:\\Tools\\run.exe");
    sys.AddFile("C:\\Program.exe");

    const std::string planted = "C:\\Program Files\\Tool\\tool.exe /x";
    EXPECT_FALSE(IsSafeSpelling(sys, planted));
    std::string program;
    std::string parameters;
    ASSERT_TRUE(SplitCommandLine(sys, planted, program, parameters));
    EXPECT_EQ(LaunchCandidates(sys, planted, program, parameters),
              std::vector<std::string>{"\"C:\\Program Files\\Tool\\tool.exe\" /x"});

    EXPECT_TRUE(IsSafeSpelling(sys, "\"C:\\Program Files\\Tool\\tool.exe\" /x"));
    EXPECT_EQ(LaunchCandidates(sys, "  C:\\Tools\\run.exe -a  ", "C:\\Tools\\run.exe", "-a"),
              (std::vector<std::string>{"\"C:\\Tools\\run.exe\" -a", "C:\\Tools\\run.exe -a"}))
        << "the line as given and the unquoted program are the same line: tried once";
    EXPECT_FALSE(IsSafeSpelling(sys, ""));
    EXPECT_FALSE(IsSafeSpelling(sys, "   "));
}
