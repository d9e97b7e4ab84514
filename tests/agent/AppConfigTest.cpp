#include "agent/uAppConfig.h"

#include "AgentTestSupport.h"
#include "common/ScratchFolder.h"
#include "startup/StartupTestSupport.h"
#include "core/Assert.h"
#include "common/AppPaths.h"
#include "winutil/FindFiles.h"
#include "winutil/ProfileFile.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

int ReadIntegerFrom(const std::string& file, const char* keyPath, int def = -99)
{
    TAppCfgIni config;
    config.Open(file);
    int value = -77;
    EXPECT_TRUE(config.ReadInteger(keyPath, value, def));
    return value;
}

} // namespace

TEST(AppConfig, WrittenIntegerIsOnDiskAtOnceAndReadsBack)
{
    ScratchFolder dir("kdagent-");
    const std::string file = dir.PathOf("config.dat");
    TAppCfgIni config;
    ASSERT_TRUE(config.Open(file));
    ASSERT_TRUE(config.WriteInteger("Setup\\ShowIcon", 0));
    EXPECT_EQ(ReadFile(file), "[Setup]\r\nShowIcon=0\r\n");
    ASSERT_TRUE(config.WriteString("Common\\Name", "  spaced value "));
    std::string text;
    EXPECT_TRUE(config.ReadString("common/name", text, "x"));
    EXPECT_EQ(text, "spaced value");
    EXPECT_EQ(ReadIntegerFrom(file, "Setup\\ ShowIcon\\"), 0);
}

TEST(AppConfig, MissingValuesGiveTheirDefaults)
{
    ScratchFolder dir("kdagent-");
    TAppCfgIni config;
    ASSERT_TRUE(config.Open(dir.PathOf("absent.dat")));
    int value = 0;
    EXPECT_TRUE(config.ReadInteger("Setup\\ShowIcon", value, 1));
    EXPECT_EQ(value, 1);
    std::string text;
    EXPECT_TRUE(config.ReadString("Setup\\Name", text, "def"));
    EXPECT_EQ(text, "def");
    EXPECT_FALSE(PathExists(dir.PathOf("absent.dat"))) << "reads create nothing";
}

TEST(AppConfig, SectionAndNameIgnoreCaseAndNumbersThatDoNotParseGiveTheDefault)
{
    ScratchFolder dir("kdagent-");
    WriteFile(dir.PathOf("config.dat"), "[setup]\nshowicon=0\nAutoCheck=yes\n");
    EXPECT_EQ(ReadIntegerFrom(dir.PathOf("config.dat"), "Setup\\ShowIcon", 1), 0);
    EXPECT_EQ(ReadIntegerFrom(dir.PathOf("config.dat"), "Setup\\AutoCheck", 1), 1);
}

TEST(AppConfig, ClosedStoreAndBadPathsAnswerFalseAndTouchNothing)
{
    ScratchFolder dir("kdagent-");
    TAppCfgIni config;
    int value = 5;
    EXPECT_FALSE(config.ReadInteger("Setup\\ShowIcon", value, 1));
    EXPECT_FALSE(config.WriteInteger("Setup\\ShowIcon", 1));
    EXPECT_FALSE(config.Close());
    ASSERT_TRUE(config.Open(dir.PathOf("config.dat")));
    for (const char* bad : {"", "  ", "\\", "//Name"}) {
        EXPECT_FALSE(config.ReadInteger(bad, value, 1)) << bad;
        EXPECT_FALSE(config.WriteInteger(bad, 1)) << bad;
    }
    EXPECT_EQ(value, 5);
    EXPECT_FALSE(config.WriteString("Setup\\Name", "two\r\nlines"));
    EXPECT_TRUE(config.Close());
    EXPECT_FALSE(config.ReadInteger("Setup\\ShowIcon", value, 1));
    EXPECT_FALSE(PathExists(dir.PathOf("config.dat")));
}

TEST(AppConfig, WriteKeepsKeysAnotherProgramWroteSinceOpen)
{
    ScratchFolder dir("kdagent-");
    const std::string file = dir.PathOf("config.dat");
    WriteFile(file, "; kept\r\n[Setup]\r\nShowIcon=1\r\n");
    TAppCfgIni agent;
    ASSERT_TRUE(agent.Open(file));
    WriteFile(file, "; kept\r\n[Setup]\r\nShowIcon=1\r\nLanguage=7\r\n[Control]\r\nTab=3\r\n");
    ASSERT_TRUE(agent.WriteInteger("Setup\\ShowIcon", 0));
    EXPECT_EQ(ReadFile(file), "; kept\r\n[Setup]\r\nShowIcon=0\r\nLanguage=7\r\n[Control]\r\nTab=3\r\n");
    int value = 0;
    EXPECT_TRUE(agent.ReadInteger("Control\\Tab", value, 0)) << "the store now sees the file as written";
    EXPECT_EQ(value, 3);
}

TEST(AppConfig, ConcurrentWritersKeepEveryKey)
{
    ScratchFolder dir("kdagent-");
    const std::string file = dir.PathOf("config.dat");
    const std::string tool = GetAppFolder() + "agent_cfg_writer.exe \"" + file + "\" ";
    auto first = StartProcess(tool + "A 40");
    auto second = StartProcess(tool + "B 40");
    for (int i = 0; i < 40; ++i) {
        TAppCfgIni config;
        config.Open(file);
        EXPECT_TRUE(config.WriteInteger("Writers\\C" + std::to_string(i), i));
    }
    EXPECT_EQ(WaitForExit(first.get()), 0u);
    EXPECT_EQ(WaitForExit(second.get()), 0u);
    TAppCfgIni config;
    config.Open(file);
    for (const char* prefix : {"A", "B", "C"})
        for (int i = 0; i < 40; ++i) {
            int value = -1;
            EXPECT_TRUE(config.ReadInteger(std::string("Writers\\") + prefix + std::to_string(i), value, -1));
            EXPECT_EQ(value, i) << prefix << i;
        }
}

TEST(AppConfig, BrieflyLockedFileIsWaitedFor)
{
    ScratchFolder dir("kdagent-");
    const std::string file = dir.PathOf("config.dat");
    WriteFile(file, "[Setup]\r\nShowIcon=0\r\n");
    UniqueFile lock(CreateFileW(WideFromUtf8(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    // The reader tries for about a second: let go early in it, so only a
    // thread held back for most of that second could come too late.
    std::thread release([&lock] {
        Sleep(50);
        lock.reset();
    });
    EXPECT_EQ(ReadIntegerFrom(file, "Setup\\ShowIcon", 1), 0);
    release.join();
}

TEST(AppConfig, FileLockedForLongAnswersFalseAndChangesNothing)
{
    ScratchFolder dir("kdagent-");
    const std::string file = dir.PathOf("config.dat");
    WriteFile(file, "[Setup]\r\nShowIcon=0\r\n");
    UniqueFile lock(CreateFileW(WideFromUtf8(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    TAppCfgIni config;
    EXPECT_TRUE(config.Open(file));
    int value = 1;
    EXPECT_FALSE(config.ReadInteger("Setup\\ShowIcon", value, 1));
    EXPECT_EQ(value, 1);
    EXPECT_FALSE(config.WriteInteger("Setup\\ShowIcon", 1));
    lock.reset();
    EXPECT_EQ(ReadFile(file), "[Setup]\r\nShowIcon=0\r\n");
}

TEST(AppConfig, HugeFileIsRefusedAndLeftAsItWas)
{
    ScratchFolder dir("kdagent-");
    const std::string file = dir.PathOf("config.dat");
    const std::string huge = "[Setup]\r\nShowIcon=0\r\n" + std::string(kMaxIniFileSize, 'x');
    WriteFile(file, huge);
    TAppCfgIni config;
    ASSERT_TRUE(config.Open(file));
    int value = 1;
    EXPECT_FALSE(config.ReadInteger("Setup\\ShowIcon", value, 1));
    EXPECT_FALSE(config.WriteInteger("Setup\\ShowIcon", 1));
    EXPECT_EQ(ReadFile(file).size(), huge.size());
}

TEST(AppConfig, CorruptFileKeepsItsJunkAndStillWorks)
{
    ScratchFolder dir("kdagent-");
    const std::string file = dir.PathOf("config.dat");
    const std::string junk = std::string(1, '\0') + "\x01\xfe garbage ]]]\r\n[Setup\r\n=\r\n";
    WriteFile(file, junk + "[SETUP]\r\nShowIcon=0\r\n");
    EXPECT_EQ(ReadIntegerFrom(file, "Setup\\ShowIcon", 1), 0);
    TAppCfgIni config;
    config.Open(file);
    ASSERT_TRUE(config.WriteInteger("Setup\\AutoCheck", 1));
    EXPECT_EQ(ReadFile(file), junk + "[SETUP]\r\nShowIcon=0\r\nAutoCheck=1\r\n");
}

TEST(AppConfig, WriteThatCannotReachTheDiskStaysInMemoryOnly)
{
    ScratchFolder dir("kdagent-");
    const std::string file = dir.PathOf("config.dat");
    WriteFile(file, "[Setup]\r\nShowIcon=1\r\n");
    TAppCfgIni config;
    config.Open(file);
    UniqueFile lock(CreateFileW(WideFromUtf8(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    EXPECT_FALSE(config.WriteInteger("Setup\\ShowIcon", 0));
    int value = 1;
    EXPECT_TRUE(config.ReadInteger("Setup\\ShowIcon", value, 1));
    EXPECT_EQ(value, 0);
    lock.reset();
    EXPECT_EQ(ReadIntegerFrom(file, "Setup\\ShowIcon"), 1);
}

TEST(AppConfig, DatesRoundTripInTheShortDateFormat)
{
    ScratchFolder dir("kdagent-");
    TAppCfgIni config;
    config.Open(dir.PathOf("config.dat"));
    SYSTEMTIME day = {};
    day.wYear = 2004;
    day.wMonth = 2;
    day.wDay = 29;
    DATE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&day, &date));
    ASSERT_TRUE(config.WriteDate("Update\\LastCheck", date + 0.5));
    DATE back = 0;
    EXPECT_TRUE(config.ReadDateTime("Update\\LastCheck", back, 1.0));
    EXPECT_DOUBLE_EQ(back, date) << "only the date part is written";
    EXPECT_TRUE(config.ReadDateTime("Update\\Missing", back, 1.0));
    EXPECT_DOUBLE_EQ(back, 1.0);
    config.WriteString("Update\\Bad", "not a date");
    back = 3.0;
    EXPECT_FALSE(config.ReadDateTime("Update\\Bad", back, 1.0));
    EXPECT_DOUBLE_EQ(back, 3.0);
}

TEST(AppConfig, FormStateRoundTrip)
{
    ScratchFolder dir("kdagent-");
    HWND form = CreateWindowExW(0, L"STATIC", L"form", WS_POPUP, 10, 20, 300, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(form);
    TAppCfgIni config;
    config.Open(dir.PathOf("config.dat"));
    ASSERT_TRUE(config.SaveFormState(form, "AgentForm"));
    EXPECT_EQ(ReadIntegerFrom(dir.PathOf("config.dat"), "FormState\\AgentForm\\Width"), 300);
    SetWindowPos(form, nullptr, 50, 60, 100, 100, SWP_NOZORDER);
    ASSERT_TRUE(config.LoadFormState(form, "AgentForm", true));
    RECT bounds = {};
    GetWindowRect(form, &bounds);
    EXPECT_EQ(bounds.left, 10);
    EXPECT_EQ(bounds.top, 20);
    EXPECT_EQ(bounds.right - bounds.left, 300);
    EXPECT_THROW(config.SaveFormState(nullptr, "AgentForm"), EAssertionFailed);
    DestroyWindow(form);
}

TEST(AppConfig, AnsiFileIsReadAndTurnsUtf16OnlyForTextItCannotHold)
{
    ScratchFolder dir("kdagent-");
    const std::string file = dir.PathOf("config.dat");
    WriteFile(file, "[Common]\r\nUser=J\xF6rg\r\n; note\r\n[Setup]\r\nShowIcon=0\r\n");
    TAppCfgIni config;
    ASSERT_TRUE(config.Open(file));
    std::string user;
    EXPECT_TRUE(config.ReadString("Common\\User", user, ""));
    EXPECT_EQ(user, "J\xc3\xb6rg");
    ASSERT_TRUE(config.WriteInteger("Setup\\AutoCheck", 1));
    EXPECT_EQ(ReadFile(file), "[Common]\r\nUser=J\xF6rg\r\n; note\r\n[Setup]\r\nShowIcon=0\r\nAutoCheck=1\r\n")
        << "still ANSI, as older versions wrote it";

    const std::string japanese = "\xe6\x97\xa5\xe6\x9c\xac";
    ASSERT_TRUE(config.WriteString("Common\\Place", japanese));
    EXPECT_EQ(ProfileEncodingOf(ReadFile(file)), ProfileEncoding::Utf16);
    EXPECT_EQ(ProfileTextFromBytes(ReadFile(file)), "[Common]\r\nUser=J\xc3\xb6rg\r\nPlace=" + japanese +
                                                        "\r\n; note\r\n[Setup]\r\nShowIcon=0\r\nAutoCheck=1\r\n");
    wchar_t place[16] = {};
    GetPrivateProfileStringW(L"Common", L"Place", L"", place, 16, WideFromUtf8(file).c_str());
    EXPECT_STREQ(place, L"\x65E5\x672C") << "the system's profile functions read it as the other programs do";
    ASSERT_TRUE(config.WriteInteger("Setup\\ShowIcon", 1));
    EXPECT_EQ(ProfileEncodingOf(ReadFile(file)), ProfileEncoding::Utf16) << "and it stays so";
    EXPECT_EQ(ReadIntegerFrom(file, "Setup\\ShowIcon"), 1);
    std::string read;
    TAppCfgIni again;
    again.Open(file);
    EXPECT_TRUE(again.ReadString("Common\\Place", read, ""));
    EXPECT_EQ(read, japanese);
}
