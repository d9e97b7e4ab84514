// The rollout buckets: spread over many machines, stable for one, and the
// state text that keeps the machine's value.
#include "update/auRollout.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

// Machine values as the engine makes them: 128 random bits in hex.
std::vector<std::string> SimulatedMachines(std::size_t count)
{
    std::mt19937_64 random(20261208);
    std::vector<std::string> machines;
    static constexpr char Hex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < count; ++i) {
        std::string value;
        for (int half = 0; half < 2; ++half) {
            std::uint64_t bits = random();
            for (int digit = 0; digit < 16; ++digit, bits >>= 4)
                value += Hex[bits & 15];
        }
        machines.push_back(value);
    }
    return machines;
}

TEST(Rollout, TenThousandMachinesTakeEachShareWithinOnePercent)
{
    const std::vector<std::string> machines = SimulatedMachines(10000);
    for (const char* product : {"Freshet", "Keldora Agent", "", "Ünïcode Product"}) {
        std::array<int, RolloutBuckets> perBucket{};
        for (const std::string& machine : machines) {
            const int bucket = RolloutBucket(machine, product);
            ASSERT_GE(bucket, 0);
            ASSERT_LT(bucket, RolloutBuckets);
            ++perBucket[static_cast<std::size_t>(bucket)];
        }
        for (const int percent : {0, 1, 10, 25, 50, 99, 100}) {
            int taking = 0;
            for (const std::string& machine : machines)
                taking += TakesRollout(RolloutBucket(machine, product), percent) ? 1 : 0;
            EXPECT_NEAR(taking, percent * 100, 100) << product << " at " << percent << "%";
        }
        for (const int count : perBucket)
            EXPECT_GT(count, 0) << product << ": every bucket is reached";
    }
}

TEST(Rollout, OneMachineKeepsItsBucketAndProductsAreUnrelated)
{
    const std::vector<std::string> machines = SimulatedMachines(10000);
    const std::string& one = machines.front();
    EXPECT_EQ(RolloutBucket(one, "Freshet"), RolloutBucket(std::string(one), "Freshet"));
    EXPECT_EQ(RolloutBucket(one, "Freshet"), RolloutBucket(one, "FRESHET")) << "ASCII case is ignored";
    int sameBucket = 0;
    for (const std::string& machine : machines)
        sameBucket += RolloutBucket(machine, "Freshet") == RolloutBucket(machine, "Other") ? 1 : 0;
    // Unrelated buckets agree for one machine in a hundred.
    EXPECT_NEAR(sameBucket, 100, 60);
    EXPECT_NE(RolloutBucket("ab", "c"), RolloutBucket("a", "bc"));
    EXPECT_FALSE(TakesRollout(0, 0)) << "0% reaches nobody";
    EXPECT_TRUE(TakesRollout(99, 100)) << "100% reaches everyone";
}

TEST(Rollout, TheStateKeepsOnlyAWellFormedMachineValue)
{
    const std::string value = "0123456789abcdef0123456789abcdef";
    EXPECT_TRUE(IsMachineValue(value));
    EXPECT_EQ(MachineValueFromState(MachineStateText(value)), value);
    EXPECT_EQ(MachineValueFromState("etag=\"x\"\nmachine=" + value + "\n"), value) << "other keys are skipped";
    EXPECT_EQ(MachineValueFromState("machine=" + value), value) << "no line break at the end";
    for (const std::string& bad : std::vector<std::string>
         {std::string(), "machine=\r\n", "machine=" + value.substr(1) + "\r\n", "machine=" + value + "0\r\n",
          "Machine=" + value, "machine=0123456789ABCDEF0123456789abcdef", " machine=" + value,
          "machine=" + value + " ",
          "machine=" + value + "\r\n" + std::string(UpdateStateLimit, '#')})
        EXPECT_EQ(MachineValueFromState(bad), "") << bad;
    std::string nul = "machine=" + value;
    nul[12] = '\0';
    EXPECT_EQ(MachineValueFromState(nul), "");
}

} // namespace
