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

const char* const kLogonMarkKey = "Software\\Keldora\\Logon";

namespace {

// Milliseconds since this process was created.
std::int64_t SinceProcessStart()
{
    FILETIME created = {}, exited = {}, kernel = {}, user = {}, now = {};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return std::max<std::int64_t>(0, (ticks(now) - ticks(created)) / 10000);
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

bool MarkLogonSession()
{
    const std::string parent = "Software\\Keldora";
    if (!RegKey::Create(HKEY_CURRENT_USER, parent, KEY_WRITE))
        return false;
    bool created = false;
    if (!RegKey::CreateVolatile(HKEY_CURRENT_USER, kLogonMarkKey, KEY_WRITE, created))
        return false;
    return RegKey::CreateVolatile(HKEY_CURRENT_USER, std::string(kLogonMarkKey) + "\\" + LogonSessionName(),
                                  KEY_WRITE, created) &&
           created;
}

bool ExplorerStartedStartupFolder()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return RegKey::Exists(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SessionInfo\\" +
                                                 std::to_string(session) + "\\StartupHasBeenRun");
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
    : plan_(std::move(plan)), logFile_(std::move(logFile)), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (stop_)
        thread_ = std::thread([this] { Run(); });
}

TLogonStarter::~TLogonStarter()
{
    if (!thread_.joinable())
        return;
    SetEvent(stop_.get());
    thread_.join();
}

void TLogonStarter::Run() noexcept
{
    const ComApartment com;
    for (const TLogonStart& start : plan_) {
        const std::int64_t wait = start.dueMs - SinceProcessStart();
        if (wait > 0 && WaitForSingleObject(stop_.get(), static_cast<DWORD>(wait)) != WAIT_TIMEOUT)
            return;
        if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0)
            return;
        try {
            Start(start.item);
        } catch (const std::exception& e) {
            AppendLogFile(logFile_, FormatText("Unable to start \"%s\" at logon: %s", {start.item.desc, e.what()}));
        } catch (...) {
            AppendLogFile(logFile_, FormatText("Unable to start \"%s\" at logon.", {start.item.desc}));
        }
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
    if (!MarkLogonSession())
        return nullptr;
    return std::make_unique<TLogonStarter>(PlanLogonStarts(LogonItemsOf(items)), logFile);
}
