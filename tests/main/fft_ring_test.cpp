// The FFT ring: order of the held samples after wrapping, and reset.
#include <gtest/gtest.h>

#include "main/model/fft_ring.h"

namespace {

TEST(FftRing, HoldsTheLatest8192OldestFirst) {
    TFftRing ring;
    for (int v = 1; v <= 10000; ++v) {
        ring.Push(v);
    }
    EXPECT_EQ(ring.Count(), 8192);
    EXPECT_EQ(ring.Oldest(), 10000 - 8192);
    EXPECT_EQ(ring.Next(), 10000 - 8192);
    for (int i = 0; i < 8192; ++i) {
        ASSERT_EQ(ring.Get(i), 1809 + i);  // the 1809th value pushed is the oldest held
    }

    ring.Reset();
    EXPECT_EQ(ring.Count(), 0);
    EXPECT_EQ(ring.Oldest(), 0);
    EXPECT_EQ(ring.Next(), 0);
    for (int i = 0; i < 8192; ++i) {
        ASSERT_EQ(ring.Get(i), 0);  // every entry cleared, not only the counters
    }
    ring.Push(-5);
    EXPECT_EQ(ring.Get(0), -5);
}

}  // namespace
