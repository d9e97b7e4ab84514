#pragma once
// The window both sides of a road use: the smallest power of two, within what
// zstd accepts, that covers the earlier file and the new one together.
// Platform-free: no <windows.h> here.
#ifndef ZSTD_STATIC_LINKING_ONLY
#define ZSTD_STATIC_LINKING_ONLY
#endif
#include <zstd.h>

#include <cstdint>

inline int DeltaWindowLog(std::uint64_t bytes)
{
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < ZSTD_WINDOWLOG_MAX && (std::uint64_t{1} << log) < bytes)
        ++log;
    return log;
}
