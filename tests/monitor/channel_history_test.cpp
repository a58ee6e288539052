// The chunked sample history: contents across chunk boundaries, reuse after
// Clear, range min/max against a plain scan, and what a failed growth leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "monitor/channel_history.h"

namespace {

constexpr size_t Chunk = TChannelHistory::ChunkSize;

// Appends `values` in random pieces (single samples among them), then checks
// every sample and many ranges, aligned, across blocks and chunks, or random.
void FillAndCheck(TChannelHistory& history, const std::vector<int32_t>& values,
                  std::mt19937& random) {
    for (size_t i = 0; i < values.size();) {
        const size_t n = std::min(values.size() - i, size_t{1} + random() % 5000);
        ASSERT_TRUE(n == 1 ? history.Append(values[i])
                           : history.Append(std::span(values.data() + i, n)));
        i += n;
    }
    const size_t n = values.size();
    ASSERT_EQ(history.Size(), n);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(history[i], values[i]) << i;
    }
    std::vector<std::pair<size_t, size_t>> ranges = {
        {0, n}, {n - 1, n + 5}, {Chunk - 1, Chunk + 1}, {255, 513}, {Chunk, 2 * Chunk}};
    for (int k = 0; k < 400; ++k) {
        const size_t a = random() % n;
        ranges.push_back({a, a + 1 + (k % 2 ? random() % 700 : random() % (n - a))});
    }
    for (auto [first, last] : ranges) {
        const TMinMax range = history.MinMax(first, last);  // last is limited to Size()
        const auto [low, high] =
            std::minmax_element(values.begin() + first, values.begin() + std::min(last, n));
        ASSERT_EQ(range.Min, *low) << first << ".." << last;
        ASSERT_EQ(range.Max, *high) << first << ".." << last;
    }
    EXPECT_TRUE(history.MinMax(5, 5).Empty());
}

TEST(ChannelHistory, HoldsEverySampleAcrossChunksAndAfterClear) {
    std::mt19937 random(7);
    TChannelHistory history;
    std::vector<int32_t> walk(3 * Chunk + 1234);
    int32_t level = 0;
    for (int32_t& v : walk) {
        level += static_cast<int32_t>(random() % 2001) - 1000;
        v = random() % 97 == 0 ? static_cast<int32_t>(random()) : level;  // spikes anywhere
    }
    FillAndCheck(history, walk, random);
    EXPECT_THROW(history.At(walk.size()), std::out_of_range);

    // A refill into the kept chunks, with smaller swings: summaries of the
    // earlier fill must not leak into it.
    const size_t bytes = history.MemoryBytes();
    history.Clear(walk.size());
    EXPECT_TRUE(history.MinMax(0, Chunk).Empty());
    std::vector<int32_t> small(Chunk + 700);
    for (size_t i = 0; i < small.size(); ++i) {
        small[i] = static_cast<int32_t>(i % 1000) - 500;
    }
    FillAndCheck(history, small, random);
    EXPECT_EQ(history.MemoryBytes(), bytes);
    history.Clear();
    EXPECT_LT(history.MemoryBytes(), Chunk);
}

TEST(ChannelHistory, GrowthBeyondItsMemoryRestartsWithTheNewSamples) {
    TChannelHistory history(Chunk);  // memory for one chunk only
    ASSERT_TRUE(history.Append(std::vector<int32_t>(Chunk - 100, 1)));
    std::vector<int32_t> block(3000);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<int32_t>(i) - 1000;
    }
    EXPECT_FALSE(history.Append(block));
    ASSERT_EQ(history.Size(), block.size());
    EXPECT_EQ(history[0], -1000);
    EXPECT_EQ(history[2999], 1999);
    EXPECT_EQ(history.MinMax(0, 3000).Min, -1000);

    // More than it can ever hold: empty, and usable afterwards.
    EXPECT_FALSE(history.Append(std::vector<int32_t>(Chunk + 1, 3)));
    EXPECT_EQ(history.Size(), 0u);
    EXPECT_TRUE(history.Append(7));
    EXPECT_EQ(history.At(0), 7);
}

}  // namespace
