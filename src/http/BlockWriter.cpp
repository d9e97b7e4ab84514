#include "BlockWriter.h"

BlockWriter::BlockWriter(WriteFunction write, std::size_t blockSize, std::size_t depth)
    : write_(std::move(write)), blockSize_(blockSize), blocks_(depth == 0 ? 1 : depth)
{
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        blocks_[i].resize(blockSize_);
        free_.push_back(i);
    }
    thread_ = std::thread([this] { Run(); });
}

BlockWriter::~BlockWriter()
{
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

char* BlockWriter::Block()
{
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return !free_.empty(); });
    current_ = free_.back();
    free_.pop_back();
    return blocks_[current_].data();
}

bool BlockWriter::Push(std::size_t size)
{
    {
        std::lock_guard guard(lock_);
        if (failed_) {
            free_.push_back(current_);
            return false;
        }
        queue_.push_back({current_, size});
    }
    changed_.notify_all();
    return true;
}

bool BlockWriter::Flush()
{
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return queue_.empty() && !writing_; });
    return !failed_;
}

void BlockWriter::Run()
{
    std::unique_lock guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return !queue_.empty() || stopping_; });
        if (queue_.empty())
            return;
        const Queued block = queue_.front();
        queue_.pop_front();
        bool ok = false;
        if (!failed_) {
            writing_ = true;
            guard.unlock();
            try {
                ok = write_(blocks_[block.index].data(), block.size);
            } catch (...) {
                // A throwing store is a failed store: the transfer ends as a failed write.
                ok = false;
            }
            guard.lock();
            writing_ = false;
        }
        failed_ = failed_ || !ok;
        free_.push_back(block.index);
        changed_.notify_all();
    }
}
