// The system clock as milliseconds since 1970, for the demo programs: their
// log lines and answers are set beside times that scripts take outside Wine.
#pragma once

#include <windows.h>

#include <cstdint>

inline std::uint64_t UnixMilliseconds()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr std::uint64_t TicksFrom1601To1970 = 116444736000000000ULL;
    return (ticks - TicksFrom1601To1970) / 10000;
}
