// Blocks handed from the link's reader thread to a program's own loop: Post runs on the reader
// thread (as the link's post function), TakeAll on the loop's. Blocks still queued when the
// queue goes are freed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "digitizer/data_block.h"

class TBlockQueue {
  public:
    ~TBlockQueue() {
        for (TDataBlock* block : blocks_) {
            FreeBlock(block);
        }
    }
    bool Post(TDataBlock* block) {
        std::lock_guard lock(mutex_);
        blocks_.push_back(block);
        ready_.notify_one();
        return true;
    }
    // Every block that has come, oldest first, after waiting up to `wait` for the first; the
    // caller frees them.
    std::deque<TDataBlock*> TakeAll(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, wait, [&] { return !blocks_.empty(); });
        std::deque<TDataBlock*> blocks;
        blocks.swap(blocks_);
        return blocks;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<TDataBlock*> blocks_;
};
