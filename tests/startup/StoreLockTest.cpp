// The store lock in the prefix's real profile: one holder at a time across
// threads and processes, nested takes on one thread, a dead holder, and a
// link at the lock file or its folder refused before anything is taken over.
#include "StartupTestSupport.h"

#include "common/HostMount.h"
#include "common/ScratchFolder.h"
#include "common/AppPaths.h"
#include "common/Environment.h"
#include "common/WineSupport.h"
#include "core/StrCon.h"
#include "startup/StartupMgrHelper.h"
#include "startup/StoreLock.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace {

constexpr std::uint8_t UserFolder = 9;
const char* const kReadyVariable = "KELDORA_LOCK_TEST_READY";

// What another thread of this process gets within `timeoutMs`: empty when it
// got the lock, else why not.
std::string OtherThreadRefusal(DWORD timeoutMs)
{
    std::string refusal;
    std::thread([&] { refusal = TStoreLock(timeoutMs).Refusal(); }).join();
    return refusal;
}

bool Holds(const std::vector<std::string>& notes, const std::string& part)
{
    return std::any_of(notes.begin(), notes.end(),
                       [&](const std::string& note) { return note.find(part) != std::string::npos; });
}

} // namespace

// The child of the test below: holds the lock, says so, and waits to be killed.
TEST(StoreLock, DISABLED_HoldUntilKilled)
{
    const TStoreLock held;
    ASSERT_TRUE(held.Acquired()) << held.Refusal();
    const UniqueKernelHandle ready(
        OpenEventW(EVENT_MODIFY_STATE, FALSE, WideFromUtf8(GetEnvVar(kReadyVariable)).c_str()));
    ASSERT_TRUE(ready);
    SetEvent(ready.get());
    Sleep(INFINITE);
}

// One file in the user's profile for every program of the user: a holder
// makes another thread or process wait, the holder's own thread takes it
// again, and a process that dies holding it leaves it to the one waiting.
TEST(StoreLock, OneHolderAtATimeAcrossProcessesAndADeadHolderFreesIt)
{
    const std::string path = TStoreLock::Path();
    EXPECT_TRUE(SameText(path, AddBackslash(GetSpecialFolderPath(CSIDL_LOCAL_APPDATA)) + "Keldora\\Stores.lock"))
        << path;
    {
        const TStoreLock held;
        ASSERT_TRUE(held.Acquired()) << held.Refusal();
        EXPECT_TRUE(FileExists(path));
        {
            const TStoreLock again(0);
            EXPECT_TRUE(again.Acquired()) << "the holder's own thread takes it again: " << again.Refusal();
            const TStoreLock deeper(0);
            EXPECT_TRUE(deeper.Acquired());
        }
        const std::string refusal = OtherThreadRefusal(200);
        EXPECT_NE(refusal.find("too long"), std::string::npos) << "held until the outermost ends: " << refusal;
        EXPECT_NE(refusal.find(path), std::string::npos) << refusal;
        bool refused = false;
        std::thread([&] {
            try {
                TStoreLock(0).Require();
            } catch (const std::runtime_error& e) {
                refused = std::string(e.what()).find("nothing was changed") != std::string::npos;
            }
        }).join();
        EXPECT_TRUE(refused);
    }
    EXPECT_EQ(OtherThreadRefusal(0), "") << "free once the holder let go";

    // Another process of the user, started unelevated as the other agent of
    // a logon is, holds it.
    const std::string readyName = "Local\\Keldora.LockTest." + std::to_string(GetCurrentProcessId());
    const UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, WideFromUtf8(readyName).c_str()));
    ASSERT_TRUE(ready);
    const EnvVarScope readyVariable(kReadyVariable, readyName);
    const UniqueKernelHandle token = TokenWithoutAdministrators();
    const UniqueKernelHandle child =
        StartProcess("\"" + GetAppFolder() + "startup_tests.exe\" --gtest_also_run_disabled_tests "
                     "--gtest_filter=StoreLock.DISABLED_HoldUntilKilled",
                     token.get());
    ASSERT_TRUE(child);
    ASSERT_EQ(WaitForSingleObject(ready.get(), 60000), WAIT_OBJECT_0);
    EXPECT_NE(OtherThreadRefusal(200), "") << "held by the other process";
    std::string queued = "not asked";
    std::thread waiter([&] { queued = TStoreLock(120000).Refusal(); });
    Sleep(500);
    EXPECT_EQ(queued, "not asked") << "still waiting";
    ASSERT_TRUE(TerminateProcess(child.get(), 1));
    waiter.join();
    EXPECT_EQ(queued, "") << "the waiter got it when the holder died, long before its time-out";
}

// A link (one any program of the user could plant) at the lock file, then at
// its folder: the lock is refused with the reason, the take-over it guards
// changes nothing and says why, and nothing is made where the link leads.
TEST(StoreLock, ALinkAtTheLockFileOrItsFolderIsRefusedAndNothingIsTakenOver)
{
    const ScratchFolder scratch("storelock");
    const std::string target = scratch.PathOf("elsewhere");
    ASSERT_TRUE(ForceDirectories(target));
    const std::string victim = scratch.AddFile("elsewhere\\victim.txt", "the system's own");
    const std::string path = TStoreLock::Path();
    const std::string folder = RemoveBackslash(FolderOfPath(path));
    ClearLocation(UserFolder);
    const std::string startupFile = GetStpDesc(UserFolder).Path + "\\waiting.txt";
    WriteFile(startupFile, "mine");

    {
        const TStoreLock made;
        ASSERT_TRUE(made.Acquired()) << made.Refusal();
    }
    ASSERT_TRUE(DeleteFileW(WideFromUtf8(path).c_str()));
    {
        const HostLink link(path, victim);
        const TStoreLock lock(0);
        EXPECT_FALSE(lock.Acquired());
        EXPECT_NE(lock.Refusal().find("link"), std::string::npos) << lock.Refusal();
        TStartupMgrHelper helper({UserFolder});
        helper.SetupAll();
        const std::vector<std::string> notes = helper.TakeNotes();
        EXPECT_TRUE(Holds(notes, "Nothing was taken over")) << ::testing::PrintToString(notes);
        EXPECT_TRUE(Holds(notes, path)) << ::testing::PrintToString(notes);
        EXPECT_EQ(ReadFile(startupFile), "mine") << "left where it was";
        EXPECT_FALSE(DirectoryExists(GetStpDesc(UserFolder).Path + "\\Keldora"));
    }
    EXPECT_EQ(ReadFile(victim), "the system's own");

    const std::string aside = folder + ".aside" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(MoveFileW(WideFromUtf8(folder).c_str(), WideFromUtf8(aside).c_str())) << GetLastError();
    {
        const HostLink link(folder, target);
        const TStoreLock lock;
        EXPECT_FALSE(lock.Acquired());
        EXPECT_NE(lock.Refusal().find(folder), std::string::npos) << lock.Refusal();
        EXPECT_NE(lock.Refusal().find("link"), std::string::npos) << lock.Refusal();
        EXPECT_THROW(lock.Require(), std::runtime_error);
    }
    ASSERT_TRUE(MoveFileW(WideFromUtf8(aside).c_str(), WideFromUtf8(folder).c_str()));
    EXPECT_FALSE(FileExists(target + "\\Stores.lock")) << "nothing made through the link";
    EXPECT_EQ(ReadFile(victim), "the system's own");

    TStartupMgrHelper helper({UserFolder});
    helper.SetupAll();
    EXPECT_FALSE(FileExists(startupFile)) << "taken over once the lock is sound again";
    ClearLocation(UserFolder);
}
