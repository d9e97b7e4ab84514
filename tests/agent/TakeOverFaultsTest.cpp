// The real kdAgent.exe taking over the user's Startup folder when something
// is wrong with it: links planted in it, a file another program holds, a path
// the store cannot hold, and a power cut at each step of a move (on forgetfs).
// Each file ends in exactly one place, whole, and a refusal says why.
#include "AgentTestSupport.h"
#include "common/HostCommand.h"
#include "common/HostMount.h"
#include "common/StartToken.h"
#include "core/StrCon.h"
#include "startup/FolderStartupMgr.h"
#include "startup/StartupTestSupport.h"
#include "startup/StoreLock.h"
#include "startup/StoreMove.h"
#include "winutil/FindFiles.h"
#include "winutil/ProfileFile.h"
#include "winutil/RegKey.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <memory>
#include <set>

namespace {

constexpr std::uint8_t UserFolder = 9;
const char* const kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::string Startup()
{
    return GetStpDesc(UserFolder).Path;
}

std::string In(const std::string& name)
{
    return Startup() + "\\" + name;
}

std::string Stored(const std::string& name)
{
    return Startup() + "\\Keldora\\" + name;
}

std::set<std::string> Names(const std::string& folder)
{
    std::set<std::string> names;
    for (const FoundFile& file : FindFiles(folder + "\\*"))
        names.insert(file.name);
    return names;
}

bool Noted(const AgentSandbox& sandbox, const std::string& part)
{
    for (const std::string& line : sandbox.Messages())
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

} // namespace

// A store folder that is a link, then a Startup file that is one: nothing is
// written through either, the target keeps its files, the user's file stays.
TEST(TakeOverFaults, LinksInTheStartupFolderAreNeverFollowed)
{
    AgentSandbox sandbox;
    const std::string target = sandbox.PathOf("system");
    ASSERT_TRUE(ForceDirectories(target));
    WriteFile(target + "\\victim.dll", "the system's own");
    WriteFile(In("version.dll"), "the user's");
    {
        const HostLink store(Startup() + "\\Keldora", target);
        ASSERT_NE(GetFileAttributesW(WideFromUtf8(Startup() + "\\Keldora").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        const RunningAgent agent(sandbox);
        EXPECT_TRUE(RunningAgent::WaitForWindow());
        ASSERT_TRUE(WaitUntil([&] { return Noted(sandbox, "is a link"); })) << "the refusal says why";
        EXPECT_EQ(agent.Quit(), 0u);
        EXPECT_TRUE(Noted(sandbox, Startup() + "\\Keldora"));
        EXPECT_EQ(Names(target), (std::set<std::string>{"victim.dll"})) << "nothing written through the link";
        EXPECT_EQ(ReadFile(target + "\\victim.dll"), "the system's own");
        EXPECT_EQ(ReadFile(In("version.dll")), "the user's");
    }

    // A Startup file that leads to a file of the system: neither moved nor deleted.
    {
        const HostLink file(In("linked.bat"), target + "\\victim.dll");
        const RunningAgent agent(sandbox);
        EXPECT_TRUE(RunningAgent::WaitForWindow());
        ASSERT_TRUE(WaitUntil([&] { return Noted(sandbox, "linked.bat"); }));
        ASSERT_TRUE(WaitUntil([&] { return FileExists(Stored("version.dll")); })) << "the rest is taken over";
        EXPECT_EQ(agent.Quit(), 0u);
        EXPECT_FALSE(PathExists(Stored("linked.bat")));
        EXPECT_EQ(ReadFile(target + "\\victim.dll"), "the system's own");
        EXPECT_EQ(ReadFile(In("linked.bat")), "the system's own") << "the link stays as the user left it";
        EXPECT_FALSE(ProfileFile(Stored("Keldora.ini")).HasSection("linked.bat"));
        EXPECT_EQ(ReadFile(Stored("version.dll")), "the user's");
        EXPECT_FALSE(FileExists(In("version.dll")));
    }
}

// The Startup folder itself redirected to a link (a junction the user could
// plant) under an elevated agent, which Wine runs every program as: the
// take-over is refused with the reason, nothing is written where the link
// leads, and the files there stay as they are.
TEST(TakeOverFaults, AnElevatedAgentNeverFollowsALinkAtTheStartupFolder)
{
    ASSERT_TRUE(IsElevatedProcess()) << "the agent must run elevated for this test to mean anything";
    AgentSandbox sandbox;
    const std::string target = sandbox.PathOf("system");
    ASSERT_TRUE(ForceDirectories(target));
    WriteFile(target + "\\version.dll", "the system's own");
    const std::string linked = sandbox.PathOf("LinkedStartUp");
    const RegKey shellFolders = RegKey::Create(HKEY_CURRENT_USER, kShellFolders, KEY_READ | KEY_WRITE);
    ASSERT_TRUE(shellFolders);
    const std::optional<std::string> before = shellFolders.ReadString("Startup");
    {
        const HostLink link(linked, target);
        ASSERT_EQ(shellFolders.WriteString("Startup", linked), ERROR_SUCCESS);
        const RunningAgent agent(sandbox);
        EXPECT_TRUE(RunningAgent::WaitForWindow());
        const bool refused = WaitUntil([&] { return Noted(sandbox, "is a link"); });
        EXPECT_EQ(agent.Quit(), 0u);
        EXPECT_EQ(before ? shellFolders.WriteString("Startup", *before, REG_EXPAND_SZ)
                         : shellFolders.DeleteValue("Startup"),
                  ERROR_SUCCESS);
        EXPECT_TRUE(refused) << "the refusal says why";
        EXPECT_TRUE(Noted(sandbox, linked));
        EXPECT_EQ(Names(target), (std::set<std::string>{"version.dll"})) << "nothing written through the link";
        EXPECT_EQ(ReadFile(target + "\\version.dll"), "the system's own");
    }
}

// A file another program holds with read sharing only stays in the Startup
// folder alone (no copy, no section) and moves at the next take-over once freed.
TEST(TakeOverFaults, AHeldFileStaysInOnePlaceAndMovesOnceFreed)
{
    AgentSandbox sandbox;
    WriteFile(In("held.bat"), "@echo held\r\n");
    UniqueFile holder(CreateFileW(WideFromUtf8(In("held.bat")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const RunningAgent agent(sandbox);
    EXPECT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return Noted(sandbox, "another program holds it"); }));
    EXPECT_TRUE(Noted(sandbox, "held.bat"));
    EXPECT_EQ(ReadFile(In("held.bat")), "@echo held\r\n");
    EXPECT_FALSE(PathExists(Stored("held.bat")));
    EXPECT_FALSE(PathExists(Stored(kMoveDraftName)));
    EXPECT_FALSE(ProfileFile(Stored("Keldora.ini")).HasSection("held.bat")) << "nothing in two places";

    holder.reset();
    RunningAgent::Send(UM_REFRESH_MENU);
    ASSERT_TRUE(WaitUntil([&] { return FileExists(Stored("held.bat")) && !FileExists(In("held.bat")); }));
    EXPECT_EQ(agent.Quit(), 0u);
    EXPECT_EQ(ReadFile(Stored("held.bat")), "@echo held\r\n");
    EXPECT_EQ(ProfileFile(Stored("Keldora.ini")).ReadString("held.bat", "Enable"), "1");
    EXPECT_FALSE(ProfileFile(Stored("Keldora.ini")).HasKey("held.bat", kMovingKey));
}

// Another program of the user (another session's agent taking over many
// files) holds the stores past the start's wait: the agent still starts,
// says so in its log, not in a box, and registers itself and takes over once
// they are free.
TEST(TakeOverFaults, AStartThatFindsTheStoresHeldTooLongGoesOnAndRegistersLater)
{
    AgentSandbox sandbox;
    const std::string log = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + "\\Keldora\\kdAgent.log";
    DeleteFileW(WideFromUtf8(log).c_str());
    WriteFile(In("late.bat"), "@echo late\r\n");
    auto held = std::make_unique<TStoreLock>();
    ASSERT_TRUE(held->Acquired()) << held->Refusal();
    const RunningAgent agent(sandbox);
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(log).find("registers itself before its first take-over") !=
                                       std::string::npos; },
                          60000));
    EXPECT_FALSE(StoreHasItem(0, "Keldora Agent") || StoreHasItem(1, "Keldora Agent"));
    held.reset();
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    EXPECT_TRUE(WaitUntil([] { return StoreHasItem(0, "Keldora Agent") || StoreHasItem(1, "Keldora Agent"); }, 60000));
    EXPECT_TRUE(WaitUntil([&] { return FileExists(Stored("late.bat")) && !FileExists(In("late.bat")); }, 60000));
    EXPECT_EQ(agent.Quit(), 0u);
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

// The store lock's file a link (one any program of the user could plant)
// when the agent starts: it cannot register itself, so it ends at once and
// says why in its box and its log; its last take-over takes nothing over and
// logs why; nothing is opened for writing through the link. Once the lock
// file is sound, the next agent takes the file over.
TEST(TakeOverFaults, ALinkAtTheStoreLockStopsTheAgentAndIsLogged)
{
    AgentSandbox sandbox;
    const std::string log = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + "\\Keldora\\kdAgent.log";
    DeleteFileW(WideFromUtf8(log).c_str());
    const std::string victim = sandbox.PathOf("victim.txt");
    WriteFile(victim, "the system's own");
    WriteFile(In("waiting.bat"), "@echo waiting\r\n");
    const std::string lock = TStoreLock::Path();
    {
        const TStoreLock made;
        ASSERT_TRUE(made.Acquired()) << made.Refusal();
    }
    ASSERT_TRUE(DeleteFileW(WideFromUtf8(lock).c_str()));
    const std::string refusal = "\"" + lock + "\" is a link";
    {
        const HostLink link(lock, victim);
        RunningAgent agent(sandbox);
        EXPECT_NE(WaitForExit(agent.Process(), 60000), static_cast<DWORD>(STILL_ACTIVE));
        EXPECT_TRUE(Noted(sandbox, refusal)) << ::testing::PrintToString(sandbox.Messages());
        const std::string logged = ReadFile(log);
        EXPECT_NE(logged.find(refusal), std::string::npos) << logged;
        EXPECT_NE(logged.find("taken over, as the startup stores could not be locked"), std::string::npos)
            << logged;
        EXPECT_EQ(ReadFile(In("waiting.bat")), "@echo waiting\r\n") << "left where it was";
        EXPECT_FALSE(PathExists(Stored("waiting.bat")));
    }
    EXPECT_EQ(ReadFile(victim), "the system's own");
    const RunningAgent agent(sandbox);
    EXPECT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return FileExists(Stored("waiting.bat")) && !FileExists(In("waiting.bat")); }));
    EXPECT_EQ(agent.Quit(), 0u);
    EXPECT_EQ(ReadFile(Stored("waiting.bat")), "@echo waiting\r\n");
}

// A name that fits the Startup folder but not the store: left in place and
// noted, so that its start is never cut short; a shorter one beside it moves.
TEST(TakeOverFaults, APathTheStoreCannotHoldStaysWhereItIs)
{
    AgentSandbox sandbox;
    const std::size_t room = MAX_PATH - 1 - WideFromUtf8(In("")).size();
    const std::string name = std::string(room - 4 - 3, 'L') + ".bat";  // its store path is 5 over
    ASSERT_LE(WideFromUtf8(In(name)).size(), MAX_PATH - 1u);
    ASSERT_GE(WideFromUtf8(Stored(name)).size(), static_cast<std::size_t>(MAX_PATH));
    WriteFile(In(name), "@echo long\r\n");
    WriteFile(In("short.bat"), "@echo short\r\n");
    const RunningAgent agent(sandbox);
    EXPECT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return Noted(sandbox, "cannot start"); }));
    ASSERT_TRUE(WaitUntil([&] { return FileExists(Stored("short.bat")); }));
    EXPECT_EQ(agent.Quit(), 0u);
    EXPECT_TRUE(Noted(sandbox, name));
    EXPECT_EQ(ReadFile(In(name)), "@echo long\r\n");
    EXPECT_FALSE(ProfileFile(Stored("Keldora.ini")).HasSection(name));
    EXPECT_EQ(Names(Startup() + "\\Keldora"), (std::set<std::string>{"Keldora.ini", "short.bat"}));
}

// The Startup folder on forgetfs: the agent stops for good after each step of
// its take-over of two files, the power goes, and the next agent's take-over
// leaves each file in the store alone, whole, with one settled section and no
// draft. Then the same for a newer file replacing a read-only stored copy
// whose section the user edited: until the newer file is in, the older copy
// is there, and the next start's recovery of a move cut short gives the
// section its values. Both files share each step: one journal, one flush.
TEST(TakeOverFaults, APowerCutAtEveryStepOfAMoveLosesAndDoublesNothing)
{
    const ForgettingStartupFolder disk;
    if (!disk.Unavailable().empty())
        GTEST_SKIP() << disk.Unavailable();
    AgentSandbox sandbox;
    ASSERT_TRUE(disk.Ready());
    const std::string& folder = disk.Folder();
    const std::string content = "@echo whole\r\n" + std::string(5000, 'x');
    const std::string older = "@echo older\r\n" + std::string(3000, 'y');
    const std::string other = "@echo other\r\n" + std::string(4000, 'z');
    const auto settledIn = [&](const std::string& name) {
        return FileExists(Stored(name)) && !FileExists(In(name)) &&
               !ProfileFile(Stored("Keldora.ini")).HasKey(name, kMovingKey);
    };
    const std::string eventName = "KeldoraTakeOverHalt" + std::to_string(GetCurrentProcessId());
    const UniqueKernelHandle halted(CreateEventW(nullptr, TRUE, FALSE, WideFromUtf8(eventName).c_str()));
    const EnvVarScope haltEvent("KDAGENT_HALT_EVENT", eventName);
    const ProfileFile index(Stored("Keldora.ini"));
    const auto section = [&] {
        std::vector<std::string> values;
        for (const char* key : {"Desc", "CmdLine", "Icon", "DelayTime", "Enable", "Order", "TakenOver", "Approved"})
            values.push_back(index.HasKey("app.bat", key) ? index.ReadString("app.bat", key) : "(none)");
        return values;
    };
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replacing a stored copy" : "a new file");
        int halts = 0;
        bool finished = false;
        for (int step = 1; !finished; ++step) {
            SCOPED_TRACE("cut after step " + std::to_string(step));
            ASSERT_LT(step, 10) << "the move never finished";
            ClearLocation(UserFolder);
            std::vector<std::string> before;
            if (replace) {
                WriteFile(In("app.bat"), older);
                ASSERT_TRUE(TFolderStartupMgr(UserFolder).SetupItems());
                ASSERT_TRUE(SetFileAttributesW(WideFromUtf8(Stored("app.bat")).c_str(), FILE_ATTRIBUTE_READONLY));
                ASSERT_TRUE(index.WriteString("app.bat", "CmdLine", "\"C:\\Tools\\app.exe\" /edited"));
                ASSERT_TRUE(index.WriteInteger("app.bat", "DelayTime", 45));
                before = section();
                const UniqueFile edited(CreateFileW(WideFromUtf8(Stored("Keldora.ini")).c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                    nullptr));
                ASSERT_TRUE(edited && FlushFileBuffers(edited.get())) << "the user's edit on the disk";
            }
            for (const auto& [name, bytes] : {std::pair{"app.bat", content}, std::pair{"two.bat", other}}) {
                const UniqueFile file(CreateFileW(WideFromUtf8(In(name)).c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, 0, nullptr));
                DWORD written = 0;
                ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
                ASSERT_TRUE(FlushFileBuffers(file.get()));
            }
            ResetEvent(halted.get());
            {
                const EnvVarScope halt("KDAGENT_HALT_AT_STEP", std::to_string(step));
                RunningAgent agent(sandbox);
                ASSERT_TRUE(WaitUntil([&] {
                    finished = settledIn("app.bat") && settledIn("two.bat");
                    return finished || WaitForSingleObject(halted.get(), 0) == WAIT_OBJECT_0;
                }, 60000));
                halts += !finished;
                if (!finished) {
                    // Held by the halted take-over: neither can be swapped for a link meanwhile.
                    for (const std::string& held : {folder, folder + "\\Keldora"}) {
                        const bool moved =
                            MoveFileW(WideFromUtf8(held).c_str(), WideFromUtf8(held + ".swapped").c_str());
                        EXPECT_FALSE(moved) << held;
                        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << held;
                        if (moved)
                            MoveFileW(WideFromUtf8(held + ".swapped").c_str(), WideFromUtf8(held).c_str());
                    }
                }
                TerminateProcess(agent.Process(), 9);
                WaitForExit(agent.Process(), 30000);
            }
            disk.PowerCut();
            const bool twoInFolder = FileExists(In("two.bat"));
            EXPECT_NE(twoInFolder, FileExists(Stored("two.bat"))) << "the other file in one place at the cut";
            EXPECT_EQ(ReadFile(twoInFolder ? In("two.bat") : Stored("two.bat")), other) << "the other file whole";
            const bool inFolder = FileExists(In("app.bat"));
            EXPECT_NE(inFolder, FileExists(Stored("app.bat")) && ReadFile(Stored("app.bat")) == content)
                << "in one place at the cut";
            EXPECT_EQ(ReadFile(inFolder ? In("app.bat") : Stored("app.bat")), content) << "whole";
            if (replace && inFolder) {
                EXPECT_EQ(ReadFile(FileExists(Stored("app.bat")) ? Stored("app.bat") : Stored("Keldora.1.move")), older)
                    << "the older copy is kept until the newer one is in";
                // The next start's recovery, as the agent's take-over begins it.
                EXPECT_TRUE(RecoverMoves(folder, folder + "\\Keldora").empty());
                EXPECT_EQ(section(), before) << "the section as the user left it";
                EXPECT_EQ(ReadFile(Stored("app.bat")), older);
                EXPECT_TRUE(GetFileAttributesW(WideFromUtf8(Stored("app.bat")).c_str()) & FILE_ATTRIBUTE_READONLY);
            }
            const RunningAgent next(sandbox);
            EXPECT_TRUE(RunningAgent::WaitForWindow());
            EXPECT_TRUE(WaitUntil([&] { return settledIn("app.bat") && settledIn("two.bat"); }, 60000));
            EXPECT_EQ(next.Quit(), 0u);
            EXPECT_EQ(ReadFile(Stored("app.bat")), content) << "whole";
            EXPECT_EQ(ReadFile(Stored("two.bat")), other) << "whole";
            EXPECT_EQ(Names(folder), (std::set<std::string>{"Keldora"}));
            EXPECT_EQ(Names(folder + "\\Keldora"), (std::set<std::string>{"Keldora.ini", "app.bat", "two.bat"}));
            const std::vector<std::string> sections = ProfileFile(Stored("Keldora.ini")).SectionNames();
            EXPECT_EQ(std::set<std::string>(sections.begin(), sections.end()),
                      (std::set<std::string>{"app.bat", "two.bat"}));
            EXPECT_EQ(sections.size(), 2u) << "no section doubled";
        }
        EXPECT_EQ(halts, 2)
            << "cut after the sections were written and after the files moved, then once the moves had ended";
    }
}
