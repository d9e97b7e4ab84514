#pragma once
// The Windows version classification. The rule is platform-free so that it can
// be tested for systems we cannot run; Utils gathers the facts on Windows.

#include <cstdint>
#include <string>

enum : std::uint8_t {
    wkUnknown = 0,
    wk95 = 1,
    wk95OSR2 = 2,
    wk98 = 3,
    wk98SE = 4,
    wkME = 5,
    wkNT31 = 6,
    wkNT35 = 7,
    wkNT351 = 8,
    wkNT4 = 9,
    wk2000 = 10,
    wkXP = 11,
};

struct WindowsVersionFacts {
    bool nt = true;
    unsigned major = 0;
    unsigned minor = 0;
    std::string servicePack;   // as the system reports it; trimmed by the rule
    unsigned kernelMajor = 0;  // product version of kernel32.dll, 0.0 on NT
    unsigned kernelMinor = 0;
};

std::uint8_t ClassifyWindows(const WindowsVersionFacts& facts);
