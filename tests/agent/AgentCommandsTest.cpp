// kdAgent.exe /list and /restore, run as the product's uninstaller and
// support run them: from outside, beside a running agent.
#include "AgentTestSupport.h"
#include "agent/AgentQuitEvent.h"
#include "agent/StoreListing.h"
#include "common/AppPaths.h"
#include "common/WineSupport.h"
#include "core/StrCon.h"
#include "startup/FolderStartupMgr.h"
#include "startup/StartupTestSupport.h"
#include "startup/StoreLock.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

namespace {

const std::string kUnicodeName = "Заметки \xE2\x9C\x93 笔记";

// Everything the restore must give back as it was: the values (type and
// bytes) of the Run keys and of Task Manager's keys, and the user's Startup
// folder's files with their contents and attributes.
using Snapshot = std::map<std::string, std::string>;

void AddValues(Snapshot& snapshot, const std::string& where, const RegKey& key)
{
    std::vector<RegKey::Value> values;
    if (!key || key.Values(values) != ERROR_SUCCESS)
        return;
    for (const RegKey::Value& value : values)
        snapshot[where + "|" + value.name] = std::to_string(value.type) + ":" + value.data;
}

Snapshot TakeSnapshot()
{
    Snapshot snapshot;
    AddValues(snapshot, "run1", OpenRunKey(1));
    AddValues(snapshot, "run0/64", OpenRunKey(0, KEY_WOW64_64KEY));
    AddValues(snapshot, "run0/32", OpenRunKey(0, KEY_WOW64_32KEY));
    AddValues(snapshot, "approved1/run", OpenApprovedKey(HKEY_CURRENT_USER, "Run"));
    AddValues(snapshot, "approved1/folder", OpenApprovedKey(HKEY_CURRENT_USER, "StartupFolder"));
    AddValues(snapshot, "approved0/run", OpenApprovedKey(HKEY_LOCAL_MACHINE, "Run"));
    const std::string folder = GetStpDesc(9).Path;
    for (const std::string& name : ListFiles(folder, "*.*")) {
        const std::string path = folder + "\\" + name;
        snapshot["file|" + name] =
            std::to_string(GetFileAttributesW(WideFromUtf8(path).c_str())) + ":" + ReadFile(path);
    }
    return snapshot;
}

bool AnyStoreLeft()
{
    return RegKey::Exists(HKEY_CURRENT_USER, GetStpDesc(1).Path + "\\Keldora") ||
           RegKey::Open(HKEY_LOCAL_MACHINE, GetStpDesc(0).Path + "\\Keldora", KEY_READ | KEY_WOW64_64KEY) ||
           RegKey::Open(HKEY_LOCAL_MACHINE, GetStpDesc(0).Path + "\\Keldora", KEY_READ | KEY_WOW64_32KEY) ||
           DirectoryExists(GetStpDesc(9).Path + "\\Keldora") || DirectoryExists(GetStpDesc(8).Path + "\\Keldora");
}

// Once the agent that held a /restore up has ended (killed with code 9), the
// next /restore puts its Run value back and leaves no store.
void ExpectRestoredOnceEnded(HANDLE agent, const char* name, const char* command)
{
    ASSERT_EQ(WaitForExit(agent, 30000), 9u);
    DWORD exitCode = 0;
    const std::string output = RunAndCapture("kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_EQ(OpenRunKey(1).ReadString(name), command);
    EXPECT_FALSE(AnyStoreLeft()) << output;
}

// The lines of /list, each split into its fields, the header first.
std::vector<std::vector<std::string>> ListedRows(DWORD& exitCode)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(RunAndCapture("kdAgent.exe /list", &exitCode));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        rows.push_back(ListingFields(line));
    }
    return rows;
}

const std::vector<std::string>* RowNamed(const std::vector<std::vector<std::string>>& rows, const std::string& name)
{
    for (const auto& row : rows)
        if (row.size() > 2 && row[2] == name)
            return &row;
    return nullptr;
}

// On forgetfs only a flushed file survives the power cut.
void WriteFlushed(const std::string& path, const std::string& content)
{
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    ASSERT_TRUE(FlushFileBuffers(file.get()));
}

} // namespace

TEST(AgentCommands, ListShowsTheTakeOverAndRestoreGivesEverythingBackOnceForAll)
{
    AgentSandbox sandbox;
    const std::string folder = GetStpDesc(9).Path;
    ASSERT_EQ(OpenRunKey(1).WriteString("Plain", "C:\\Tools\\plain.exe /quiet"), ERROR_SUCCESS);
    ASSERT_EQ(OpenRunKey(1).WriteString("Expanding", "%SystemRoot%\\notepad.exe", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(OpenRunKey(1).WriteString(kUnicodeName, "C:\\Tools\\" + kUnicodeName + ".exe"), ERROR_SUCCESS);
    ASSERT_EQ(OpenRunKey(0, KEY_WOW64_64KEY).WriteString("MachineTool", "C:\\Tools\\machine.exe"), ERROR_SUCCESS);
    const std::string disabled("\x03\0\0\0\0\0\0\0\0\0\0\0", 12);
    ASSERT_EQ(OpenApprovedKey(HKEY_CURRENT_USER, "Run").WriteBinary("Plain", disabled), ERROR_SUCCESS);
    WriteFile(folder + "\\tool.lnk", std::string("L\0\0\0shortcut bytes\r\n", 20));
    WriteFile(folder + "\\" + kUnicodeName + ".txt", "notes");
    ASSERT_EQ(OpenApprovedKey(HKEY_CURRENT_USER, "StartupFolder").WriteBinary("tool.lnk", disabled), ERROR_SUCCESS);
    const Snapshot before = TakeSnapshot();

    RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil([&] { return FileExists(folder + "\\Keldora\\" + kUnicodeName + ".txt"); }));
    ASSERT_TRUE(WaitUntil([] { return StoreHasItem(1, "Plain") && StoreHasItem(0, "MachineTool"); }));
    ASSERT_FALSE(FileExists(folder + "\\tool.lnk"));

    DWORD exitCode = 1;
    const auto rows = ListedRows(exitCode);
    EXPECT_EQ(exitCode, 0u);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Location", "Caption", "Name", "Command line", "Enabled", "Delay",
                                                 "Order", "Taken over"}));
    const std::regex utcTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    const auto* plain = RowNamed(rows, "Plain");
    ASSERT_NE(plain, nullptr);
    ASSERT_EQ(plain->size(), 8u);
    EXPECT_EQ((*plain)[0], "1");
    EXPECT_EQ((*plain)[1], "Current User - Registry Run key");
    EXPECT_EQ((*plain)[3], "C:\\Tools\\plain.exe /quiet");
    EXPECT_EQ((*plain)[4], "0") << "Task Manager had it switched off";
    EXPECT_TRUE(std::regex_match((*plain)[7], utcTime)) << (*plain)[7];
    const auto* unicode = RowNamed(rows, kUnicodeName);
    ASSERT_NE(unicode, nullptr);
    EXPECT_EQ((*unicode)[3], "C:\\Tools\\" + kUnicodeName + ".exe");
    const auto* shortcut = RowNamed(rows, "tool.lnk");
    ASSERT_NE(shortcut, nullptr);
    EXPECT_EQ((*shortcut)[0], "9");
    EXPECT_EQ((*shortcut)[1], "Current User - Startup Folder");
    EXPECT_EQ((*shortcut)[4], "0");
    EXPECT_TRUE(std::regex_match((*shortcut)[7], utcTime));
    const auto* machine = RowNamed(rows, "MachineTool");
    ASSERT_NE(machine, nullptr);
    EXPECT_EQ((*machine)[0], "0");
    EXPECT_NE(RowNamed(rows, "Keldora Agent"), nullptr) << "the agent's own item is listed too";

    // The agent still runs: the restore asks it to quit first.
    const std::string output = RunAndCapture("kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_NE(WaitForExit(agent.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(TakeSnapshot(), before) << output;
    EXPECT_FALSE(AnyStoreLeft());

    const std::string again = RunAndCapture("kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 0u) << again;
    EXPECT_EQ(TakeSnapshot(), before);
    EXPECT_EQ(ListedRows(exitCode).size(), 1u) << "nothing is stored any more";
}

// The Startup folder on forgetfs: the power goes the moment /restore has
// ended, before anything it wrote reached the disk unasked; /restore again
// then finds every file back whole or still in the store, and finishes.
TEST(AgentCommands, APowerCutAfterRestoreThenRestoreAgainLosesNothing)
{
    const ForgettingStartupFolder disk;
    if (!disk.Unavailable().empty())
        GTEST_SKIP() << disk.Unavailable();
    AgentSandbox sandbox;
    ASSERT_TRUE(disk.Ready());
    const std::string& folder = disk.Folder();
    std::map<std::string, std::string> contents;
    for (int i = 0; i < 5; ++i)
        contents["app" + std::to_string(i) + ".bat"] = "@echo " + std::to_string(i) + "\r\n" + std::string(4000 + i, 'x');
    contents[kUnicodeName + ".txt"] = "notes";
    for (const auto& [name, content] : contents)
        WriteFlushed(folder + "\\" + name, content);
    ASSERT_NO_FATAL_FAILURE(RunAgentUntil(sandbox, [&] { return ListFiles(folder, "*.*").empty(); }));
    disk.PowerCut();
    ASSERT_EQ(ListFiles(folder + "\\Keldora", "*.*").size(), contents.size() + 1) << "the take-over is durable";

    DWORD exitCode = 1;
    const std::string first = RunAndCapture("kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 0u) << first;
    disk.PowerCut();
    const std::string second = RunAndCapture("kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 0u) << second;
    for (const auto& [name, content] : contents)
        EXPECT_EQ(ReadFile(folder + "\\" + name), content) << name;
    EXPECT_EQ(ListFiles(folder, "*.*").size(), contents.size());
    EXPECT_FALSE(DirectoryExists(folder + "\\Keldora"));
}

// Task Manager's choices for files in the store, gone from its key as
// Windows drops the choices of files no longer there: /restore stops for good
// after each file it puts back, the power goes, and /restore again gives
// every file back with its choice; a file never comes back enabled when the
// user had it disabled, and no choice is left for a file still in the store.
TEST(AgentCommands, APowerCutAfterEachFilePutBackKeepsTaskManagersChoices)
{
    const ForgettingStartupFolder disk;
    if (!disk.Unavailable().empty())
        GTEST_SKIP() << disk.Unavailable();
    AgentSandbox sandbox;
    ASSERT_TRUE(disk.Ready());
    const std::string& folder = disk.Folder();
    ASSERT_TRUE(SameText(GetStpDesc(9).Path, folder));
    const std::string disabled("\x03\0\0\0\0\0\0\0\0\0\0\0", 12);
    const std::string enabled("\x02\0\0\0\0\0\0\0\0\0\0\0", 12);
    const std::map<std::string, std::string> choices = {{"off.lnk", disabled}, {"on.bat", enabled},
                                                        {kUnicodeName + ".bat", disabled}};
    const std::string eventName = "KeldoraRestoreHalt" + std::to_string(GetCurrentProcessId());
    const UniqueKernelHandle halted(CreateEventW(nullptr, TRUE, FALSE, WideFromUtf8(eventName).c_str()));
    int halts = 0;
    bool finished = false;
    for (int step = 1; !finished; ++step) {
        SCOPED_TRACE("cut after step " + std::to_string(step));
        ASSERT_LT(step, 6) << "the restore never finished";
        for (const auto& [name, choice] : choices) {
            WriteFlushed(folder + "\\" + name, "@rem " + name);
            ASSERT_EQ(OpenApprovedKey(HKEY_CURRENT_USER, "StartupFolder").WriteBinary(name, choice), ERROR_SUCCESS);
        }
        const Snapshot before = TakeSnapshot();
        ASSERT_NO_FATAL_FAILURE(RunAgentUntil(sandbox, [&] { return ListFiles(folder, "*.*").empty(); }));
        for (const auto& entry : choices)
            ASSERT_EQ(OpenApprovedKey(HKEY_CURRENT_USER, "StartupFolder").DeleteValue(entry.first), ERROR_SUCCESS);
        disk.PowerCut();

        ResetEvent(halted.get());
        {
            const EnvVarScope haltEvent("KDAGENT_HALT_EVENT", eventName);
            const EnvVarScope halt("KDAGENT_HALT_AT_STEP", std::to_string(step));
            const UniqueKernelHandle restore = StartProcess("\"" + sandbox.PathOf("kdAgent.exe") + "\" /restore");
            const HANDLE either[] = {restore.get(), halted.get()};
            ASSERT_NE(WaitForMultipleObjects(2, either, FALSE, 60000), static_cast<DWORD>(WAIT_TIMEOUT));
            finished = WaitForSingleObject(halted.get(), 0) != WAIT_OBJECT_0;
            halts += !finished;
            if (!finished) {
                EXPECT_TRUE(DirectoryExists(folder + "\\Keldora")) << "stopped with a file still to put back";
                const std::vector<std::string> listed = ListFiles(folder, "*.*");
                const std::set<std::string> back(listed.begin(), listed.end());
                for (const auto& entry : choices) {
                    const bool inStore = back.count(entry.first) == 0;
                    EXPECT_FALSE(inStore && OpenApprovedKey(HKEY_CURRENT_USER, "StartupFolder").HasValue(entry.first))
                        << entry.first << ": no choice for a file still in the store";
                }
            }
            TerminateProcess(restore.get(), 9);
            WaitForExit(restore.get(), 30000);
        }
        disk.PowerCut();
        DWORD exitCode = 1;
        const std::string output = RunAndCapture("kdAgent.exe /restore", &exitCode);
        EXPECT_EQ(exitCode, 0u) << output;
        EXPECT_EQ(TakeSnapshot(), before) << output;
        EXPECT_FALSE(DirectoryExists(folder + "\\Keldora"));
        ClearLocation(9);
    }
    EXPECT_EQ(halts, static_cast<int>(choices.size())) << "cut after each file put back, then once it had ended";
}

namespace {

// A kdAgent.exe of its own instance on a desktop of its own, where no window
// of this desktop's can see its window, as in another session of the user
// (Wine has one session only).
// With `suspended`, the process is made suspended and its thread handed out.
UniqueKernelHandle StartOnDesktop(const std::string& commandLine, const std::wstring& desktop,
                                  UniqueKernelHandle* suspended = nullptr)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring name = L"WinSta0\\" + desktop;
    startup.lpDesktop = name.data();
    PROCESS_INFORMATION info = {};
    std::wstring line = WideFromUtf8(commandLine);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, suspended ? CREATE_SUSPENDED : 0, nullptr,
                        nullptr, &startup, &info))
        return {};
    UniqueKernelHandle thread(info.hThread);
    if (suspended)
        *suspended = std::move(thread);
    return UniqueKernelHandle(info.hProcess);
}

BOOL CALLBACK CountAgentWindow(HWND window, LPARAM counted)
{
    wchar_t name[16] = {};
    if (GetClassNameW(window, name, 16) && std::wstring_view(name) == L"TAgentForm")
        ++*reinterpret_cast<int*>(counted);
    return TRUE;
}

int AgentWindowCount()
{
    int count = 0;
    EnumWindows(CountAgentWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// A command's mark for the process, owned by the user, as any program of the
// user can make one.
UniqueKernelHandle PlantCommandMark(DWORD processId)
{
    std::string name = AgentQuitEventName(processId);
    const std::size_t kind = name.find(".Quit.");
    const std::size_t sidAt = kind + 6;
    const std::string sid = name.substr(sidAt, name.rfind('.') - sidAt);
    name.replace(kind, 6, ".Command.");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            WideFromUtf8("O:" + sid + "D:(A;;GA;;;" + sid + ")").c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return {};
    const UniqueLocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    return UniqueKernelHandle(CreateEventW(&attributes, TRUE, FALSE, WideFromUtf8(name).c_str()));
}

} // namespace

// An agent this desktop's windows cannot reach, beside one they can: /restore
// asks both, the far one through its quit event, waits for both and then
// restores. The event is the user's own and open to the user and the system
// alone. A command's mark another program of the user made for either of
// them spares neither from the asking.
TEST(AgentCommands, RestoreAsksTheUsersAgentsOfOtherSessionsThroughTheirQuitEvent)
{
    AgentSandbox sandbox;
    ASSERT_EQ(OpenRunKey(1).WriteString("FarTool", "C:\\Tools\\far.exe"), ERROR_SUCCESS);
    RunningAgent nearAgent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    const std::wstring desktopName = L"KeldoraFar" + std::to_wstring(GetCurrentProcessId());
    const UniqueDesktop desktop(CreateDesktopW(desktopName.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr));
    ASSERT_TRUE(desktop);
    UniqueKernelHandle farAgent;
    {
        const EnvVarScope session("KDAGENT_INSTANCE", "far");
        farAgent = StartOnDesktop("\"" + sandbox.PathOf("kdAgent.exe") + "\"", desktopName);
    }
    ASSERT_TRUE(farAgent);
    const std::string eventName = AgentQuitEventName(GetProcessId(farAgent.get()));
    ASSERT_TRUE(WaitUntil([&] {
        return UniqueKernelHandle(OpenEventW(SYNCHRONIZE, FALSE, WideFromUtf8(eventName).c_str())).get() != nullptr;
    })) << eventName;
    EXPECT_EQ(AgentWindowCount(), 1) << "the far agent's window is out of this desktop's reach";

    const UniqueKernelHandle event(OpenEventW(READ_CONTROL, FALSE, WideFromUtf8(eventName).c_str()));
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(event.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const UniqueLocalMemory ownedDescriptor(descriptor);
    wchar_t* ownerText = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(owner, &ownerText));
    const UniqueLocalMemory ownedText(ownerText);
    EXPECT_NE(eventName.find("." + Utf8FromWide(ownerText) + "."), std::string::npos) << "owned by the user it names";
    ASSERT_NE(dacl, nullptr);
    std::set<std::string> allowed;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        ASSERT_EQ(static_cast<ACE_HEADER*>(ace)->AceType, ACCESS_ALLOWED_ACE_TYPE);
        wchar_t* sid = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidW(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, &sid));
        const UniqueLocalMemory ownedSid(sid);
        allowed.insert(Utf8FromWide(sid));
    }
    EXPECT_EQ(allowed, (std::set<std::string>{Utf8FromWide(ownerText), "S-1-5-18"})) << "the user and the system";
    const UniqueKernelHandle nearMark = PlantCommandMark(GetProcessId(nearAgent.Process()));
    const UniqueKernelHandle farMark = PlantCommandMark(GetProcessId(farAgent.get()));
    ASSERT_TRUE(nearMark && farMark) << GetLastError();
    ASSERT_TRUE(IsCommandOfThisUser(GetProcessId(farAgent.get()))) << "taken for the user's mark";

    DWORD exitCode = 1;
    const std::string output = RunAndCapture("kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_EQ(WaitForExit(farAgent.get(), 0), 0u) << "the far agent quit as asked";
    EXPECT_NE(WaitForExit(nearAgent.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(OpenRunKey(1).ReadString("FarTool"), "C:\\Tools\\far.exe");
    EXPECT_FALSE(AnyStoreLeft()) << output;
    if (WaitForExit(farAgent.get(), 0) == STILL_ACTIVE)
        TerminateProcess(farAgent.get(), 9);
}

// Another user took an agent's quit event name before the agent could (its
// process id guessed), so that agent, out of this desktop's reach, cannot be
// asked: /restore finds it by its process, names it, restores nothing and
// exits 1, and the agent's log says why it has no event. Once it is gone,
// /restore goes through.
TEST(AgentCommands, RestoreRefusesWhileAnAgentOfTheUsersCannotBeAsked)
{
    AgentSandbox sandbox;
    const std::string program = sandbox.AddAgentProgram();
    const std::wstring desktopName = L"KeldoraTaken" + std::to_wstring(GetCurrentProcessId());
    const UniqueDesktop desktop(CreateDesktopW(desktopName.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr));
    ASSERT_TRUE(desktop);
    UniqueKernelHandle thread;
    UniqueKernelHandle agent;
    {
        const EnvVarScope session("KDAGENT_INSTANCE", "taken");
        agent = StartOnDesktop("\"" + program + "\"", desktopName, &thread);
    }
    ASSERT_TRUE(agent);
    // Ended also when a check below gives up, so no later test meets it.
    const struct EndAtExit {
        HANDLE process;
        ~EndAtExit()
        {
            if (WaitForExit(process, 0) == STILL_ACTIVE)
                TerminateProcess(process, 9);
        }
    } ender{agent.get()};
    const DWORD agentId = GetProcessId(agent.get());
    const std::string eventName = AgentQuitEventName(agentId);
    // As another user would make it: owned by someone else (the system here).
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    const UniqueLocalMemory ownedDescriptor(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const UniqueKernelHandle squatter(
        CreateEventW(&attributes, TRUE, FALSE, WideFromUtf8(eventName).c_str()));
    ASSERT_TRUE(squatter) << GetLastError();
    ASSERT_NE(ResumeThread(thread.get()), static_cast<DWORD>(-1));
    const std::string log = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA) + "\\Keldora\\kdAgent.log";
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(log).find(eventName) != std::string::npos; })) << eventName;
    const std::string logged = ReadFile(log);
    EXPECT_NE(logged.find("\"" + eventName + "\" existed before the agent made it"), std::string::npos) << logged;
    ASSERT_TRUE(WaitUntil([] { return !StoreValue(0, "Keldora Agent", "CmdLine").empty(); }));
    AddRunValue(1, "TakenTool", "C:\\Tools\\taken.exe");
    ASSERT_TRUE(WaitUntil([] { return StoreHasItem(1, "TakenTool"); }));

    DWORD exitCode = 0;
    const ULONGLONG asked = GetTickCount64();
    const std::string output = RunAndCapture("kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 1u) << output;
    EXPECT_LT(GetTickCount64() - asked, 20000u) << "refused within the bound for finding a way to ask";
    EXPECT_NE(output.find("(process " + std::to_string(agentId) + ") cannot be asked to quit"), std::string::npos)
        << output;
    EXPECT_NE(output.find("Nothing was restored."), std::string::npos) << output;
    EXPECT_EQ(WaitForExit(agent.get(), 0), static_cast<DWORD>(STILL_ACTIVE)) << "nobody was asked";
    EXPECT_TRUE(StoreHasItem(1, "TakenTool")) << "nothing restored";
    EXPECT_EQ(WaitForSingleObject(squatter.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the taken event not set";

    TerminateProcess(agent.get(), 9);
    ExpectRestoredOnceEnded(agent.get(), "TakenTool", "C:\\Tools\\taken.exe");
}

// Another administrator's agent holds the machine's lock (the all-users
// store's Keldora.lock): /restore leaves the machine's Run store as it is and
// says why, restores the user's, and once the lock is free restores the rest.
TEST(AgentCommands, TheMachinesRunStoreIsRestoredOnlyUnderTheMachinesLock)
{
    AgentSandbox sandbox;
    ASSERT_EQ(OpenRunKey(0, KEY_WOW64_64KEY).WriteString("MachineTool", "C:\\Tools\\machine.exe"), ERROR_SUCCESS);
    ASSERT_EQ(OpenRunKey(1).WriteString("UserTool", "C:\\Tools\\user.exe"), ERROR_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(
        RunAgentUntil(sandbox, [] { return StoreHasItem(0, "MachineTool") && StoreHasItem(1, "UserTool"); }));
    const std::string lockPath = GetStpDesc(8).Path + "\\Keldora\\Keldora.lock";
    DWORD exitCode = 0;
    std::string output;
    {
        const UniqueFile held(CreateFileW(WideFromUtf8(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                          nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        ASSERT_TRUE(held) << lockPath;
        output = RunAndCapture("kdAgent.exe /restore", &exitCode);
    }
    EXPECT_EQ(exitCode, 1u) << output;
    EXPECT_NE(output.find("Keldora.lock"), std::string::npos) << output;
    EXPECT_TRUE(StoreHasItem(0, "MachineTool")) << "the machine's store is kept while another holds its lock";
    EXPECT_FALSE(StoreHasItem(1, "UserTool")) << output;
    EXPECT_TRUE(AnyStoreLeft());

    output = RunAndCapture("kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 0u) << output;
    EXPECT_FALSE(AnyStoreLeft()) << output;
    EXPECT_EQ(OpenRunKey(0, KEY_WOW64_64KEY).ReadString("MachineTool"), "C:\\Tools\\machine.exe");
    EXPECT_EQ(OpenRunKey(1).ReadString("UserTool"), "C:\\Tools\\user.exe");
}

// An unelevated /restore (the Administrators group for deny only): the user's
// stores come back, the machine's stores stay whole, and the output says
// that they need an elevated run.
TEST(AgentCommands, AnUnelevatedRestoreLeavesTheMachinesStoresAndSaysWhy)
{
    AgentSandbox sandbox;
    const std::string allUsers = GetStpDesc(8).Path;
    ASSERT_EQ(OpenRunKey(0, KEY_WOW64_64KEY).WriteString("MachineTool", "C:\\Tools\\machine.exe"), ERROR_SUCCESS);
    ASSERT_EQ(OpenRunKey(1).WriteString("UserTool", "C:\\Tools\\user.exe"), ERROR_SUCCESS);
    WriteFile(allUsers + "\\everyone.bat", "@echo everyone");
    ASSERT_NO_FATAL_FAILURE(RunAgentUntil(sandbox, [&] {
        return StoreHasItem(0, "MachineTool") && StoreHasItem(1, "UserTool") &&
               FileExists(allUsers + "\\Keldora\\Keldora.ini");
    }));
    const std::string machineIndex = ReadFile(allUsers + "\\Keldora\\Keldora.ini");
    const UniqueKernelHandle token = TokenWithoutAdministrators();
    ASSERT_TRUE(token);
    DWORD exitCode = 0;
    const std::string output = RunAndCaptureAs(token.get(), "kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 1u) << output;
    EXPECT_NE(output.find(std::string(StartupLocationCaptions[0]) + ": the machine-wide store needs an elevated /restore"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find(std::string(StartupLocationCaptions[8]) + ": the machine-wide store needs an elevated /restore"),
              std::string::npos)
        << output;
    EXPECT_TRUE(StoreHasItem(0, "MachineTool"));
    EXPECT_EQ(ReadFile(allUsers + "\\Keldora\\Keldora.ini"), machineIndex) << "the machine's index unchanged";
    EXPECT_EQ(ReadFile(allUsers + "\\everyone.bat"), "@echo everyone");
    EXPECT_FALSE(StoreHasItem(1, "UserTool")) << "the user's store is restored";
    EXPECT_EQ(OpenRunKey(1).ReadString("UserTool"), "C:\\Tools\\user.exe");
}

namespace {

// The sandbox's kdAgent.exe, of this session, whose process (and so its token) the user
// cannot open, as one started by another account in the user's session
// would be; ended with the object.
class ClosedAgent {
public:
    explicit ClosedAgent(const AgentSandbox& sandbox)
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", SDDL_REVISION_1, &descriptor,
                                                                  nullptr))
            return;
        const UniqueLocalMemory ownedDescriptor(descriptor);
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        std::wstring line = WideFromUtf8("\"" + sandbox.AgentProgram() + "\"");
        if (!CreateProcessW(nullptr, line.data(), &attributes, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                            &startup, &info))
            return;
        const UniqueKernelHandle thread(info.hThread);
        process_.reset(info.hProcess);
        id_ = info.dwProcessId;
    }
    ~ClosedAgent() { End(); }
    ClosedAgent(const ClosedAgent&) = delete;
    ClosedAgent& operator=(const ClosedAgent&) = delete;

    HANDLE Process() const { return process_.get(); }
    DWORD Id() const { return id_; }
    bool End() const { return process_ && TerminateProcess(process_.get(), 9); }

private:
    UniqueKernelHandle process_;
    DWORD id_ = 0;
};

// A user's item taken over by an agent that has quit since.
void TakeOverAndQuit(const AgentSandbox& sandbox, const std::string& name, const std::string& commandLine)
{
    AddRunValue(1, name, commandLine);
    RunAgentUntil(sandbox, [&] { return StoreHasItem(1, name); });
}

// A command run on a thread of the test's, with when it ended.
struct CommandRun {
    std::string output;
    DWORD exitCode = 0;
    ULONGLONG endedAt = 0;
};

std::thread RunInThread(CommandRun& run, const char* command)
{
    return std::thread([&run, command] {
        try {
            run.output = RunAndCapture(command, &run.exitCode);
        } catch (const std::exception& e) {
            run.output = e.what();
            run.exitCode = STILL_ACTIVE;
        }
        run.endedAt = GetTickCount64();
    });
}

} // namespace

// /restore cannot tell whose the closed agent is, so it asks nobody, names
// it, restores nothing and exits 1; once it is gone, /restore goes through.
TEST(AgentCommands, RestoreRefusesBesideAnAgentOfThisSessionWhoseUserCannotBeRead)
{
    AgentSandbox sandbox;
    ASSERT_NO_FATAL_FAILURE(TakeOverAndQuit(sandbox, "HiddenTool", "C:\\Tools\\hidden.exe"));
    const ClosedAgent hidden(sandbox);
    ASSERT_TRUE(hidden.Process());
    ASSERT_EQ(UniqueKernelHandle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, hidden.Id())).get(), nullptr)
        << "the process is closed to the user";
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    DWORD exitCode = 0;
    const std::string output = RunAndCapture("kdAgent.exe /restore", &exitCode);
    EXPECT_EQ(exitCode, 1u) << output;
    EXPECT_NE(output.find("(process " + std::to_string(hidden.Id()) +
                          ") cannot be asked to quit: its user could not be read."),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("Nothing was restored."), std::string::npos) << output;
    EXPECT_TRUE(StoreHasItem(1, "HiddenTool")) << "nothing restored";
    EXPECT_EQ(WaitForExit(hidden.Process(), 0), static_cast<DWORD>(STILL_ACTIVE));

    ASSERT_TRUE(hidden.End());
    ExpectRestoredOnceEnded(hidden.Process(), "HiddenTool", "C:\\Tools\\hidden.exe");
}

// A /list started while a /restore runs (held up here by an agent it
// cannot ask) waits for the whole /restore, then lists the stores it left;
// two /restore at once restore once between them.
TEST(AgentCommands, CommandsOfOneUserRunOneAfterTheOther)
{
    AgentSandbox sandbox;
    ASSERT_NO_FATAL_FAILURE(TakeOverAndQuit(sandbox, "QueuedTool", "C:\\Tools\\queued.exe"));
    {
        const ClosedAgent hidden(sandbox);
        ASSERT_TRUE(hidden.Process());
        CommandRun restore, list;
        std::thread restoring = RunInThread(restore, "kdAgent.exe /restore");
        const bool held = WaitUntil([] { return !TStoreLock(/*timeoutMs=*/0).Acquired(); }, 10000);
        std::thread listing = RunInThread(list, "kdAgent.exe /list");
        restoring.join();
        listing.join();
        ASSERT_TRUE(held) << "the /restore holds the stores while it asks: " << restore.output;
        EXPECT_EQ(restore.exitCode, 1u) << restore.output;
        EXPECT_NE(restore.output.find("Nothing was restored."), std::string::npos) << restore.output;
        EXPECT_EQ(restore.output.find("cannot be asked"), restore.output.rfind("cannot be asked"))
            << "the waiting /list is taken for no agent: " << restore.output;
        EXPECT_EQ(list.exitCode, 0u) << list.output;
        EXPECT_GE(list.endedAt, restore.endedAt) << "the /list waited for the /restore";
        EXPECT_NE(list.output.find("QueuedTool"), std::string::npos) << list.output;
    }

    CommandRun first, second;
    std::thread one = RunInThread(first, "kdAgent.exe /restore");
    std::thread other = RunInThread(second, "kdAgent.exe /restore");
    one.join();
    other.join();
    for (const CommandRun* run : {&first, &second}) {
        EXPECT_EQ(run->exitCode, 0u) << run->output;
        EXPECT_NE(run->output.find("Every stored item is back."), std::string::npos) << run->output;
    }
    EXPECT_EQ(OpenRunKey(1).ReadString("QueuedTool"), "C:\\Tools\\queued.exe");
    EXPECT_FALSE(AnyStoreLeft());
}


// A /list whose reader does not read yet (its output outgrows the pipe's
// buffer) lets the stores go before it writes: only the command waits.
TEST(AgentCommands, AReaderThatDoesNotReadHoldsUpTheCommandNotTheStores)
{
    AgentSandbox sandbox;
    ASSERT_NO_FATAL_FAILURE(TakeOverAndQuit(sandbox, "StalledTool", "C:\\Tools\\" + std::string(300, 's') + ".exe"));
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherited, /*nSize=*/64));
    const UniqueKernelHandle reader(readEnd);
    UniqueKernelHandle writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writer.get();
    PROCESS_INFORMATION info = {};
    std::wstring line = WideFromUtf8("\"" + GetAppFolder() + "kdAgent.exe\" /list");
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info));
    const UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    writer.reset();

    DWORD pending = 0;
    const bool writing = WaitUntil([&] {
        return PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &pending, nullptr) && pending > 0;
    });
    const bool stillWriting = WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
    const bool storesFree = TStoreLock(/*timeoutMs=*/0).Acquired();
    std::string output;
    char chunk[4096];
    for (DWORD read = 0; ReadFile(reader.get(), chunk, sizeof chunk, &read, nullptr) && read > 0;)
        output.append(chunk, read);
    EXPECT_TRUE(writing);
    EXPECT_TRUE(stillWriting) << "the output outgrew the pipe: " << pending << " bytes in it";
    EXPECT_TRUE(storesFree) << "the stores are let go before the output is written";
    EXPECT_EQ(WaitForExit(process.get()), 0u);
    EXPECT_NE(output.find("StalledTool"), std::string::npos) << output;
}

// An agent started while a /restore waits for one still starting (a process
// held suspended, ended once the other has started) is asked too before the
// stores are let go, so it takes nothing over again. It waits for the lock
// in its start and quits as soon as it is asked there, having written nothing.
TEST(AgentCommands, AnAgentStartedDuringARestoreIsAskedBeforeTheStoresAreLetGo)
{
    AgentSandbox sandbox;
    const std::string program = sandbox.AddAgentProgram();
    ASSERT_NO_FATAL_FAILURE(TakeOverAndQuit(sandbox, "LateTool", "C:\\Tools\\late.exe"));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring line = WideFromUtf8("\"" + program + "\"");
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                               &startup, &info));
    const UniqueKernelHandle starting(info.hProcess), startingThread(info.hThread);
    CommandRun restore;
    std::thread restoring = RunInThread(restore, "kdAgent.exe /restore");
    const bool held = WaitUntil([] { return !TStoreLock(/*timeoutMs=*/0).Acquired(); }, 10000);
    // By now the restore has listed the user's agents; it looks for the
    // starting one's window for five seconds.
    Sleep(1000);
    RunningAgent late(sandbox);
    TerminateProcess(starting.get(), 9);
    restoring.join();
    ASSERT_TRUE(held) << restore.output;
    EXPECT_EQ(restore.exitCode, 0u) << restore.output;
    EXPECT_NE(WaitForExit(late.Process(), 0), static_cast<DWORD>(STILL_ACTIVE)) << "gone before the stores were let go";
    EXPECT_EQ(WaitForExit(late.Process(), 0), 0u) << "it quit as asked, not as a start that failed";
    for (const std::string& message : sandbox.Messages())
        EXPECT_EQ(message.find("could not be locked"), std::string::npos) << message;
    EXPECT_EQ(OpenRunKey(1).ReadString("LateTool"), "C:\\Tools\\late.exe");
    EXPECT_FALSE(AnyStoreLeft()) << restore.output;
}
