#include "agent/LogonStart.h"

#include "common/LogFile.h"
#include "common/ProcessManager.h"
#include "core/Format.h"
#include "core/StrCon.h"
#include "winutil/ComApartment.h"
#include "winutil/FindFiles.h"
#include "winutil/RegKey.h"
#include "winutil/UniqueHandle.h"

#include <algorithm>
#include <chrono>
#include <optional>

const char* const kLogonMarkKey = "Software\\Keldora\\Logon";

namespace {

// Taken when the program's statics are made, before its entry runs: delays
// count from here on a clock that no setting of the time moves.
const std::chrono::steady_clock::time_point kProcessStart = std::chrono::steady_clock::now();

// How long one start may take before it is noted and its I/O cancelled;
// the others go on beside it all the same.
constexpr std::int64_t kStartBoundMs = 60000;
// How often the scheduler looks at the starts under way.
constexpr std::int64_t kLookIntervalMs = 1000;

std::int64_t TicksOf(const FILETIME& time)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// When the desktop shell's process was made (FILETIME ticks); none without
// a shell window, 0 when its process cannot be asked.
std::optional<std::int64_t> ShellCreatedTicks()
{
    DWORD processId = 0;
    const HWND shell = GetShellWindow();
    if (!shell || !GetWindowThreadProcessId(shell, &processId))
        return std::nullopt;
    const UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
        return std::int64_t{0};
    return TicksOf(created);
}

// How long the desktop shell's process has run; none without a shell window.
std::optional<std::int64_t> ShellAgeMs()
{
    const std::optional<std::int64_t> created = ShellCreatedTicks();
    if (!created || *created == 0)
        return created;
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return std::max<std::int64_t>(0, (TicksOf(now) - *created) / 10000);
}

bool IsShortcutFile(const std::string& path)
{
    return SameText(TextAfterLast(".", path), "lnk");
}

// An all-users item whose file the store holds, as older versions moved
// them; one the store lists in its own folder is Windows' to start.
bool InItsStore(const TStartupItem& item)
{
    const std::string store = AddBackslash(GetStpDesc(item.Location).Path) + StoreName;
    return SameText(RemoveBackslash(FolderOfPath(TrimUpTo(item.CmdLine.str(), ' '))), store);
}

// Under UAC the elevated and the limited token of one logon have logon
// sessions of their own: the limited one names the logon for both agents.
void UseLimitedToken(UniqueKernelHandle& token)
{
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size) &&
        type == TokenElevationTypeFull &&
        GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof linked, &size) && linked.LinkedToken)
        token.reset(linked.LinkedToken);
}

// "Logon <high>-<low>" of the logon session of the user's limited token;
// the session number where the token tells none.
std::string LogonSessionName()
{
    UniqueKernelHandle token;
    TOKEN_STATISTICS statistics = {};
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        UseLimitedToken(token);
    if (token && GetTokenInformation(token.get(), TokenStatistics, &statistics, sizeof statistics, &size)) {
        const LUID& id = statistics.AuthenticationId;
        return FormatText("Logon %s-%s", {std::to_string(id.HighPart), std::to_string(id.LowPart)});
    }
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return "Session " + std::to_string(session);
}

} // namespace

TLogonMark MarkLogonSession(LONG* error)
{
    const std::string parent = "Software\\Keldora";
    if (!RegKey::Create(HKEY_CURRENT_USER, parent, KEY_WRITE, error))
        return TLogonMark::Failed;
    bool created = false;
    if (!RegKey::CreateVolatile(HKEY_CURRENT_USER, kLogonMarkKey, KEY_WRITE, created, error) ||
        !RegKey::CreateVolatile(HKEY_CURRENT_USER, std::string(kLogonMarkKey) + "\\" + LogonSessionName(),
                                KEY_WRITE, created, error))
        return TLogonMark::Failed;
    return created ? TLogonMark::Made : TLogonMark::MadeBefore;
}

// The session number is used again by a later logon, and the volatile key
// of an earlier one may outlive it while the user's hive stays loaded: the
// key counts only when written after this logon's shell was made.
bool ExplorerStartedStartupFolder()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    const RegKey key = RegKey::Open(HKEY_CURRENT_USER,
                                    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SessionInfo\\" +
                                        std::to_string(session) + "\\StartupHasBeenRun",
                                    KEY_QUERY_VALUE);
    FILETIME written = {};
    if (!key || RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, &written) != ERROR_SUCCESS)
        return false;
    const std::optional<std::int64_t> shellCreated = ShellCreatedTicks();
    return !shellCreated || TicksOf(written) >= *shellCreated;
}

std::int64_t SinceProcessStart()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - kProcessStart)
        .count();
}

TLogonGate LogonGateNow()
{
    return LogonGateOf(ExplorerStartedStartupFolder(), SinceProcessStart(), ShellAgeMs());
}

std::vector<TLogonItem> LogonItemsOf(const std::vector<TStartupItem>& items)
{
    std::vector<TLogonItem> logonItems;
    for (const TStartupItem& item : items) {
        TLogonItem entry;
        entry.desc = item.Desc.str();
        entry.cmdLine = item.CmdLine.str();
        entry.folder = GetStpDesc(item.Location).Path;
        entry.order = item.Order;
        entry.location = item.Location;
        entry.delayTime = item.DelayTime;
        entry.enable = item.Enable;
        entry.fromStartupFolder =
            item.Location == UserStartupFolder || (item.Location == AllUsersStartupFolder && InItsStore(item));
        logonItems.push_back(std::move(entry));
    }
    return logonItems;
}

TLogonStarter::TLogonStarter(std::vector<TLogonStart> plan, std::string logFile)
    : plan_(std::move(plan)), logFile_(std::move(logFile)),
      allUsersLeft_(static_cast<std::size_t>(std::ranges::count_if(
          plan_, [](const TLogonStart& start) { return start.item.location == AllUsersStartupFolder; }))),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (stop_)
        scheduler_.emplace([this] { Run(); });
}

TLogonStarter::~TLogonStarter()
{
    SetEvent(stop_.get());
    scheduler_.reset();
}

void TLogonStarter::Run()
{
    std::size_t next = 0;
    while (next < plan_.size() || !starts_.empty()) {
        LookAtStarts();
        std::int64_t wait = kLookIntervalMs;
        if (next < plan_.size())
            wait = std::min(wait, plan_[next].dueMs - SinceProcessStart());
        if (WaitForSingleObject(stop_.get(), static_cast<DWORD>(std::max<std::int64_t>(0, wait))) != WAIT_TIMEOUT)
            break;
        for (; next < plan_.size() && plan_[next].dueMs <= SinceProcessStart(); ++next)
            Launch(plan_[next].item);
    }
    std::vector<const TStoppableThread*> threads;
    for (const Running& start : starts_)
        threads.push_back(start.thread.get());
    StopTogether(threads);
    starts_.clear();
}

void TLogonStarter::Launch(const TLogonItem& item)
{
    starts_.push_back({item.desc, SinceProcessStart() + kStartBoundMs, false,
                       std::make_unique<TStoppableThread>([this, item] {
                           const ComApartment com;
                           try {
                               Start(item);
                           } catch (const std::exception& e) {
                               AppendLogFile(logFile_,
                                             FormatText("Unable to start \"%s\" at logon: %s", {item.desc, e.what()}));
                           }
                           if (item.location == AllUsersStartupFolder)
                               --allUsersLeft_;
                       })});
}

// Drops the starts that have ended; one past its bound is noted and cancelled.
void TLogonStarter::LookAtStarts()
{
    std::erase_if(starts_, [](const Running& start) { return start.thread->Ended(); });
    for (Running& start : starts_) {
        if (start.noted || SinceProcessStart() < start.boundMs)
            continue;
        start.noted = true;
        AppendLogFile(logFile_, FormatText("Unable to start \"%s\" at logon: it did not start within %s seconds.",
                                           {start.desc, std::to_string(kStartBoundMs / 1000)}));
        start.thread->CancelIo();
    }
}

// The store holds the moved file itself; its line is the file's path.
void TLogonStarter::Start(const TLogonItem& item) const
{
    const std::string line = TrimUpTo(item.cmdLine, ' ');
    const std::string folder = IsShortcutFile(line) || item.folder.empty() ? std::string() : AddBackslash(item.folder);
    if (ExecuteFile(line, /*wait=*/false, SW_SHOWNORMAL, folder))
        return;
    const char* format = FileExists(line)
                             ? "Unable to start \"%s\" at logon: \"%s\" could not be started."
                             : "Unable to start \"%s\" at logon: \"%s\" is not there; the item stays in its store.";
    AppendLogFile(logFile_, FormatText(format, {item.desc, line}));
}

std::unique_ptr<TLogonStarter> StartLogonItems(const std::vector<TStartupItem>& items, const std::string& logFile)
{
    if (items.empty())
        return nullptr;
    return std::make_unique<TLogonStarter>(PlanLogonStarts(LogonItemsOf(items)), logFile);
}
