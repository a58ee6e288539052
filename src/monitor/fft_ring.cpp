#include "monitor/fft_ring.h"

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

TFftRing::TRuns TFftRing::Newest(int n) const {
    n = std::clamp(n, 0, count_);
    const int first = (oldest_ + count_ - n) % RingCapacity;
    const int straight = std::min(n, RingCapacity - first);
    const std::span<const int32_t> all(entries_);
    return {all.subspan(static_cast<size_t>(first), static_cast<size_t>(straight)),
            all.subspan(0, static_cast<size_t>(n - straight))};
}
