#pragma once
// The token the launcher starts a program with. An elevated caller starts
// programs with the desktop shell's token when the shell runs as the same
// user and is not elevated itself (what Explorer would start), else with a lowered copy of its
// own token; a caller that is not elevated uses its own, as CreateProcess
// does (the rule is ChooseStartWay in core/LaunchRules.h). Safe from any
// thread; nothing raises: a token that cannot be made starts nothing.
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
