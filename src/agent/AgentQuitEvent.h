#pragma once
// How /restore asks a running agent of the same user to quit in any session
// (fast user switching, Remote Desktop), where its window cannot be reached.
// Each agent makes an event of its own in the global namespace, named after
// the user's SID and its process id, owned by the user and open to the user
// and the system alone: another user can neither signal it nor make one in
// its place (the agent refuses a name that exists, and /restore an event
// whose owner is not the user). Another user may still take the name first:
// that agent then has no event, says so in its log, and /restore, which finds
// the user's agents by their processes, refuses rather than leave it running.
// The event resets itself as it is answered, so every request is heard, also
// one after a request the agent did not follow. Nothing here raises.
#include <windows.h>

#include "winutil/UniqueHandle.h"

#include <optional>
#include <string>

// "Global\Keldora.Quit.<SID>.<process id>"; empty when the SID is unknown.
std::string AgentQuitEventName(DWORD processId);

// The agent's own event, not set; empty when it cannot be made or the name
// was taken before (the agent then answers only to its window's message),
// with the reason in `refusal`.
UniqueKernelHandle CreateAgentQuitEvent(std::string& refusal);

// The event of the process, for setting; empty when the process is no agent
// of this user.
UniqueKernelHandle OpenAgentQuitEvent(DWORD processId);

// A /list or /restore marks itself with an event of the same kind, so that
// another one of the user's, waiting for it or holding it up, takes it for
// no agent. Empty, with the reason in `refusal`, when it cannot be made:
// the command is then taken for an agent that cannot be asked.
UniqueKernelHandle CreateCommandMark(std::string& refusal);

// Whether the process is a command of this user that marked itself.
bool IsCommandOfThisUser(DWORD processId);

// Whether the process runs as this process's user (its token's user SID);
// nothing when either token cannot be read.
std::optional<bool> RunsAsThisUser(HANDLE process);
