// The most recent 8192 raw sample words of one channel, the input of its spectrum.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

class TFftRing {
  public:
    static constexpr int RingCapacity = 8192;

    // Allocates all entries at once; nothing is allocated afterwards.
    TFftRing();

    // Writes at Next(); once full, the oldest entry is the one overwritten.
    void Push(int32_t value);
    // The i-th held sample, 0 being the oldest, for 0 <= i < Count(). Other
    // values of i read another entry of the ring (never outside it).
    int32_t Get(int i) const { return entries_[static_cast<unsigned>(oldest_ + i) % RingCapacity]; }
    // The newest n held samples (n limited to Count()), oldest first, as two
    // runs of the ring's storage: the second is empty unless they wrap.
    struct TRuns {
        std::span<const int32_t> Older;
        std::span<const int32_t> Newer;
    };
    TRuns Newest(int n) const;
    // Back to empty: oldest, next and count 0, every entry 0.
    void Reset();

    int Oldest() const { return oldest_; }
    int Next() const { return next_; }
    int Capacity() const { return RingCapacity; }
    int Count() const { return count_; }

  private:
    int oldest_ = 0;
    int next_ = 0;
    int count_ = 0;
    std::vector<int32_t> entries_;
};
