// The queue of commands waiting to be sent to the digitizer and echoed by it,
// with the counts the upload procedure follows: memory writes not yet removed
// and the state of a memory read.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// One queued command: its bytes and the sends left (-1: until echoed).
struct TCommandNode {
    int32_t Repeat = 0;
    std::vector<uint8_t> Data;
    int32_t Length() const { return static_cast<int32_t>(Data.size()); }
};

// What the echo of the head command looks like.
struct TEchoHead {
    bool Valid = false;
    uint8_t Tag[3] = {};
    bool IsMemoryWrite = false;
    uint16_t DataSum = 0;  // of a memory write's data words

    // Bytes recognised as this echo at `bytes` with `left` bytes in the chunk:
    // 0, 3 or 5.
    int Match(const uint8_t* bytes, int left) const;
};

// Main thread appends, the reader thread sends and removes; every operation
// takes the lock.
class TCommandQueue {
  public:
    enum class TSend { Nothing, Send, Expired };

    void Enqueue(std::vector<uint8_t> bytes, int repeat);
    // A memory read arms the capture of its answer (ReadBackMode 2) with the
    // append, so that its echo cannot be matched before the capture is expected.
    void EnqueueMemoryRead(std::vector<uint8_t> bytes, int repeat);
    // A memory write is counted with the append: an echo that removed it before
    // the count went up would leave the count one too high for ever.
    void EnqueueMemoryWrite(std::vector<uint8_t> bytes, int repeat);

    // Removes the head. True when that was the memory read whose answer is now
    // captured (ReadBackMode 1): the receiver must start its buffer afresh.
    // Any other removal ends a capture.
    bool Pop();
    // The head's bytes for one transmission, counted against its sends; Expired
    // when it has used them all up (the caller removes it), Nothing when empty.
    TSend TakeForSending(std::vector<uint8_t>& data);
    TEchoHead Head() const;
    int Length() const;

    int PendingWrites() const { return pendingWrites_.load(); }
    int ReadBackMode() const { return readBackMode_.load(); }
    // Ends any capture or armed memory read (ReadBackMode 0).
    void ClearReadBack() { readBackMode_.store(0); }

  private:
    mutable std::mutex lock_;
    std::deque<TCommandNode> queue_;
    std::atomic<int> pendingWrites_{0};
    std::atomic<int> readBackMode_{0};
};
