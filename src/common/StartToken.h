#pragma once
// The token the launcher starts a program with. An elevated caller starts
// programs with the desktop shell's token when the shell runs as the same
// user and is not elevated itself (what Explorer would start), else with a lowered copy of its
// own token; a caller that is not elevated uses its own, as CreateProcess
// does (the rule is ChooseStartWay in core/LaunchRules.h). Safe from any
// thread; nothing raises but TActingAsUser (below): a token that cannot be
// made starts nothing.
#include "core/LaunchRules.h"
#include "winutil/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

struct TStartToken {
    TStartWay way = TStartWay::swAsCaller;
    // Empty for swAsCaller, and when the way's token could not be made.
    UniqueKernelHandle token;
};

// `shellWindow`: the desktop shell's window (GetShellWindow), or none.
TStartToken StartTokenFor(HWND shellWindow);

// CreateProcessW's arguments, the program started the token's way.
bool CreateProcessFor(const TStartToken& start, std::wstring& commandLine, DWORD flags, const wchar_t* directory,
                      STARTUPINFOW& startup, PROCESS_INFORMATION& started);

// Whether the token is elevated; false where the system has no elevation.
bool IsElevatedToken(HANDLE token);

// The token's information of that kind, empty when it cannot be read.
std::vector<BYTE> TokenInfo(HANDLE token, TOKEN_INFORMATION_CLASS kind);

// What an unelevated start of the same user gets, made from the process's own
// token (the Administrators group for deny only, basic privileges, medium
// integrity): a primary token an elevated caller may also impersonate to
// reach the user's files with the user's rights only. Empty when it cannot
// be made.
UniqueKernelHandle LoweredProcessToken();

// Whether this process runs elevated.
bool IsElevatedProcess();

// The user's rights for the files of the user's own locations: an elevated
// process impersonates, on the calling thread, a lowered copy of its token
// (LoweredProcessToken) until the object goes, then the thread's own token
// before it (an outer impersonation goes on), so a link the user planted
// leads nowhere the user may not write. Under it the thread also may not
// reach what only an administrator may.
class TActingAsUser {
public:
    // `userLocation`: false for a machine-wide location, worked on with the
    // process's own rights. Raises std::runtime_error for a user's location
    // when elevated and no lowered token could be made or taken up: the
    // caller then does nothing rather than work with an administrator's rights.
    explicit TActingAsUser(bool userLocation);
    ~TActingAsUser();
    TActingAsUser(const TActingAsUser&) = delete;
    TActingAsUser& operator=(const TActingAsUser&) = delete;

    // Elevated and not acting as the user (a machine-wide location): then no
    // link may lie anywhere on a path, its whole final path must be the path
    // as given.
    bool MoreRightsThanUser() const { return elevated_ && !impersonating_; }

private:
    bool elevated_ = false;
    bool impersonating_ = false;
    UniqueKernelHandle outer_;  // the thread's token before, put back after
};
