// The FFT ring: order of the held samples after wrapping, and reset.
#include <gtest/gtest.h>

#include <vector>

#include "monitor/fft_ring.h"

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

// The newest n samples in two runs, whether the ring has wrapped or not.
TEST(FftRing, NewestSamplesComeInTwoRunsOldestFirst) {
    struct TCase {
        int pushed;
        int n;
    };
    for (const TCase& c : {TCase{100, 64}, TCase{100, 100}, TCase{100, 1024}, TCase{8192, 8192},
                           TCase{10000, 1024}, TCase{10000, 8192}, TCase{9000, 0}}) {
        TFftRing ring;
        for (int v = 1; v <= c.pushed; ++v) {
            ring.Push(v);
        }
        const TFftRing::TRuns runs = ring.Newest(c.n);
        std::vector<int32_t> got(runs.Older.begin(), runs.Older.end());
        got.insert(got.end(), runs.Newer.begin(), runs.Newer.end());
        const int held = std::min(c.n, ring.Count());
        ASSERT_EQ(got.size(), static_cast<size_t>(held)) << c.pushed << " " << c.n;
        for (int i = 0; i < held; ++i) {
            ASSERT_EQ(got[static_cast<size_t>(i)], c.pushed - held + 1 + i)
                << c.pushed << " " << c.n;
        }
    }
}

}  // namespace
