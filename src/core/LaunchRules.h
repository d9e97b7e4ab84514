#pragma once
// The process launcher's rules. Which command lines it tries, in order, for a
// line it has split into a program and its parameters: the quoted program
// first, then the line as given and the unquoted program, each only where
// CreateProcess cannot read a different program into it. Which token a
// started program gets. How a document's open command is filled in.
// Platform-free: the system is handed in, so the rules run against an
// in-memory one in tests.
#include "core/CmdLnUtils.h"

#include <string>
#include <string_view>
#include <vector>

// CreateProcess reads an unquoted program path only up to its first blank
// before it tries longer ones, so it would start a planted C:\Program.exe for
// C:\Program Files\...; a spelling is safe when its program part is quoted or
// has no blank.
bool IsSafeSpelling(const CmdLnSystem& sys, std::string_view commandLine);

std::vector<std::string> LaunchCandidates(const CmdLnSystem& sys, std::string_view commandLine,
                                          const std::string& program, const std::string& parameters);

// How a program is started. An elevated caller never hands its own token on:
// what it starts comes from places any unelevated program of the user may
// write (the user's Run key and Startup folder).
enum class TStartWay {
    swAsCaller,        // the caller's own token, as CreateProcess gives it
    swShellToken,      // the desktop shell's token: what Explorer itself would start
    swLoweredOwnToken  // the caller's token with Administrators deny-only, its privileges
                       // dropped and medium integrity: no shell of this user to ask
};

struct TStartFacts {
    bool elevated = false;             // the caller's token is elevated
    bool shellTokenAvailable = false;  // the desktop shell's token could be opened and copied
    bool sameUser = false;             // and the shell runs as the caller's user
    bool shellElevated = false;        // and the shell's own token is elevated
};

TStartWay ChooseStartWay(const TStartFacts& facts);

// A shell open command ("prog.exe" --open "%1") with the document put in:
// %1 and %L become the document, %* and %2 to %9 nothing (no further
// arguments), %% a percent sign; other text stays. A command without %1 or
// %L gets the document quoted at its end, as the shell does.
std::string FillOpenCommand(std::string_view command, const std::string& document);

// The show command in the header of a shell link file (the bytes of the
// file): 1 (normal), 3 (maximised) or 7 (minimised, not active); any other
// value, and bytes that are no shell link, give 1, as the shell reads them.
int ShortcutShowCommand(std::string_view linkFile);
