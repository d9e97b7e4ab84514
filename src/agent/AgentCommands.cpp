#include "AgentCommands.h"

#include "agent/AdminCheck.h"
#include "agent/AgentQuitEvent.h"
#include "agent/AgentResources.h"
#include "agent/StoreListing.h"
#include "agent/uAgentForm.h"
#include "common/AppPaths.h"
#include "core/StrCon.h"
#include "startup/FolderStartupMgr.h"
#include "startup/RegStartupMgr.h"
#include "startup/StoreLinks.h"
#include "startup/StoreLock.h"
#include "startup/StoreMove.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <wtsapi32.h>

#include <algorithm>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

namespace {

struct TerminalMemoryTraits {
    using Type = void*;
    static Type invalid() { return nullptr; }
    static void close(Type memory) { WTSFreeMemory(memory); }
};
using UniqueTerminalMemory = UniqueHandle<TerminalMemoryTraits>;

constexpr std::uint8_t kWatchedLocations[] = {0, 1, 8, 9};
constexpr DWORD kAgentQuitTimeoutMs = 30000;
// How long an agent still starting may take to make its window or quit event.
constexpr DWORD kAgentAskableTimeoutMs = 5000;
// Long enough for another command's whole run: it asks and waits for the
// agents, restores under the store lock's own bound, then asks once more.
constexpr DWORD kCommandLockTimeoutMs = 2 * (kAgentAskableTimeoutMs + kAgentQuitTimeoutMs) + kStoreLockTimeoutMs;

// What a command has to say, kept until the store lock is let go: a reader
// that does not read (a pipe nobody drains, a console held in selection)
// then holds up this program alone, never the user's agents and commands.
class CommandOutput {
public:
    void Write(const std::string& text) { text_ += text; }
    void Line(const std::string& text) { Write(text + "\r\n"); }

    // To the inherited standard output, else the parent's console.
    void Send() const
    {
        HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
        UniqueFile console;
        if (!handle || handle == INVALID_HANDLE_VALUE) {
            if (!AttachConsole(ATTACH_PARENT_PROCESS))
                return;
            console.reset(CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
            if (!console)
                return;
            handle = console.get();
        }
        DWORD mode = 0;
        if (GetConsoleMode(handle, &mode)) {
            const std::wstring wide = WideFromUtf8(text_);
            WriteAllOf(wide, [&](const wchar_t* at, DWORD size, DWORD* written) {
                return WriteConsoleW(handle, at, size, written, nullptr);
            });
            return;
        }
        WriteAllOf(text_, [&](const char* at, DWORD size, DWORD* written) {
            return WriteFile(handle, at, size, written, nullptr);
        });
    }

private:
    // In pieces a console of any version takes (a pair of UTF-16 units never
    // split), until all is written or a write fails.
    template <typename Text, typename WriteStep>
    static void WriteAllOf(const Text& text, WriteStep write)
    {
        constexpr std::size_t kPiece = 8192;
        for (std::size_t at = 0; at < text.size();) {
            DWORD written = 0;
            DWORD size = static_cast<DWORD>(std::min(kPiece, text.size() - at));
            if (sizeof text[0] == 2 && size > 1 && (text[at + size - 1] & 0xFC00) == 0xD800)
                --size;
            if (!write(text.data() + at, size, &written) || written == 0)
                return;
            at += written;
        }
    }

    std::string text_;
};

int ListStores(CommandOutput& out)
{
    std::string text = ListingHeader();
    for (const std::uint8_t location : kWatchedLocations) {
        for (const REGSAM view : LocationViews(location)) {
            const std::unique_ptr<TBaseStartupMgr> mgr = CreateStartupMgr(location, view);
            for (int i = 0; i < mgr->Count(); ++i) {
                const TStartupItem& item = *mgr->Items(i);
                text += ListingLine({location, StartupLocationCaptions[location], item.Desc.str(), item.CmdLine.str(),
                                     item.Enable, item.DelayTime, item.Order, item.TakenOver.str()});
            }
        }
    }
    out.Write(text);
    return 0;
}

BOOL CALLBACK AddAgentWindow(HWND window, LPARAM windows)
{
    wchar_t name[16] = {};
    if (GetClassNameW(window, name, 16) && std::wstring_view(name) == L"TAgentForm")
        reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

std::vector<HWND> AgentWindows()
{
    std::vector<HWND> windows;
    EnumWindows(AddAgentWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

DWORD ProcessOf(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

struct UsersAgent {
    DWORD processId = 0;
    UniqueKernelHandle process;  // opened before the asking, so no other process can take its id
    HWND window = nullptr;       // on this desktop
    UniqueKernelHandle quit;     // else its quit event

    // In this session, its token unreadable: it may be the user's, so it is
    // never taken for another user's, nor asked.
    bool userUnknown = false;
    // A /list or /restore of the user's, waiting for this one or holding it up.
    bool command = false;

    bool Ended() const { return process && WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0; }
    bool NeedsNoAsking() const { return command || Ended(); }
    bool Askable() const { return !userUnknown && (window || quit); }
};

// Every process of the agent's image that runs as this user, found by its
// process and token, not by anything it made: another user can take an
// agent's quit event name first, not hide its process. One whose token
// cannot be read counts as the user's in this session (it would be left
// running otherwise) and, in other sessions, as the user's only when it has
// the user's quit event. The user's agent windows on this desktop count too.
std::vector<UsersAgent> UsersAgents()
{
    std::vector<UsersAgent> agents;
    // Any program on this desktop may make a window of the agent's class:
    // only the user's own count, or another user could hold every restore.
    const auto addIfTheUsers = [&agents](DWORD processId, bool unknownUserCounts) {
        UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        const std::optional<bool> users = process ? RunsAsThisUser(process.get()) : std::nullopt;
        if (users.value_or(false)) {
            agents.push_back({processId, std::move(process), nullptr, {}});
        } else if (!users && unknownUserCounts) {
            if (!process)
                process.reset(OpenProcess(SYNCHRONIZE, FALSE, processId));
            agents.push_back({processId, std::move(process), nullptr, {}, /*userUnknown=*/true});
        } else if (!users) {
            // Only the user can own the quit event, so one found tells an
            // agent of theirs whose token this process may not read (an
            // elevated one in another session), and is its way to be asked.
            if (UniqueKernelHandle quit = OpenAgentQuitEvent(processId)) {
                if (!process)
                    process.reset(OpenProcess(SYNCHRONIZE, FALSE, processId));
                agents.push_back({processId, std::move(process), nullptr, std::move(quit)});
            }
        }
    };
    const std::string image = GetAppPath().substr(GetAppFolder().size());
    // The system's list gives each process's session without opening it,
    // which another user's process would not allow.
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    WTS_PROCESS_INFOW* listed = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &listed, &count))
        throw std::runtime_error("The running processes could not be listed: " + ErrorText(GetLastError()));
    const UniqueTerminalMemory ownedList(listed);
    for (const WTS_PROCESS_INFOW& entry : std::span(listed, count)) {
        if (entry.ProcessId != GetCurrentProcessId() && entry.pProcessName &&
            SameText(Utf8FromWide(entry.pProcessName), image))
            addIfTheUsers(entry.ProcessId, /*unknownUserCounts=*/entry.SessionId == session);
    }
    for (const HWND window : AgentWindows()) {
        const DWORD processId = ProcessOf(window);
        const bool known = std::any_of(agents.begin(), agents.end(),
                                       [&](const UsersAgent& agent) { return agent.processId == processId; });
        if (!known && processId != GetCurrentProcessId())
            addIfTheUsers(processId, /*unknownUserCounts=*/false);
    }
    return agents;
}

// Each agent's way to be asked: its window on this desktop, else its quit
// event. An agent still starting has neither yet, so they are looked for
// again within a bound; one that ends meanwhile needs none.
bool FindWaysToAsk(std::vector<UsersAgent>& agents, CommandOutput& out)
{
    const ULONGLONG until = GetTickCount64() + kAgentAskableTimeoutMs;
    for (;;) {
        const std::vector<HWND> windows = AgentWindows();
        bool missing = false;
        for (UsersAgent& agent : agents) {
            if (!agent.Askable() && !agent.NeedsNoAsking()) {
                if (!agent.userUnknown) {
                    const auto window = std::find_if(windows.begin(), windows.end(),
                                                     [&](HWND w) { return ProcessOf(w) == agent.processId; });
                    if (window != windows.end())
                        agent.window = *window;
                    else
                        agent.quit = OpenAgentQuitEvent(agent.processId);
                }
                // A command's mark is the user's alone, so it counts even for
                // a process whose token this one may not read (an elevated
                // one); but any program of the user may make one, so it never
                // spares a process that can be asked as an agent is.
                agent.command = !agent.Askable() && IsCommandOfThisUser(agent.processId);
            }
            missing = missing || !(agent.Askable() || agent.NeedsNoAsking());
        }
        if (!missing)
            return true;
        if (GetTickCount64() >= until)
            break;
        Sleep(100);
    }
    for (const UsersAgent& agent : agents) {
        if (agent.Askable() || agent.NeedsNoAsking())
            continue;
        const std::string named = "The running agent (process " + std::to_string(agent.processId) + ")";
        if (agent.userUnknown)
            out.Line(named + " cannot be asked to quit: its user could not be read.");
        else
            out.Line(named + " cannot be asked to quit: it has no window on this desktop and no quit event of its own.");
    }
    return false;
}

// Every agent of this user is asked to quit and waited for, within one
// bound: one left running would take the restored entries over again. None
// is asked while one of them cannot be.
bool AgentsQuit(CommandOutput& out)
{
    std::vector<UsersAgent> agents = UsersAgents();
    if (!FindWaysToAsk(agents, out))
        return false;
    for (const UsersAgent& agent : agents) {
        if (agent.window)
            PostMessageW(agent.window, UM_QUIT, 0, 0);
        else if (agent.quit)
            SetEvent(agent.quit.get());
    }
    const DWORD start = GetTickCount();
    bool allGone = true;
    for (const UsersAgent& agent : agents) {
        const DWORD spent = GetTickCount() - start;
        const DWORD left = spent < kAgentQuitTimeoutMs ? kAgentQuitTimeoutMs - spent : 0;
        if (agent.command || (agent.process && WaitForSingleObject(agent.process.get(), left) == WAIT_OBJECT_0))
            continue;
        out.Line("The running agent (process " + std::to_string(agent.processId) + ") did not quit.");
        allGone = false;
    }
    return allGone;
}

void DropAgentItem(TBaseStartupMgr& mgr)
{
    const std::string agentItem = LoadResourceString(IDS_AGENT_ITEM_DESC);
    for (int i = mgr.Count() - 1; i >= 0; --i) {
        if (SameText(mgr.Items(i)->Desc.view(), agentItem))
            mgr.DeleteItem(i);
    }
    mgr.Reload();
}

bool StoreFolderHoldsFiles(const std::string& folder)
{
    for (const std::string& name : ListFiles(folder, "*.*")) {
        if (!SameText(name, StoreIniName) && !SameText(name, kIndexDraftName))
            return true;
    }
    return false;
}

// A store whose files are all back (the all-users folder's never left) is
// only its index now. Nothing is removed through a link: it may lead to
// another user's store.
bool RemoveEmptyStoreFolder(const TFolderStartupMgr& mgr, CommandOutput& out)
{
    const std::string folder = mgr.StoreFolder();
    if (!DirectoryExists(folder))
        return true;
    for (const std::string& path : {mgr.Desc().Path, folder}) {
        const std::string refusal = LinkRefusal(path);
        if (!refusal.empty()) {
            out.Line(refusal + ": nothing was removed through it.");
            return false;
        }
    }
    if (StoreFolderHoldsFiles(folder))
        return false;
    for (const char* name : {StoreIniName, kIndexDraftName})
        DeleteFileW(WideFromUtf8(AddBackslash(folder) + name).c_str());
    return RemoveDirectoryW(WideFromUtf8(folder).c_str()) != FALSE;
}

bool FlushRunKey(const TBaseStartupMgr& mgr, REGSAM view)
{
    const RegKey key = RegKey::Open(mgr.Desc().RootKey, mgr.Desc().Path, KEY_READ | view);
    return key && RegFlushKey(key.get()) == ERROR_SUCCESS;
}

// A store read as empty may be one that could not be read: only a key
// with no item keys left is removed.
bool StoreKeyIsEmpty(const TRegStartupMgr& registry, REGSAM view)
{
    const RegKey key = RegKey::Open(registry.Desc().RootKey, registry.StoreKeyPath(), KEY_READ | view);
    if (!key)
        return true;
    std::vector<std::string> names;
    return key.SubKeyNames(names) == ERROR_SUCCESS && names.empty();
}

bool StoreExists(std::uint8_t location, REGSAM view)
{
    const TStpDesc desc = GetStpDesc(location, view);
    if (IsFolderLocation(location))
        return !desc.Path.empty() && DirectoryExists(AddBackslash(desc.Path) + StoreName);
    return static_cast<bool>(RegKey::Open(desc.RootKey, AddBackslash(desc.Path) + StoreName, KEY_READ | view));
}

// The location's stored items back where they came from, then its store
// gone; false, with the reason written, when something is left.
bool RestoreLocation(std::uint8_t location, REGSAM view, CommandOutput& out)
{
    const std::string caption = StartupLocationCaptions[location];
    try {
        const std::unique_ptr<TBaseStartupMgr> mgr = CreateStartupMgr(location, view);
        if (auto* folder = dynamic_cast<TFolderStartupMgr*>(mgr.get())) {
            folder->RestoreItems();
            for (const std::string& note : mgr->TakeNotes())
                out.Line(caption + ": " + note);
            if (RemoveEmptyStoreFolder(*folder, out))
                return true;
            out.Line(caption + ": files are left in \"" + folder->StoreFolder() + "\".");
            return false;
        }
        auto& registry = static_cast<TRegStartupMgr&>(*mgr);
        const bool usersKey = mgr->Desc().RootKey == HKEY_CURRENT_USER;
        // Held from the values' return to the store's removal: another
        // administrator's agent taking them over in between would lose them
        // with the store.
        const std::optional<TStoreFileLock> machineLock =
            usersKey ? std::nullopt : std::optional<TStoreFileLock>(MachineStoresLock());
        DropAgentItem(registry);
        // The store goes only once its values are back, flushed: a value that
        // could not be written back keeps the store that holds it.
        const bool back = registry.Count() > 0 ? registry.RestoreItems() && FlushRunKey(*mgr, view)
                                               : StoreKeyIsEmpty(registry, view);
        for (const std::string& note : mgr->TakeNotes())
            out.Line(caption + ": " + note);
        if (!back) {
            out.Line(caption + ": the store is kept, as not every item in it could be put back.");
            return false;
        }
        const TActingAsUser rights(usersKey);
        const LONG rc = RegKey::DeleteTree(mgr->Desc().RootKey, registry.StoreKeyPath(), view);
        if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND)
            return !StoreExists(location, view);
        out.Line(caption + ": the store key could not be removed: " + ErrorText(static_cast<DWORD>(rc)));
        return false;
    } catch (const std::exception& e) {
        out.Line(caption + ": " + e.what());
        return false;
    }
}

int RestoreStores(CommandOutput& out)
{
    if (!AgentsQuit(out)) {
        out.Line("Nothing was restored.");
        return 1;
    }
    const bool machineWide = CurrentAdminState() == TAdminState::asElevated;
    bool left = false;
    for (const std::uint8_t location : kWatchedLocations) {
        for (const REGSAM view : LocationViews(location)) {
            if (IsMachineLocation(location) && !machineWide) {
                if (StoreExists(location, view)) {
                    out.Line(std::string(StartupLocationCaptions[location]) +
                             ": the machine-wide store needs an elevated /restore.");
                    left = true;
                }
                continue;
            }
            left = !RestoreLocation(location, view, out) || left;
        }
    }
    // An agent started since the asking waits for the lock to take the items
    // over again: the user's agents are asked once more before it is let go.
    // One started after that starts after the restore, as at any later start.
    if (!AgentsQuit(out)) {
        out.Line("An agent started during the restore is still running: it may take the items over again.");
        return 1;
    }
    out.Line(left ? "Some items are still in the stores." : "Every stored item is back.");
    return left ? 1 : 0;
}

// One command of the user's at a time, in every session: a /list beside a
// /restore would show the stores half put back, and two /restore would ask
// the same agents and put the same items back twice. The lock is held
// throughout, so no agent takes over between the asking and the restore; the
// stores' own holds nest in it for nothing.
int RunUnderStoreLock(const std::string& command, CommandOutput& out)
{
    try {
        const TStoreLock lock(kCommandLockTimeoutMs);
        if (!lock.Acquired()) {
            out.Line("The stores could not be locked (" + lock.Refusal() +
                     "): another /list or /restore of this user, or an agent's take-over, holds them; nothing was done.");
            return 1;
        }
        return SameText(command, "/list") ? ListStores(out) : RestoreStores(out);
    } catch (const std::exception& e) {
        out.Line(e.what());
        return 1;
    }
}

} // namespace

std::optional<int> RunAgentCommand(const std::vector<std::string>& arguments)
{
    if (arguments.size() < 2)
        return std::nullopt;
    const std::string& command = arguments[1];
    if (!SameText(command, "/list") && !SameText(command, "/restore"))
        return std::nullopt;
    CommandOutput out;
    // The mark lasts until the output is written: a command held up by a
    // reader that does not read is still known as a command of this user's,
    // not taken for an agent that cannot be asked.
    UniqueKernelHandle mark;
    try {
        std::string unmarked;
        mark = CreateCommandMark(unmarked);
        if (!mark)
            out.Line(unmarked + " Another /restore of this user's now refuses while this one runs.");
    } catch (const std::exception& e) {
        out.Line(e.what());
    }
    const int exitCode = RunUnderStoreLock(command, out);
    out.Send();
    return exitCode;
}
