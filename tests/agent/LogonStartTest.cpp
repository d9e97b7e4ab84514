// The real kdAgent.exe at logon: what it starts of the Startup folders, what
// the user disabled in Task Manager, and two agents of one user at once.
// Startup files are batch files that append their working folder to a marker
// file of the sandbox, one line per run.
#include "AgentTestSupport.h"
#include "agent/LogonStart.h"
#include "common/HostMount.h"
#include "core/ApprovalValue.h"
#include "core/StrCon.h"
#include "startup/FolderStartupMgr.h"
#include "startup/RegStartupMgr.h"
#include "startup/StartupTestSupport.h"
#include "winutil/FindFiles.h"
#include "winutil/ProfileFile.h"
#include "winutil/RegKey.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

using namespace std::string_literals;

namespace {

constexpr std::uint8_t UserFolder = 9;
constexpr std::uint8_t AllUsersFolder = 8;

std::string FolderOf(std::uint8_t location)
{
    return GetStpDesc(location).Path;
}

std::string StoreOf(std::uint8_t location)
{
    return FolderOf(location) + "\\Keldora";
}

// A batch file that appends its working folder to the marker `name`.txt.
std::string MarkerBatch(const AgentSandbox& sandbox, const std::string& name)
{
    return "@echo off\r\ncd >> \"" + sandbox.PathOf(name + ".txt") + "\"\r\n";
}

// The folders the marker's runs worked in, one per run.
std::vector<std::string> Runs(const AgentSandbox& sandbox, const std::string& name)
{
    std::vector<std::string> runs;
    std::string line;
    for (const char c : ReadFile(sandbox.PathOf(name + ".txt"))) {
        if (c == '\n') {
            runs.push_back(TrimUpTo(line, ' '));
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    return runs;
}

// An item taken over at an earlier logon: its file in the store folder and its section.
void StoreItem(std::uint8_t location, const std::string& name, const std::string& content,
               const std::string& delayTime, int order)
{
    CreateDirectoryW(WideFromUtf8(StoreOf(location)).c_str(), nullptr);
    SetFileAttributesW(WideFromUtf8(StoreOf(location)).c_str(), FILE_ATTRIBUTE_HIDDEN);
    const std::string copy = StoreOf(location) + "\\" + name;
    if (!content.empty())
        WriteFile(copy, content);
    const ProfileFile ini(StoreOf(location) + "\\Keldora.ini");
    ASSERT_TRUE(ini.WriteSection(name, {{"Desc", name}, {"CmdLine", copy}, {"Icon", copy}, {"DelayTime", delayTime},
                                        {"Enable", "1"}, {"Order", std::to_string(order)}}));
}

std::string AgentLog()
{
    return GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + "\\Keldora\\kdAgent.log";
}

// How often each section name stands in the index file.
std::map<std::string, int> SectionCounts(const std::string& ini)
{
    std::map<std::string, int> counts;
    for (const std::string& line : [&] {
             std::vector<std::string> lines;
             std::string text = ProfileTextFromBytes(ReadFile(ini)), current;
             for (const char c : text) {
                 if (c == '\n') {
                     lines.push_back(current);
                     current.clear();
                 } else if (c != '\r') {
                     current += c;
                 }
             }
             lines.push_back(current);
             return lines;
         }()) {
        if (line.size() > 2 && line.front() == '[' && line.back() == ']')
            ++counts[line.substr(1, line.size() - 2)];
    }
    return counts;
}

std::size_t LogonMarks()
{
    std::vector<std::string> names;
    static_cast<void>(RegKey::Open(HKEY_CURRENT_USER, kLogonMarkKey, KEY_READ).SubKeyNames(names));
    return names.size();
}

// Explorer's volatile state of this session, where it says it has started
// the Startup folders.
std::string ExplorerSessionKey()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SessionInfo\\" + std::to_string(session);
}

bool SameFolder(const std::string& a, const std::string& b)
{
    return SameText(RemoveBackslash(a), RemoveBackslash(b));
}

} // namespace

TEST(LogonStart, StartupFilesRunOnceASessionAfterTheirDelayInTheirOwnFolder)
{
    AgentSandbox sandbox;
    ForgetLogonSession();
    WriteFile(FolderOf(UserFolder) + "\\now.bat", MarkerBatch(sandbox, "now"));
    // As older versions moved the all-users folder's files: the store holds it.
    StoreItem(AllUsersFolder, "machine.bat", MarkerBatch(sandbox, "machine"), "0", 90);
    StoreItem(UserFolder, "later.bat", MarkerBatch(sandbox, "later"), "3", 91);

    const DWORD started = GetTickCount();
    std::unique_ptr<RunningAgent> agent = std::make_unique<RunningAgent>(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "now").size() == 1; }));
    EXPECT_TRUE(SameFolder(Runs(sandbox, "now")[0], FolderOf(UserFolder))) << "not the hidden store folder";
    EXPECT_FALSE(FileExists(FolderOf(UserFolder) + "\\now.bat")) << "taken over first";
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "machine").size() == 1; }));
    EXPECT_TRUE(SameFolder(Runs(sandbox, "machine")[0], FolderOf(AllUsersFolder)));
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "later").size() == 1; }));
    EXPECT_GE(GetTickCount() - started, 2500u) << "three seconds after the agent started";
    EXPECT_TRUE(SameFolder(Runs(sandbox, "later")[0], FolderOf(UserFolder)));

    // Another agent of the same session starts nothing.
    EXPECT_EQ(agent->Quit(), 0u);
    agent = std::make_unique<RunningAgent>(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    Sleep(5000);
    EXPECT_EQ(Runs(sandbox, "now").size(), 1u);
    EXPECT_EQ(Runs(sandbox, "later").size(), 1u);
    EXPECT_EQ(Runs(sandbox, "machine").size(), 1u);

    // A new session starts them again, from the store.
    EXPECT_EQ(agent->Quit(), 0u);
    ForgetLogonSession();
    agent = std::make_unique<RunningAgent>(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    EXPECT_TRUE(WaitUntil([&] { return Runs(sandbox, "now").size() == 2 && Runs(sandbox, "later").size() == 2; }));
    EXPECT_TRUE(sandbox.Messages().empty()) << "no box at logon";
}

// Disabled in Task Manager: stored switched off and not started; Run-key
// entries are Windows' to start, never the agent's. The restore puts every
// entry back once under its own name, with Task Manager's choice as it was.
TEST(LogonStart, TaskManagerChoicesAreKeptAndRunKeysAreLeftToWindows)
{
    AgentSandbox sandbox;
    ForgetLogonSession();
    const std::string folder = FolderOf(UserFolder);
    WriteFile(folder + "\\on.bat", MarkerBatch(sandbox, "on"));
    WriteFile(folder + "\\off.bat", MarkerBatch(sandbox, "off"));
    const std::string runBatch = sandbox.PathOf("run.bat"), unnamedBatch = sandbox.PathOf("unnamed.bat");
    WriteFile(runBatch, MarkerBatch(sandbox, "run"));
    WriteFile(unnamedBatch, MarkerBatch(sandbox, "unnamed"));
    AddRunValue(1, "RunTool", "\"" + runBatch + "\"");
    AddRunValue(1, "", "\"" + unnamedBatch + "\" /x");
    const RegKey folderChoices = OpenApprovedKey(HKEY_CURRENT_USER, "StartupFolder");
    const RegKey runChoices = OpenApprovedKey(HKEY_CURRENT_USER, "Run");
    const std::string off = "\x03\0\0\0\x10\x20\x30\x40\x50\x60\x70\x01"s, on = "\x02\0\0\0\x11\x21\x31\x41\x51\x61\x71\x01"s;
    ASSERT_EQ(folderChoices.WriteBinary("off.bat", off), ERROR_SUCCESS);
    ASSERT_EQ(folderChoices.WriteBinary("on.bat", on), ERROR_SUCCESS);
    ASSERT_EQ(runChoices.WriteBinary("RunTool", off), ERROR_SUCCESS);
    std::vector<RegKey::Value> runBefore;
    ASSERT_EQ(OpenRunKey(1).Values(runBefore), ERROR_SUCCESS);

    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "on").size() == 1; }));
    Sleep(3000);
    EXPECT_TRUE(Runs(sandbox, "off").empty()) << "disabled in Task Manager";
    EXPECT_TRUE(Runs(sandbox, "run").empty()) << "Windows starts the Run keys";
    EXPECT_TRUE(Runs(sandbox, "unnamed").empty());
    const ProfileFile ini(StoreOf(UserFolder) + "\\Keldora.ini");
    EXPECT_EQ(ini.ReadString("off.bat", "Enable"), "0");
    EXPECT_EQ(ini.ReadString("on.bat", "Enable"), "1");
    EXPECT_EQ(StoreValue(1, "RunTool", "Enable"), "0");
    EXPECT_EQ(agent.Quit(), 0u);

    // Explorer drops the choice of a file it no longer sees.
    ASSERT_EQ(folderChoices.DeleteValue("off.bat"), ERROR_SUCCESS);
    TRegStartupMgr run(1);
    ASSERT_TRUE(run.RestoreItems());
    TFolderStartupMgr startup(UserFolder);
    ASSERT_TRUE(startup.RestoreItems());
    EXPECT_TRUE(FileExists(folder + "\\on.bat"));
    EXPECT_TRUE(FileExists(folder + "\\off.bat"));
    for (const auto& [key, name, bytes] :
         {std::tuple{&folderChoices, "off.bat", off}, {&folderChoices, "on.bat", on}, {&runChoices, "RunTool", off}}) {
        RegKey::Value value;
        ASSERT_EQ(key->Query(name, value), ERROR_SUCCESS) << name;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY)) << name;
        EXPECT_EQ(value.data, bytes) << name;
    }
    std::vector<RegKey::Value> runAfter;
    ASSERT_EQ(OpenRunKey(1).Values(runAfter), ERROR_SUCCESS);
    ASSERT_EQ(runAfter.size(), runBefore.size()) << "no twin";
    for (const RegKey::Value& before : runBefore) {
        const auto same = std::find_if(runAfter.begin(), runAfter.end(),
                                       [&](const RegKey::Value& v) { return v.name == before.name; });
        ASSERT_NE(same, runAfter.end()) << "\"" << before.name << "\"";
        EXPECT_EQ(same->data, before.data);
    }
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

// Two agents of one user (as in two sessions) refresh together while new
// Startup files keep coming: every file ends in the store with its section,
// once.
TEST(LogonStart, TwoAgentsRefreshingTogetherLoseNoSection)
{
    AgentSandbox sandbox;
    const std::string folder = FolderOf(UserFolder);
    for (int i = 0; i < 5; ++i)
        WriteFile(folder + "\\seed" + std::to_string(i) + ".txt", "seed");
    std::unique_ptr<RunningAgent> agents[2];
    for (const char* instance : {"a", "b"}) {
        const EnvVarScope session("KDAGENT_INSTANCE", instance);
        agents[instance[0] - 'a'] = std::make_unique<RunningAgent>(sandbox);
    }
    HWND windows[2] = {};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(WaitUntil([&] { return (windows[i] = agents[i]->OwnWindow()) != nullptr; })) << i;
        DWORD_PTR ignored = 0;
        ASSERT_TRUE(SendMessageTimeoutW(windows[i], WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored));
    }
    constexpr int kRefreshes = 50;
    // Several new sections per refresh, so that the two agents' rewrites of
    // the index overlap.
    constexpr int kFilesPerRefresh = 4;
    int answered[2] = {};
    std::thread senders[2];
    for (int i = 0; i < 2; ++i) {
        senders[i] = std::thread([&, i] {
            for (int n = 0; n < kRefreshes; ++n) {
                std::vector<std::string> files;
                for (int f = 0; f < kFilesPerRefresh; ++f) {
                    files.push_back(folder + "\\" + char('a' + i) + std::to_string(n * kFilesPerRefresh + f) + ".txt");
                    WriteFile(files.back(), "new");
                }
                DWORD_PTR ignored = 0;
                if (SendMessageTimeoutW(windows[i], UM_REFRESH_MENU, 0, 0, SMTO_NORMAL, 60000, &ignored))
                    ++answered[i];
                // The take-over runs on the agent's worker: the round ends once
                // one of the agents has taken the files.
                WaitUntil([&] { return std::none_of(files.begin(), files.end(), [](const std::string& f) { return FileExists(f); }); }, 60000);
            }
        });
    }
    for (std::thread& sender : senders)
        sender.join();
    EXPECT_EQ(answered[0], kRefreshes);
    EXPECT_EQ(answered[1], kRefreshes);
    for (const HWND window : windows) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, UM_QUIT, 0, 0, SMTO_NORMAL, 30000, &ignored);
    }
    for (const auto& agent : agents)
        EXPECT_EQ(WaitForExit(agent->Process(), 60000), 0u);

    std::vector<std::string> expected;
    for (int i = 0; i < 5; ++i)
        expected.push_back("seed" + std::to_string(i) + ".txt");
    for (const char side : {'a', 'b'})
        for (int n = 0; n < kRefreshes * kFilesPerRefresh; ++n)
            expected.push_back(side + std::to_string(n) + ".txt");
    const std::map<std::string, int> sections = SectionCounts(StoreOf(UserFolder) + "\\Keldora.ini");
    for (const std::string& name : expected) {
        EXPECT_EQ(sections.count(name) ? sections.at(name) : 0, 1) << name;
        EXPECT_TRUE(FileExists(StoreOf(UserFolder) + "\\" + name)) << name;
    }
    EXPECT_EQ(sections.size(), expected.size());
    EXPECT_TRUE(FindFiles(folder + "\\*.txt").empty()) << "every file taken over";
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

// The elevated and the unelevated agent of one logon, started together: the
// one that makes the session's mark plans, from the stores as no take-over
// of this logon had left them. The stored item starts once; the files
// Explorer started from the Startup folder at this logon (its
// "StartupHasBeenRun" key) are taken over once and never started again.
TEST(LogonStart, TheTwoAgentsOfOneLogonStartEachItemOnce)
{
    AgentSandbox sandbox;
    ForgetLogonSession();
    const std::string explorerSession = ExplorerSessionKey();
    ASSERT_TRUE(RegKey::Create(HKEY_CURRENT_USER, explorerSession + "\\StartupHasBeenRun", KEY_WRITE));
    StoreItem(UserFolder, "stored.bat", MarkerBatch(sandbox, "stored"), "0", 1);
    // Enough that the first take-over lasts while the other agent starts.
    constexpr int kExplorers = 30;
    const auto explorers = [](int i) { return "explorers" + std::to_string(i); };
    for (int i = 0; i < kExplorers; ++i)
        WriteFile(FolderOf(UserFolder) + "\\" + explorers(i) + ".bat", MarkerBatch(sandbox, explorers(i)));
    const UniqueKernelHandle limited = TokenWithoutAdministrators();
    ASSERT_TRUE(limited);
    std::unique_ptr<RunningAgent> agents[2];
    {
        const EnvVarScope instance("KDAGENT_INSTANCE", "elevated");
        agents[0] = std::make_unique<RunningAgent>(sandbox);
    }
    {
        const EnvVarScope instance("KDAGENT_INSTANCE", "limited");
        agents[1] = std::make_unique<RunningAgent>(sandbox, limited.get());
    }
    const ProfileFile ini(StoreOf(UserFolder) + "\\Keldora.ini");
    ASSERT_TRUE(WaitUntil([&] { return !Runs(sandbox, "stored").empty(); }, 60000));
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (int i = 0; i < kExplorers; ++i)
                if (!ini.HasSection(explorers(i) + ".bat"))
                    return false;
            return true;
        },
        60000));
    // A second plan would start at once too: its items have no delay.
    Sleep(3000);
    EXPECT_EQ(Runs(sandbox, "stored").size(), 1u);
    for (int i = 0; i < kExplorers; ++i) {
        EXPECT_TRUE(Runs(sandbox, explorers(i)).empty()) << "Explorer started " << explorers(i);
        EXPECT_FALSE(FileExists(FolderOf(UserFolder) + "\\" + explorers(i) + ".bat")) << "in one place";
        EXPECT_TRUE(FileExists(StoreOf(UserFolder) + "\\" + explorers(i) + ".bat"));
    }
    EXPECT_EQ(LogonMarks(), 1u);
    for (const auto& agent : agents)
        EXPECT_EQ(agent->Quit(), 0u);
    EXPECT_EQ(RegKey::DeleteTree(HKEY_CURRENT_USER, explorerSession), ERROR_SUCCESS);
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

// The session's mark refused by the registry (its key closed to writing):
// the agent takes nothing over and starts nothing, says so once, and asks
// again; once the key takes writes, each item starts once and the mark is made.
TEST(LogonStart, ARefusedLogonMarkSpendsNothingAndEachItemStartsOnceAfter)
{
    AgentSandbox sandbox;
    ForgetLogonSession();
    StoreItem(UserFolder, "stored.bat", MarkerBatch(sandbox, "stored"), "0", 1);
    WriteFile(FolderOf(UserFolder) + "\\fresh.bat", MarkerBatch(sandbox, "fresh"));
    ASSERT_TRUE(RegKey::Create(HKEY_CURRENT_USER, "Software\\Keldora", KEY_WRITE));
    bool created = false;
    const RegKey mark = RegKey::CreateVolatile(HKEY_CURRENT_USER, kLogonMarkKey, READ_CONTROL | WRITE_DAC, created);
    ASSERT_TRUE(mark);
    const auto setAccess = [&](const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
        const UniqueLocalMemory owned(descriptor);
        ASSERT_EQ(RegSetKeySecurity(mark.get(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
    };
    setAccess(L"D:(D;;KW;;;WD)(A;;KA;;;WD)");
    // Opened again for whatever ends the test, so a failure closes no later test's mark.
    const std::unique_ptr<const RegKey, void (*)(const RegKey*)> reopen(&mark, [](const RegKey* key) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &descriptor,
                                                                 nullptr)) {
            const UniqueLocalMemory owned(descriptor);
            RegSetKeySecurity(key->get(), DACL_SECURITY_INFORMATION, descriptor);
        }
    });
    // The log is kept to its last lines, so what came before this test is no offset into it.
    DeleteFileW(WideFromUtf8(AgentLog()).c_str());
    const auto newLog = [] { return ReadFile(AgentLog()); };
    RunningAgent agent(sandbox);
    const std::string refused = "logon mark could not be written";
    ASSERT_TRUE(WaitUntil([&] { return newLog().find(refused) != std::string::npos; }, 60000));
    Sleep(2000);
    EXPECT_TRUE(Runs(sandbox, "stored").empty());
    EXPECT_TRUE(FileExists(FolderOf(UserFolder) + "\\fresh.bat")) << "nothing taken over";
    EXPECT_EQ(LogonMarks(), 0u);

    setAccess(L"D:(A;;KA;;;WD)");
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "stored").size() == 1 && Runs(sandbox, "fresh").size() == 1; },
                          60000));
    EXPECT_TRUE(FileExists(StoreOf(UserFolder) + "\\fresh.bat"));
    EXPECT_FALSE(FileExists(FolderOf(UserFolder) + "\\fresh.bat"));
    EXPECT_EQ(LogonMarks(), 1u);
    Sleep(2000);
    EXPECT_EQ(agent.Quit(), 0u);
    EXPECT_EQ(Runs(sandbox, "stored").size(), 1u);
    EXPECT_EQ(Runs(sandbox, "fresh").size(), 1u);
    const std::string log = newLog();
    EXPECT_EQ(log.find(refused), log.rfind(refused)) << "said once";
}

// Delays out of range, a missing file, a file gone before its time and an
// Order shared by many: what can start starts once, nothing is lost, no box.
TEST(LogonStart, BadStoreValuesStartWhatTheyCanAndLoseNothing)
{
    AgentSandbox sandbox;
    ForgetLogonSession();
    DeleteFileW(WideFromUtf8(AgentLog()).c_str());
    StoreItem(UserFolder, "negative.bat", MarkerBatch(sandbox, "negative"), "-5", 95);
    StoreItem(UserFolder, "huge.bat", MarkerBatch(sandbox, "huge"), "2147483647", 94);
    StoreItem(UserFolder, "gone.bat", "", "0", 93);
    // Due long after the agent's start: the file goes once "negative" has
    // run, measured 0.9 s after the start here and 1.7 s on a busy machine.
    StoreItem(UserFolder, "vanishing.bat", MarkerBatch(sandbox, "vanishing"), "15", 92);
    // Started together, so each writes a marker of its own: two batch files
    // appending to one file at once collide ("Sharing violation").
    constexpr int kTied = 20;
    for (int i = 0; i < kTied; ++i)
        StoreItem(UserFolder, "tied" + std::to_string(i) + ".bat", MarkerBatch(sandbox, "tied" + std::to_string(i)),
                  "0", 5);
    const auto tiedRuns = [&] {
        std::vector<std::size_t> runs;
        for (int i = 0; i < kTied; ++i)
            runs.push_back(Runs(sandbox, "tied" + std::to_string(i)).size());
        return runs;
    };
    const std::vector<std::size_t> eachOnce(kTied, 1);

    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "negative").size() == 1; })) << "a negative delay: at once";
    DeleteFileW(WideFromUtf8(StoreOf(UserFolder) + "\\vanishing.bat").c_str());
    ASSERT_TRUE(WaitUntil([&] { return tiedRuns() == eachOnce; })) << "a shared Order loses none";
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(AgentLog()).find("vanishing.bat") != std::string::npos; }, 60000));
    const std::string log = ReadFile(AgentLog());
    EXPECT_NE(log.find("Unable to start \"gone.bat\" at logon"), std::string::npos) << log;
    EXPECT_NE(log.find("Unable to start \"vanishing.bat\" at logon"), std::string::npos) << log;
    Sleep(2000);
    EXPECT_EQ(tiedRuns(), eachOnce) << "each once";
    EXPECT_TRUE(Runs(sandbox, "huge").empty()) << "clamped to an hour";
    EXPECT_TRUE(Runs(sandbox, "vanishing").empty());

    RunningAgent::Send(UM_REFRESH_MENU);
    const ProfileFile ini(StoreOf(UserFolder) + "\\Keldora.ini");
    for (const char* name : {"negative.bat", "huge.bat", "gone.bat", "vanishing.bat", "tied0.bat", "tied19.bat"})
        EXPECT_TRUE(ini.HasSection(name)) << "never a lost entry: " << name;
    EXPECT_EQ(ini.ReadString("huge.bat", "DelayTime"), "2147483647") << "the store keeps what it holds";
    EXPECT_TRUE(sandbox.Messages().empty()) << "no box at logon";
    EXPECT_EQ(WaitForExit(agent.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));
}

// An index held at logon spends nothing: the item starts once that session,
// when the index can be read. Files that were in the Startup folder when
// Explorer started it this session (its "StartupHasBeenRun" key) are left to
// Explorer: taken over, never started a second time by the agent.
TEST(LogonStart, AHeldIndexSpendsNoStartAndExplorersFilesStartOnce)
{
    AgentSandbox sandbox;
    ForgetLogonSession();
    StoreItem(UserFolder, "later.bat", MarkerBatch(sandbox, "later"), "0", 91);
    const std::string index = StoreOf(UserFolder) + "\\Keldora.ini";
    std::unique_ptr<RunningAgent> agent;
    {
        const UniqueFile holder(
            CreateFileW(WideFromUtf8(index).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        agent = std::make_unique<RunningAgent>(sandbox);
        ASSERT_TRUE(RunningAgent::WaitForWindow());
        ASSERT_TRUE(WaitUntil([&] { return ReadFile(AgentLog()).find("Opening " + index) != std::string::npos; }));
        EXPECT_EQ(LogonMarks(), 0u) << "no mark while the stores could not be read";
    }
    EXPECT_TRUE(Runs(sandbox, "later").empty());
    RunningAgent::Send(UM_REFRESH_MENU);
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "later").size() == 1; })) << "started once the index is read";
    EXPECT_EQ(LogonMarks(), 1u);
    EXPECT_EQ(agent->Quit(), 0u);

    // A new logon whose Explorer has started the folder.
    ForgetLogonSession();
    const std::string explorerSession = ExplorerSessionKey();
    ASSERT_TRUE(RegKey::Create(HKEY_CURRENT_USER, explorerSession + "\\StartupHasBeenRun", KEY_WRITE));
    WriteFile(FolderOf(UserFolder) + "\\explorers.bat", MarkerBatch(sandbox, "explorers"));
    // Its move was cut short after its section went in, before the file did:
    // undone before the stores are read, the section is no item of the store.
    StoreItem(UserFolder, "explorers.bat", "", "0", 1);
    ASSERT_TRUE(ProfileFile(index).WriteString(
        "explorers.bat", "Moving",
        "new " + std::to_string(MarkerBatch(sandbox, "explorers").size()) + " 1"));
    agent = std::make_unique<RunningAgent>(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "later").size() == 2; })) << "the store's own item starts";
    EXPECT_TRUE(FileExists(StoreOf(UserFolder) + "\\explorers.bat")) << "taken over";
    EXPECT_FALSE(ProfileFile(index).HasKey("explorers.bat", "Moving"));
    EXPECT_EQ(agent->Quit(), 0u);
    EXPECT_TRUE(Runs(sandbox, "explorers").empty()) << "Explorer started it; the agent, which would have started it "
                                                        "before later.bat (a lower Order), did not";
    EXPECT_EQ(RegKey::DeleteTree(HKEY_CURRENT_USER, explorerSession), ERROR_SUCCESS);
}

// The all-users folder is every user's: its file stays there for Windows to
// start for each account, the store lists it by its own path, and the agent
// starts it never; the user's file beside it is taken over and started. A
// refused all-users location (its store a link) spends nothing of the rest:
// the user's file is still taken over and started once that logon.
TEST(LogonStart, AllUsersFilesStayForEveryUserAndAreLeftToWindows)
{
    {
        AgentSandbox sandbox;
        ForgetLogonSession();
        const std::string target = sandbox.PathOf("elsewhere");
        ASSERT_TRUE(ForceDirectories(target));
        const HostLink store(StoreOf(AllUsersFolder), target);
        WriteFile(FolderOf(UserFolder) + "\\own.bat", MarkerBatch(sandbox, "own"));
        RunningAgent agent(sandbox);
        ASSERT_TRUE(RunningAgent::WaitForWindow());
        ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "own").size() == 1; })) << "the other locations go on";
        EXPECT_EQ(LogonMarks(), 1u);
        EXPECT_EQ(agent.Quit(), 0u);
        EXPECT_TRUE(FindFiles(target + "\\*").empty()) << "nothing written through the link";
        EXPECT_FALSE(sandbox.Messages().empty()) << "the refusal says why";
    }
    AgentSandbox sandbox;
    ForgetLogonSession();
    const std::string shared = FolderOf(AllUsersFolder) + "\\shared.bat";
    WriteFile(shared, MarkerBatch(sandbox, "shared"));
    WriteFile(FolderOf(UserFolder) + "\\own.bat", MarkerBatch(sandbox, "own"));
    // An older version moved this one into the store: started there at this
    // logon, once, then back where Windows starts it for every user.
    StoreItem(AllUsersFolder, "older.bat", MarkerBatch(sandbox, "older"), "0", 1);
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "own").size() == 1; }))
        << "the shared file, first in a tie of Order, would have started before it";
    ASSERT_TRUE(WaitUntil([&] { return FileExists(FolderOf(AllUsersFolder) + "\\older.bat"); }))
        << "returned once its logon start was made";
    EXPECT_EQ(Runs(sandbox, "older").size(), 1u) << "started from the store before it went back";
    EXPECT_FALSE(FileExists(StoreOf(AllUsersFolder) + "\\older.bat"));
    const ProfileFile ini(StoreOf(AllUsersFolder) + "\\Keldora.ini");
    ASSERT_TRUE(WaitUntil([&] { return ini.HasSection("shared.bat"); }));
    EXPECT_EQ(agent.Quit(), 0u);
    EXPECT_EQ(ReadFile(shared), MarkerBatch(sandbox, "shared")) << "where Windows starts it for every user";
    EXPECT_FALSE(FileExists(StoreOf(AllUsersFolder) + "\\shared.bat"));
    EXPECT_TRUE(SameText(ini.ReadString("shared.bat", "CmdLine"), shared));
    EXPECT_TRUE(Runs(sandbox, "shared").empty()) << "Windows starts it, not the agent";
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}

// Starts run side by side, each on its own thread (StoppableThreadTest.cpp
// shows a stuck one cancelled and joined): the item due first starts, and
// Exit while the next one waits for its delay ends the agent at once and
// starts nothing more.
TEST(LogonStart, ExitWhileAStartIsPendingEndsTheAgentAndStartsNothingMore)
{
    AgentSandbox sandbox;
    ForgetLogonSession();
    StoreItem(UserFolder, "ontime.bat", MarkerBatch(sandbox, "ontime"), "1", 2);
    StoreItem(UserFolder, "pending.bat", MarkerBatch(sandbox, "pending"), "3600", 3);
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return Runs(sandbox, "ontime").size() == 1; }, 60000));
    EXPECT_EQ(agent.Quit(), 0u) << "the pending start is cancelled, its thread joined";
    EXPECT_TRUE(Runs(sandbox, "pending").empty()) << "not due yet: never started";
    EXPECT_TRUE(FileExists(StoreOf(UserFolder) + "\\pending.bat")) << "stays in its store";
}

// The Restart Manager's close ends the agent (it may start it again); a
// session end another program cancelled leaves the refreshes going.
TEST(LogonStart, ARestartManagerCloseEndsTheAgentAndACancelledEndDoesNot)
{
    AgentSandbox sandbox;
    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    SendMessageTimeoutW(RunningAgent::Window(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 30000,
                        nullptr);
    RunningAgent::Send(WM_ENDSESSION, FALSE);
    WriteFile(FolderOf(UserFolder) + "\\after.bat", MarkerBatch(sandbox, "after"));
    RunningAgent::Send(UM_REFRESH_MENU);
    ASSERT_TRUE(WaitUntil([&] { return FileExists(StoreOf(UserFolder) + "\\after.bat"); }, 60000))
        << "still taking over after the cancelled end";
    EXPECT_EQ(WaitForExit(agent.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));
    SendMessageTimeoutW(RunningAgent::Window(), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 30000,
                        nullptr);
    EXPECT_EQ(WaitForExit(agent.Process(), 60000), 0u) << "ended by the Restart Manager's close";
    EXPECT_TRUE(sandbox.Messages().empty()) << ::testing::PrintToString(sandbox.Messages());
}
