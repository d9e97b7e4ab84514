#pragma once
// Which command lines the process launcher tries, in order, for a line it has
// split into a program and its parameters: the quoted program first, then the
// line as given and the unquoted program, each only where CreateProcess
// cannot read a different program into it. Platform-free: the system is
// handed in, so the rules run against an in-memory one in tests.
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
