#pragma once
// The figures of a progress event, worked out in double and clamped so that
// no size or time can overflow or go negative. Halves round to even.
// Platform-free: no <windows.h> here.

#include <cstdint>

struct TransferProgress {
    std::uint8_t percentsDone = 0;  // 0..100; 0 when the size is unknown
    int elapsedTime = 0;            // whole seconds
    int estimatedTimeLeft = 0;      // seconds, >= 0; 0 when the size is unknown
    float transferRate = 0.0f;      // kilobytes per second
};

double RoundHalfEven(double value);

// contentLength <= 0 means "size unknown".
TransferProgress ComputeProgress(std::int64_t contentLength, std::int64_t bytesTransferred,
                                 std::uint32_t elapsedMs);

// Progress of a whole download list: this file's share plus the files before.
std::uint8_t TotalPercentsDone(std::uint8_t percentsDone, int fileIndex, int fileCount);

// Lets a progress report through at most once per interval, so a fast
// transfer does not flood the main thread; the first and the last report of
// a transfer always pass. Tick counts may wrap around.
class ProgressThrottle {
public:
    explicit ProgressThrottle(std::uint32_t intervalMs = 33) : intervalMs_(intervalMs) {}

    bool Due(std::uint32_t nowMs, bool last);

private:
    std::uint32_t intervalMs_;
    std::uint32_t lastMs_ = 0;
    bool started_ = false;
};
