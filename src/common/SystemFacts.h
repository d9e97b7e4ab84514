#pragma once
// What the running system is: its Windows version and whether it is 64-bit.
#include <cstdint>

#include "core/WindowsKind.h"

// The running system's classification (wkUnknown .. wkXP), computed on each call.
std::uint8_t GetWindowsKind();
WindowsVersionFacts GetWindowsVersionFacts();
// A 64-bit system, whether this program is a 64-bit one or runs under WOW64.
bool Is64BitWindows();
// Major version at least 5 and minor version at least 1 (so 6.0 answers false).
bool IsVersion51OrLater();
