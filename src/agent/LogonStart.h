#pragma once
// What the agent starts at logon: the enabled items that take-over moved out
// of the two Startup folders, which Windows no longer sees (LogonPlan.h says
// which and when; DelayTime counts seconds from the agent's start). Run-key
// items stay where Windows starts them and are never started here.
//
// Once per logon session: the first agent of a session leaves a mark, a
// volatile registry key that ends with the session, and a later agent of the
// same session (restarted by hand, or after a crash) starts nothing. The mark
// is named after the logon session's identifier (the LUID of the process
// token's logon), which Windows never gives to two logons while it runs,
// unlike a session number; two sessions of one user each start their own.
// The mark is left only once the stores were read whole (TakeOver.h), so a
// store that could not be read at logon spends nothing.
//
// Files in a Startup folder when the session begins are Explorer's to start.
// Explorer leaves the volatile key "StartupHasBeenRun" in its session's
// SessionInfo once it has started them (Windows 8 and later); when the
// agent's first take-over finds it, the files that take-over moved are left
// out of the agent's starts, else Explorer found them gone and the agent
// starts them. Wine leaves no such key.
//
// The starts run on a thread of their own, so that neither the waits nor a
// launcher that hangs on an unreachable path holds up the window. Each goes
// through the launcher without waiting; a moved file works in the Startup
// folder it came from, a shortcut in its own working folder. A start that
// fails is written to the agent's log, never shown in a box, and the item
// stays in its store.
#include "agent/LogonPlan.h"
#include "startup/uStartupMgr.h"
#include "winutil/UniqueHandle.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

// The mark's key below HKEY_CURRENT_USER ("Software\Keldora\Logon"; each
// session's mark is a subkey of it).
extern const char* const kLogonMarkKey;

// Leaves this session's mark; true when this call made it.
bool MarkLogonSession();
// Whether Explorer has started the Startup folders for this session.
bool ExplorerStartedStartupFolder();

// The agent's items as the plan takes them.
std::vector<TLogonItem> LogonItemsOf(const std::vector<TStartupItem>& items);

class TLogonStarter {
public:
    // Starts the plan's items in sequence, each when it is due, counted from
    // the start of this process; failures are appended to `logFile`.
    TLogonStarter(std::vector<TLogonStart> plan, std::string logFile);
    // Starts nothing more; a start under way is finished first.
    ~TLogonStarter();
    TLogonStarter(const TLogonStarter&) = delete;
    TLogonStarter& operator=(const TLogonStarter&) = delete;

private:
    void Run() noexcept;
    void Start(const TLogonItem& item) const;

    const std::vector<TLogonStart> plan_;
    const std::string logFile_;
    UniqueKernelHandle stop_;
    std::thread thread_;
};

// A starter for the items' Startup-folder entries when this is the session's
// first agent; else none.
std::unique_ptr<TLogonStarter> StartLogonItems(const std::vector<TStartupItem>& items, const std::string& logFile);
