#include "HttpProgress.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Clamps before converting: a double beyond the target range (or NaN) must
// never reach a cast.
int ClampToInt(double value, int low)
{
    if (!(value >= low))
        return low;
    constexpr double high = std::numeric_limits<int>::max();
    return value >= high ? std::numeric_limits<int>::max() : static_cast<int>(value);
}

// Sizes come from the network: a sum of them stops at the top of the range.
std::int64_t AddUpTo(std::int64_t sum, std::int64_t size)
{
    const std::int64_t added = std::max<std::int64_t>(size, 0);
    return sum > std::numeric_limits<std::int64_t>::max() - added ? std::numeric_limits<std::int64_t>::max()
                                                                   : sum + added;
}

}  // namespace

double RoundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction > 0.5)
        return floor + 1.0;
    if (fraction < 0.5)
        return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

TransferProgress ComputeProgress(std::int64_t contentLength, std::int64_t bytesTransferred,
                                 std::uint32_t elapsedMs)
{
    TransferProgress p;
    const double bytes = static_cast<double>(std::max<std::int64_t>(bytesTransferred, 0));
    const double size = static_cast<double>(contentLength);
    p.elapsedTime = static_cast<int>(elapsedMs / 1000);
    p.transferRate = static_cast<float>(p.elapsedTime != 0 ? bytes / 1024.0 / p.elapsedTime : bytes / 1024.0);
    if (contentLength <= 0)
        return p;

    p.percentsDone = static_cast<std::uint8_t>(ClampToInt(RoundHalfEven(std::min(bytes * 100.0 / size, 100.0)), 0));
    if (bytes > 0) {
        const double total = RoundHalfEven(size / bytes * p.elapsedTime);
        p.estimatedTimeLeft = ClampToInt(total - p.elapsedTime, 0);
    }
    return p;
}

std::uint8_t TotalPercentsDone(std::uint8_t percentsDone, int fileIndex, int fileCount)
{
    if (fileCount <= 0)
        return 0;
    const double before = RoundHalfEven(std::max(fileIndex, 0) * 100.0 / fileCount);
    return static_cast<std::uint8_t>(std::min(ClampToInt(percentsDone / fileCount + before, 0), 100));
}

void ListProgress::Start(std::int64_t plannedBytes)
{
    *this = ListProgress();
    ahead_ = std::max<std::int64_t>(plannedBytes, 0);
}

void ListProgress::Next(std::int64_t previousFetched, std::int64_t size, bool planned)
{
    if (open_) {
        fetched_ = AddUpTo(fetched_, previousFetched);
        ahead_ = std::max<std::int64_t>(ahead_ - current_, 0);
    }
    current_ = std::max<std::int64_t>(size, 0);
    if (!planned)
        ahead_ = AddUpTo(ahead_, current_);
    open_ = true;
}

std::uint8_t ListProgress::Percents(std::int64_t bytesRead)
{
    const double read = static_cast<double>(std::max<std::int64_t>(bytesRead, 0));
    // A transfer longer than its share stretches the total rather than pass 100.
    const double total = static_cast<double>(fetched_) + static_cast<double>(ahead_ - current_) +
                         std::max(static_cast<double>(current_), read);
    if (total <= 0)
        return shown_;
    const double done = static_cast<double>(fetched_) + read;
    return Held(static_cast<std::uint8_t>(ClampToInt(RoundHalfEven(std::min(done * 100.0 / total, 100.0)), 0)));
}

std::uint8_t ListProgress::Held(std::uint8_t percents)
{
    shown_ = std::max(shown_, std::min<std::uint8_t>(percents, 100));
    return shown_;
}

bool ProgressThrottle::Due(std::uint32_t nowMs, bool last)
{
    if (started_ && !last && nowMs - lastMs_ < intervalMs_)
        return false;
    started_ = true;
    lastMs_ = nowMs;
    return true;
}
