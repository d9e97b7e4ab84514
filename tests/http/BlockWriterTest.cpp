#include "http/BlockWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

TEST(BlockWriter, WritesEveryBlockInOrder)
{
    std::string out;
    std::string expected;
    {
        BlockWriter writer([&](const char* data, std::size_t size) {
            out.append(data, size);
            return true;
        }, /*blockSize=*/16, /*depth=*/3);
        for (int i = 0; i < 1000; ++i) {
            const std::string piece = std::to_string(i) + ",";
            char* block = writer.Block();
            std::memcpy(block, piece.data(), piece.size());
            expected += piece;
            ASSERT_TRUE(writer.Push(piece.size()));
        }
        EXPECT_TRUE(writer.Flush());
        EXPECT_EQ(out, expected);
    }
    EXPECT_EQ(out, expected);
}

TEST(BlockWriter, FailureStopsLaterWritesAndIsReported)
{
    int writes = 0;
    BlockWriter writer([&](const char*, std::size_t) { return ++writes < 3; }, 8, 2);
    bool pushed = true;
    for (int i = 0; i < 10 && pushed; ++i) {
        writer.Block();
        pushed = writer.Push(8);
        writer.Flush();
    }
    EXPECT_FALSE(pushed);
    EXPECT_FALSE(writer.Flush());
    EXPECT_EQ(writes, 3);
}

TEST(BlockWriter, ExceptionCountsAsAFailedWrite)
{
    BlockWriter writer([](const char*, std::size_t) -> bool { throw std::runtime_error("disk gone"); }, 8, 2);
    writer.Block();
    writer.Push(8);
    EXPECT_FALSE(writer.Flush());
}

}  // namespace
