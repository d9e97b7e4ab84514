#pragma once
// Stores blocks on a thread of its own while the caller fills the next ones,
// so that receiving and storing a body overlap. A fixed set of blocks
// circulates between the two; the caller waits only when all are queued.
// After a failed write the blocks still queued are dropped and every later
// call reports the failure. Platform-free: no <windows.h> here.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class BlockWriter {
public:
    // Called on the writer's thread; false (or an exception) marks a failure.
    using WriteFunction = std::function<bool(const char* data, std::size_t size)>;

    BlockWriter(WriteFunction write, std::size_t blockSize, std::size_t depth = 4);
    // Writes what was handed over, then ends the thread.
    ~BlockWriter();

    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    std::size_t BlockSize() const { return blockSize_; }
    // A free block of BlockSize() bytes; waits while every block is queued.
    char* Block();
    // Queues the block Block() returned last, holding `size` bytes; false once
    // a write has failed.
    bool Push(std::size_t size);
    // Waits until every queued block is written; false when any write failed.
    bool Flush();

private:
    struct Queued {
        std::size_t index;
        std::size_t size;
    };

    void Run();

    WriteFunction write_;
    std::size_t blockSize_;
    std::vector<std::vector<char>> blocks_;
    std::vector<std::size_t> free_;
    std::deque<Queued> queue_;
    std::size_t current_ = 0;
    bool writing_ = false;
    bool failed_ = false;
    bool stopping_ = false;
    std::mutex lock_;
    std::condition_variable changed_;
    std::thread thread_;
};
