// The real kdAgent.exe takes over what appears in a watched location while it
// runs, long before its five-minute timer, through a key or folder that was
// deleted and made again too.
#include "AgentTestSupport.h"
#include "agent/ChangeWatch.h"
#include "core/StrCon.h"
#include "startup/StartupTestSupport.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

namespace {

bool StoredIn(std::uint8_t location, REGSAM view, const std::string& item)
{
    const TStpDesc desc = GetStpDesc(location, view);
    return static_cast<bool>(RegKey::Open(desc.RootKey, desc.Path + "\\Keldora\\" + item, KEY_READ | view));
}

bool TakenFromFolder(const std::string& name)
{
    const std::string folder = GetStpDesc(9).Path;
    return FileExists(folder + "\\Keldora\\" + name) && !FileExists(folder + "\\" + name);
}

} // namespace

TEST(ChangeWatch, ARunningAgentTakesOverEachChangeAtOnceThroughAKeyOrFolderMadeAgain)
{
    AgentSandbox sandbox;
    const std::string folder = GetStpDesc(9).Path;
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([] { return !StoreValue(0, "Keldora Agent", "CmdLine").empty(); }));

    AddRunValue(1, "LiveValue", "C:\\Tools\\live.exe");
    EXPECT_TRUE(WaitUntil([] { return StoredIn(1, 0, "LiveValue"); }));
    WriteFile(folder + "\\live.txt", "live");
    EXPECT_TRUE(WaitUntil([] { return TakenFromFolder("live.txt"); }));
    ASSERT_EQ(OpenRunKey(0, KEY_WOW64_32KEY).WriteString("Machine32", "C:\\Tools\\m32.exe"), ERROR_SUCCESS);
    EXPECT_TRUE(WaitUntil([] { return StoredIn(0, KEY_WOW64_32KEY, "Machine32"); }));

    // The user's Run key deleted with its store and made again.
    ASSERT_EQ(RegKey::DeleteTree(HKEY_CURRENT_USER, GetStpDesc(1).Path), ERROR_SUCCESS);
    ASSERT_TRUE(RegKey::Create(HKEY_CURRENT_USER, GetStpDesc(1).Path, KEY_ALL_ACCESS));
    AddRunValue(1, "AfterRecreate", "C:\\Tools\\again.exe");
    EXPECT_TRUE(WaitUntil([] { return StoredIn(1, 0, "AfterRecreate"); }));

    // The Startup folder removed while watched, then made again.
    ClearLocation(9);
    ASSERT_TRUE(RemoveDirectoryW(WideFromUtf8(folder).c_str()));
    ASSERT_TRUE(ForceDirectories(folder));
    WriteFile(folder + "\\after.txt", "after");
    EXPECT_TRUE(WaitUntil([] { return TakenFromFolder("after.txt"); }));

    EXPECT_EQ(WaitForExit(agent.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(sandbox.Messages().empty());
}
