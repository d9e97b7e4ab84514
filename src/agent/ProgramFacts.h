#pragma once
// The facts a notice gives about a startup program's file: its publisher from
// the version information and whether it carries a valid Authenticode
// signature. Runs off the window's thread. Everything that touches the file
// (whether it is there, its version information, the signature check) can
// hang on an unreachable share, so it runs on a thread of its own and is
// waited for kProgramReadMs at most; a read that takes longer is left to end
// alone, no other begins until it has, and the facts say it was not read. Version
// information larger than kVersionInfoMax gives no publisher, and the facts
// say why; garbled, it gives at most the characters of the value's own node.
#include "agent/ProgramNotice.h"
#include "startup/uStartupMgr.h"

#include <windows.h>

constexpr DWORD kProgramReadMs = 5000;
constexpr DWORD kVersionInfoMax = 1 << 20;

TNewProgram ReadProgramFacts(const TStartupItem& item);
