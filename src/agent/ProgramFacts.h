#pragma once
// The facts a notice gives about a startup program's file: its publisher from
// the version information and whether it carries a valid Authenticode
// signature. Runs off the window's thread (it reads the file, and a check of
// a file on an unreachable share can hang): the signature check runs on a
// thread of its own and is waited for kSignatureCheckMs at most; one that
// takes longer is left to end alone and reported as not checked. Version
// information larger than kVersionInfoMax gives no publisher, and the facts
// say why; garbled, it gives at most the characters of the value's own node.
#include "agent/ProgramNotice.h"
#include "startup/uStartupMgr.h"

#include <windows.h>

constexpr DWORD kSignatureCheckMs = 5000;
constexpr DWORD kVersionInfoMax = 1 << 20;

TNewProgram ReadProgramFacts(const TStartupItem& item);
