#include "common/WineSupport.h"

#include "core/StrCon.h"
#include "core/WindowsKind.h"
#include "common/AppPaths.h"
#include "common/Environment.h"
#include "common/JobObjects.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/RuntimeLink.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

TEST(Utils, FoldersComeWithTheirDocumentedBackslashes)
{
    const std::string app = GetAppFolder();
    ASSERT_FALSE(app.empty());
    EXPECT_EQ(app.back(), '\\');
    EXPECT_TRUE(FileExists(app + "common_tests.exe"));
    const std::string windows = GetWindowsDir();
    EXPECT_TRUE(SameText(windows, "C:\\windows")) << windows;
}

TEST(Utils, EnvironmentValuesAreNeverCut)
{
    const std::string longValue(5000, 'x');
    ASSERT_TRUE(SetEnvironmentVariableW(L"KD_LONG", WideFromUtf8(longValue).c_str()));
    EXPECT_EQ(GetEnvVar("KD_LONG"), longValue);
    EXPECT_EQ(ExpandEnvVars("[%KD_LONG%]"), "[" + longValue + "]");
    SetEnvironmentVariableW(L"KD_LONG", nullptr);
    EXPECT_EQ(GetEnvVar("KD_LONG"), "");
    EXPECT_EQ(ExpandEnvVars("%KD_NOT_SET%\\x"), "%KD_NOT_SET%\\x");
    EXPECT_EQ(ExpandEnvVars(""), "");
    EXPECT_FALSE(GetEnvVar("PATH").empty());
}

TEST(Utils, RunTimeBindingNamesWhatIsMissing)
{
    try {
        BindFunction("kdNoSuchLibrary.dll", "Anything");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Library not found: kdNoSuchLibrary.dll");
    }
    try {
        BindFunction("kernel32.dll", "KdNoSuchFunction");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Function not found: kernel32.dll.KdNoSuchFunction");
    }
    UniqueKernelHandle job(BoundCreateJobObjectW(nullptr, nullptr));
    EXPECT_TRUE(job);
}

TEST(Utils, ErrorMessagesCarryContextTextAndCode)
{
    const std::string text = ErrorMessage("Opening x", ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(text.rfind("Opening x: ", 0), 0u) << text;
    EXPECT_NE(text.find("(2)"), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
}

namespace {

struct SystemView {
    unsigned kind = 99;
    int version51 = -1;
    std::string allUsersStartup;
    std::string userStartup;
};

SystemView ProbeUnder(const char* wineVersion)
{
    WineVersionScope scope(wineVersion);
    std::istringstream lines(RunAndCapture("probe_system.exe"));
    SystemView view;
    lines >> view.kind >> view.version51;
    lines.ignore();
    std::getline(lines, view.allUsersStartup);
    std::getline(lines, view.userStartup);
    return view;
}

} // namespace

TEST(Utils, WindowsKindFollowsTheReportedVersion)
{
    const SystemView xp = ProbeUnder("winxp");
    EXPECT_EQ(xp.kind, wkXP);
    EXPECT_EQ(xp.version51, 1);

    const SystemView w2k = ProbeUnder("win2k");
    EXPECT_EQ(w2k.kind, wk2000);
    EXPECT_EQ(w2k.version51, 0);

    const SystemView vista = ProbeUnder("vista");
    EXPECT_EQ(vista.kind, wkUnknown);
    EXPECT_EQ(vista.version51, 0);

    for (const char* later : {"win7", "win10"}) {
        const SystemView v = ProbeUnder(later);
        EXPECT_EQ(v.kind, wkUnknown) << later;
        EXPECT_EQ(v.version51, 1) << later;
    }

    const SystemView w98 = ProbeUnder("win98");
    EXPECT_TRUE(w98.kind == wk98 || w98.kind == wk98SE) << w98.kind;
    EXPECT_EQ(w98.version51, 0);
}
