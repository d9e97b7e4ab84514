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

// Progress of a download list counted in the bytes actually fetched. The
// total is planned when the downloads begin; when a transfer ends, its
// planned share gives way to the bytes it fetched, and a transfer no plan
// foresaw (a fallback after a road that failed) adds its own size. The
// percentage shown never goes back, also when that makes the total grow.
class ListProgress {
public:
    void Start(std::int64_t plannedBytes);
    // Ends the transfer before (which fetched `previousFetched` bytes), if
    // any, and begins one of `size` bytes; `planned` when the total holds it.
    void Next(std::int64_t previousFetched, std::int64_t size, bool planned);
    // The whole list's percentage with `bytesRead` of the current transfer.
    std::uint8_t Percents(std::int64_t bytesRead);
    // A percentage worked out otherwise, held so that it never goes back.
    std::uint8_t Held(std::uint8_t percents);

private:
    std::int64_t fetched_ = 0;  // by the transfers ended
    std::int64_t ahead_ = 0;    // planned for the current transfer and those to come
    std::int64_t current_ = 0;  // the current transfer's share of ahead_
    bool open_ = false;
    std::uint8_t shown_ = 0;
};

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
