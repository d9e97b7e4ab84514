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
// The mark is left only once the stores were read whole, so a store that
// could not be read at logon spends nothing, and before the agent's first
// take-over, in one hold of the store lock (TakeOver.h): of the elevated and
// the unelevated agent started together, the one that makes it plans from
// stores that no take-over of the logon had changed, the other starts nothing.
//
// Files in a Startup folder when the session begins are Explorer's to start.
// Explorer leaves the volatile key "StartupHasBeenRun" in its session's
// SessionInfo once it has started them (Windows 8 and later). The session
// number is given again to later logons, so the key counts only when it was
// last written after the shell's process was made (any key counts when no
// shell window is known). When the agent's first take-over finds it, the files that take-over moved are left
// out of the agent's starts, else Explorer found them gone and the agent
// starts them. Wine leaves no such key.
//
// Delays count from a steady clock read when the program's statics are made
// (before its entry runs), so setting the time moves no start. The waits
// run on a scheduler thread of its own; each item whose delay has come
// starts on a thread of its own beside the others, so one on a share that
// never answers holds up neither the window nor the next item; a start
// still under way after a minute is noted in the log and its I/O cancelled.
// Ending the starter (Exit, the session's end) starts nothing more, cancels
// the starts under way and joins every thread (StoppableThread.h: within
// kStopBoundMs, else the process ends). Each goes
// through the launcher without waiting; a moved file works in the Startup
// folder it came from, a shortcut in its own working folder. A start that
// fails is written to the agent's log, never shown in a box, and the item
// stays in its store.
#include "agent/LogonPlan.h"
#include "agent/StoppableThread.h"
#include "startup/uStartupMgr.h"
#include "winutil/UniqueHandle.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The mark's key below HKEY_CURRENT_USER ("Software\Keldora\Logon"; each
// session's mark is a subkey of it).
extern const char* const kLogonMarkKey;

// What leaving this session's mark came to: this call made it, another agent
// of the logon had, or the registry refused it, which tells nothing of
// who starts the logon's items (the caller asks again later; `error` says why).
enum class TLogonMark { Made, MadeBefore, Failed };
TLogonMark MarkLogonSession(LONG* error = nullptr);
// Whether Explorer has started the Startup folders for this session.
bool ExplorerStartedStartupFolder();
// Milliseconds on the steady clock since the program started.
std::int64_t SinceProcessStart();
// Whether the first take-over may begin now (LogonPlan.h), from Explorer's
// key, the shell's window and the steady clock.
TLogonGate LogonGateNow();

// The agent's items as the plan takes them.
std::vector<TLogonItem> LogonItemsOf(const std::vector<TStartupItem>& items);

class TLogonStarter {
public:
    // Starts the plan's items in sequence, each when it is due, counted from
    // the start of this process; failures are appended to `logFile`.
    TLogonStarter(std::vector<TLogonStart> plan, std::string logFile);
    // Starts nothing more; the starts under way are cancelled and joined.
    ~TLogonStarter();
    TLogonStarter(const TLogonStarter&) = delete;
    TLogonStarter& operator=(const TLogonStarter&) = delete;

    // Whether every all-users item of the plan has been started (or failed
    // to); safe from any thread.
    bool AllUsersStarted() const { return allUsersLeft_ == 0; }

private:
    struct Running {
        std::string desc;
        // When it is noted as stuck, on SinceProcessStart()'s clock.
        std::int64_t boundMs = 0;
        bool noted = false;
        std::unique_ptr<TStoppableThread> thread;
    };

    void Run();
    void Launch(const TLogonItem& item);
    void LookAtStarts();
    void Start(const TLogonItem& item) const;

    const std::vector<TLogonStart> plan_;
    const std::string logFile_;
    std::atomic<std::size_t> allUsersLeft_;
    UniqueKernelHandle stop_;
    // The scheduler's own: made, looked at and ended on its thread only.
    std::vector<Running> starts_;
    std::optional<TStoppableThread> scheduler_;
};

// A starter for the items' Startup-folder entries; none without items. The
// caller has the session's mark (TakeOver.h gives the items only then).
std::unique_ptr<TLogonStarter> StartLogonItems(const std::vector<TStartupItem>& items, const std::string& logFile);
