#include "main/model/fft_ring.h"

#include <algorithm>

TFftRing::TFftRing() : entries_(RingCapacity, 0) {}

void TFftRing::Push(int32_t value) {
    if (count_ < RingCapacity) {
        ++count_;
    } else {
        oldest_ = (oldest_ + 1) % RingCapacity;
    }
    entries_[next_] = value;
    next_ = (next_ + 1) % RingCapacity;
}

void TFftRing::Reset() {
    oldest_ = 0;
    next_ = 0;
    count_ = 0;
    std::fill(entries_.begin(), entries_.end(), 0);
}
