#pragma once
#include <windows.h>

#include <vector>

// Lets Explorer's "TaskbarCreated" reach an elevated window, so the icon
// comes back when Explorer restarts; it carries no command. Messages 1125 to
// 1127 are not let in from a lower integrity level: an elevated agent takes
// them only from programs at its own level or above (the product's elevated
// programs, its installer), never from an unelevated program of the user,
// which could otherwise steer it; the system cannot tell the sender of a
// message, so no user check could replace that. An agent that is not
// elevated runs at the level of the user's programs, which reach it as
// before. How it went:
enum class TMessageFilter { mfAllowed, mfFailed, mfUnavailable };
TMessageFilter AllowShellMessages(HWND window);
// The messages an elevated agent lets in from a lower integrity level.
std::vector<UINT> MessagesFromLowerIntegrity();
