// Blocks handed from the link's reader thread to a program's own loop, each with the line rate
// it came at: Post runs on the reader thread (as the link's post function), TakeAll on the
// loop's. Blocks still queued when the queue goes are freed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "digitizer/data_block.h"

struct TQueuedBlock {
    TDataBlock* Block;
    uint32_t Baud;  // 0 when not known
};

class TBlockQueue {
  public:
    ~TBlockQueue() {
        for (const TQueuedBlock& queued : blocks_) {
            FreeBlock(queued.Block);
        }
    }
    bool Post(TDataBlock* block, uint32_t baud) {
        std::lock_guard lock(mutex_);
        blocks_.push_back({block, baud});
        ready_.notify_one();
        return true;
    }
    // Every block that has come, oldest first, after waiting up to `wait` for the first; the
    // caller frees them.
    std::deque<TQueuedBlock> TakeAll(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, wait, [&] { return !blocks_.empty(); });
        std::deque<TQueuedBlock> blocks;
        blocks.swap(blocks_);
        return blocks;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<TQueuedBlock> blocks_;
};
