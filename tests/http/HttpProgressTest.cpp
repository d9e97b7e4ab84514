#include "http/HttpProgress.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(Progress, HalvesRoundToEven)
{
    EXPECT_EQ(RoundHalfEven(0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(2.4999), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5001), 3.0);
    EXPECT_EQ(RoundHalfEven(-0.5), -0.0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2.0);
}

TEST(Progress, PercentsRoundHalfToEvenAndStayInRange)
{
    EXPECT_EQ(ComputeProgress(200, 1, 0).percentsDone, 0) << "0.5 rounds down to even";
    EXPECT_EQ(ComputeProgress(200, 3, 0).percentsDone, 2) << "1.5 rounds up to even";
    EXPECT_EQ(ComputeProgress(200, 5, 0).percentsDone, 2) << "2.5 rounds down to even";
    EXPECT_EQ(ComputeProgress(1000, 1000, 0).percentsDone, 100);
    EXPECT_EQ(ComputeProgress(1000, 5000, 0).percentsDone, 100) << "more bytes than announced";
    EXPECT_EQ(ComputeProgress(0, 5000, 0).percentsDone, 0) << "size unknown";
    EXPECT_EQ(ComputeProgress(-1, 5000, 0).percentsDone, 0);
    const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(ComputeProgress(huge, huge / 2, 0).percentsDone, 50) << "no 32-bit overflow";
}

TEST(Progress, TimesAndRate)
{
    const TransferProgress p = ComputeProgress(/*contentLength=*/4096000, /*bytesTransferred=*/1024000,
                                               /*elapsedMs=*/10999);
    EXPECT_EQ(p.elapsedTime, 10);
    EXPECT_EQ(p.estimatedTimeLeft, 30);
    EXPECT_FLOAT_EQ(p.transferRate, 100.0f);
    EXPECT_EQ(p.percentsDone, 25);

    EXPECT_FLOAT_EQ(ComputeProgress(0, 2048, 999).transferRate, 2.0f) << "under a second: plain kilobytes";
    EXPECT_EQ(ComputeProgress(0, 2048, 50000).estimatedTimeLeft, 0) << "size unknown";
    EXPECT_EQ(ComputeProgress(1000, 0, 50000).estimatedTimeLeft, 0) << "nothing read yet";
    EXPECT_EQ(ComputeProgress(1000, 4000, 50000).estimatedTimeLeft, 0) << "never negative";
    EXPECT_EQ(ComputeProgress(std::numeric_limits<std::int64_t>::max(), 1, 4000000).estimatedTimeLeft,
              std::numeric_limits<int>::max());
    EXPECT_EQ(ComputeProgress(100, 1, UINT32_MAX).elapsedTime, 4294967);
}

TEST(Progress, TotalPercentsOfAFileList)
{
    EXPECT_EQ(TotalPercentsDone(50, 0, 2), 25);
    EXPECT_EQ(TotalPercentsDone(100, 1, 2), 100);
    EXPECT_EQ(TotalPercentsDone(0, 1, 8), 12) << "12.5 rounds to even";
    EXPECT_EQ(TotalPercentsDone(0, 3, 8), 38) << "37.5 rounds to even";
    EXPECT_EQ(TotalPercentsDone(100, 5, 3), 100);
    EXPECT_EQ(TotalPercentsDone(100, 0, 0), 0);

    // Sizes a server claims near the top of the range add up without
    // overflowing, and the total never passes 100 or goes back.
    constexpr std::int64_t huge = std::numeric_limits<std::int64_t>::max();
    ListProgress list;
    list.Start(huge);
    list.Next(0, huge, false);
    EXPECT_EQ(list.Percents(0), 0);
    list.Next(huge, huge, false);
    EXPECT_EQ(list.Percents(huge / 2), 75);
    list.Next(huge, huge, false);
    EXPECT_EQ(list.Percents(huge), 100);
    EXPECT_EQ(list.Percents(0), 100);
}

TEST(Progress, ThrottleLetsFirstLastAndOnePerInterval)
{
    ProgressThrottle throttle(/*intervalMs=*/33);
    EXPECT_TRUE(throttle.Due(1000, false));
    EXPECT_FALSE(throttle.Due(1010, false));
    EXPECT_FALSE(throttle.Due(1032, false));
    EXPECT_TRUE(throttle.Due(1033, false));
    EXPECT_TRUE(throttle.Due(1034, true));

    ProgressThrottle wrapping(33);
    EXPECT_TRUE(wrapping.Due(UINT32_MAX - 10, false));
    EXPECT_FALSE(wrapping.Due(5, false));
    EXPECT_TRUE(wrapping.Due(30, false));
}

}  // namespace
