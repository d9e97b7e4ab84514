#pragma once
// Which stored items the agent starts at logon, and when. Windows itself
// starts what stays in the Run keys; what take-over moved out of the Startup
// folders only the agent starts. Platform-free.
//
// DelayTime is in seconds after the agent's start, clamped to 0 ..
// kMaxLogonDelaySeconds: a negative one starts at once, a larger one after an
// hour. Items due at the same moment start in ascending Order; a tie in Order
// goes to the all-users folder before the user's, then by Desc and CmdLine
// (bytes), so that the same store always starts in the same sequence.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr std::int32_t kMaxLogonDelaySeconds = 3600;

struct TLogonItem {
    std::string desc;
    std::string cmdLine;
    // The Startup folder the file was taken from: its working folder.
    std::string folder;
    std::int32_t order = 0;
    std::uint8_t location = 0;
    std::int32_t delayTime = 0;
    bool enable = false;
    // From a Startup-folder store (else a Run key's, which Windows starts).
    bool fromStartupFolder = false;
};

struct TLogonStart {
    TLogonItem item;
    // Milliseconds after the agent's start.
    std::int64_t dueMs = 0;
};

std::int64_t LogonDelayMs(std::int32_t delayTime);
// The starts in their sequence: enabled Startup-folder items only.
std::vector<TLogonStart> PlanLogonStarts(const std::vector<TLogonItem>& items);

// Files in a Startup folder when the session begins are Explorer's to start:
// the agent's first take-over waits until Explorer says it has started them
// (`explorerStarted`) or, for a shell that says nothing, until
// kShellWaitMs have passed since the shell's window came up (`shellAgeMs`)
// or since the agent started, whichever comes first, so a clock set
// meanwhile can only shorten the wait. Without a shell window (none yet, or
// no shell) nothing waits: no Explorer has started the files, and those the
// take-over moves are the agent's to start, so a shell that comes later
// finds them gone and nothing starts twice.
inline constexpr std::int64_t kShellWaitMs = 10000;

struct TLogonGate {
    bool explorerStarted = false;
    // The take-over may begin.
    bool open = true;
};

TLogonGate LogonGateOf(bool explorerStarted, std::int64_t sinceAgentStartMs, std::optional<std::int64_t> shellAgeMs);

// What a WM_ENDSESSION asks of the agent. A cancelled end (`ending` false:
// another program refused) changes nothing; the Restart Manager's close
// (`closeApp`) ends the agent, which it may start again, and leaves the
// session going; a true session end is the session's last take-over.
enum class TEndSessionStep { esNothing, esEndAgent, esLastTakeOver };

TEndSessionStep EndSessionStepOf(bool ending, bool closeApp);
