#include "update/stub/StubRules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

class SetProbe : public FileProbe {
public:
    SetProbe(std::initializer_list<std::string> files) : files_(files) {}
    bool FileExists(std::string_view path) const override { return files_.count(std::string(path)) != 0; }

private:
    std::set<std::string> files_;
};

struct Parsed {
    StubParse result;
    std::string program;
    std::string params;
    bool setupMode;
};

Parsed Parse(std::string_view arguments, const FileProbe& probe)
{
    StubCommand command;
    const StubParse result = ParseStubCommand(arguments, probe, command);
    return {result, std::string(command.program), std::string(command.params), command.setupMode};
}

TEST(StubRules, ArgumentTextSkipsTheStubsOwnName)
{
    EXPECT_EQ(StubArgumentText(R"("C:\Temp Dir\Zeredira3.exe" C:\App\app.exe +/x0)"), R"(C:\App\app.exe +/x0)");
    EXPECT_EQ(StubArgumentText("C:\\Temp\\Zeredira3.exe   \"C:\\A B\\app.exe\" +0"), "\"C:\\A B\\app.exe\" +0");
    EXPECT_EQ(StubArgumentText("Zeredira3.exe"), "");
    EXPECT_EQ(StubArgumentText("\"C:\\Temp\\Zeredira3.exe\""), "");
    EXPECT_EQ(StubArgumentText("\"unterminated"), "");
    EXPECT_EQ(StubArgumentText("  stub\t\targs here "), "args here ");
    EXPECT_EQ(StubArgumentText(""), "");
}

TEST(StubRules, ReadsTheOldUnquotedForm)
{
    const SetProbe probe{R"(C:\Program Files\App\app.exe)", R"(C:\App\app.exe)"};
    // What the engine writes: the path split at its blanks, restart argument last.
    Parsed p = Parse(R"(C:\Program Files\App\app.exe +/afterupgrade0 )", probe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.program, R"(C:\Program Files\App\app.exe)");
    EXPECT_EQ(p.params, "/afterupgrade");
    EXPECT_FALSE(p.setupMode);

    p = Parse(R"(C:\App\app.exe +/verysilent /dir="C:\x y"1)", probe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.params, R"(/verysilent /dir="C:\x y")");
    EXPECT_TRUE(p.setupMode);

    // Empty restart parameters are stored as one blank by the engine.
    p = Parse(R"(C:\App\app.exe + 0)", probe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.params, " ");

    // Without a restart argument the program starts without arguments.
    p = Parse(R"(C:\App\app.exe)", probe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.params, "");
}

TEST(StubRules, ReadsTheQuotedForm)
{
    const SetProbe probe{R"(C:\My Apps +1\a+b\app.exe)", R"(C:\App\app.exe)"};
    Parsed p = Parse(R"("C:\My Apps +1\a+b\app.exe" +/afterupgrade0)", probe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.program, R"(C:\My Apps +1\a+b\app.exe)");
    EXPECT_EQ(p.params, "/afterupgrade");

    p = Parse("  \"C:\\App\\app.exe\"\t+/s1  ", probe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.params, "/s");
    EXPECT_TRUE(p.setupMode);

    p = Parse(R"("C:\App\app.exe")", probe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.params, "");
}

TEST(StubRules, SplitsAtTheFirstPlusAfterAnExistingFile)
{
    // "C:\Apps +x" is a folder, not a file, so the split moves on.
    const SetProbe probe{R"(C:\Apps +x\tool +2\app.exe)"};
    Parsed p = Parse(R"(C:\Apps +x\tool +2\app.exe +/after +more0)", probe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.program, R"(C:\Apps +x\tool +2\app.exe)");
    EXPECT_EQ(p.params, "/after +more");

    // A "+" without a blank before it belongs to the path.
    const SetProbe plusProbe{R"(C:\C++\app.exe)"};
    p = Parse(R"(C:\C++\app.exe +/r0)", plusProbe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.program, R"(C:\C++\app.exe)");

    // A program whose name itself holds " +" and has no restart argument.
    const SetProbe wholeProbe{R"(C:\A\b +c.exe)"};
    p = Parse(R"(C:\A\b +c.exe)", wholeProbe);
    EXPECT_EQ(p.result, StubParse::ok);
    EXPECT_EQ(p.program, R"(C:\A\b +c.exe)");
}

TEST(StubRules, BadCommandLinesAreRefused)
{
    const SetProbe probe{R"(C:\App\app.exe)", "app.exe"};
    EXPECT_EQ(Parse("", probe).result, StubParse::empty);
    EXPECT_EQ(Parse(" \t ", probe).result, StubParse::empty);
    EXPECT_EQ(Parse(R"("C:\App\app.exe +/x0)", probe).result, StubParse::malformed);  // no closing quote
    EXPECT_EQ(Parse(R"("" +/x0)", probe).result, StubParse::malformed);
    EXPECT_EQ(Parse(R"("C:\App\app.exe" /x0)", probe).result, StubParse::malformed);   // no "+"
    EXPECT_EQ(Parse(R"("C:\App\app.exe" +)", probe).result, StubParse::malformed);     // no method digit
    EXPECT_EQ(Parse(R"("C:\App\app.exe" +/x7)", probe).result, StubParse::malformed);  // unknown method
    EXPECT_EQ(Parse(R"(C:\App\app.exe +/x)", probe).result, StubParse::malformed);
    EXPECT_EQ(Parse(R"(C:\App\app.exe +)", probe).result, StubParse::malformed);
    EXPECT_EQ(Parse("+/afterupgrade0", probe).result, StubParse::malformed);
    EXPECT_EQ(Parse("app.exe +/x0", probe).result, StubParse::malformed);  // no folder
    EXPECT_EQ(Parse(R"("C:\App\" +/x0)", probe).result, StubParse::malformed);  // a folder

    Parsed p = Parse(R"(C:\Gone\app.exe +/x0)", probe);
    EXPECT_EQ(p.result, StubParse::missingProgram);
    EXPECT_EQ(p.program, R"(C:\Gone\app.exe)");
    EXPECT_EQ(Parse(R"("C:\Gone\app.exe" +/x0)", probe).result, StubParse::missingProgram);
}

TEST(StubRules, FolderOfAPath)
{
    EXPECT_EQ(FolderOf(R"(C:\App\app.exe)"), R"(C:\App\)");
    EXPECT_EQ(FolderOf("C:/App/app.exe"), "C:/App/");
    EXPECT_EQ(FolderOf("app.exe"), "");

}

TEST(StubRules, OnlySetupModeSinglesOutAnExecutable)
{
    // Self-upgrade: no executable stands for the program, however it is named.
    TargetNamer upgrade(/*setupMode=*/false, /*ownCopyPending=*/false);
    EXPECT_EQ(upgrade.Role("helper.exe", /*targetExists=*/false), TargetRole::file);
    EXPECT_EQ(upgrade.Role("app2.exe", false), TargetRole::file);

    TargetNamer setup(/*setupMode=*/true, false);
    EXPECT_EQ(setup.Role("lib.exe", true), TargetRole::file);
    EXPECT_EQ(setup.Role("TOOL.EXE", false), TargetRole::file);  // capitals do not count
    EXPECT_EQ(setup.Role("setup.exe", false), TargetRole::setup);
    EXPECT_EQ(setup.Role("second.exe", false), TargetRole::file);  // only the first

    TargetNamer setupOwnCopy(true, /*ownCopyPending=*/true);
    EXPECT_EQ(setupOwnCopy.Role("setup.exe", false), TargetRole::file);
}

TEST(StubRules, WaitLimitSetting)
{
    EXPECT_EQ(ParseMilliseconds("250", 7), 250u);
    EXPECT_EQ(ParseMilliseconds("4294967295", 7), 4294967295u);
    EXPECT_EQ(ParseMilliseconds("4294967296", 7), 7u);
    EXPECT_EQ(ParseMilliseconds("99999999999", 7), 7u);
    EXPECT_EQ(ParseMilliseconds("", 7), 7u);
    EXPECT_EQ(ParseMilliseconds("-1", 7), 7u);
    EXPECT_EQ(ParseMilliseconds("12ms", 7), 7u);
}

}  // namespace
