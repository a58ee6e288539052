// Sample blocks shared by the channel benchmarks.
#pragma once

#include <random>
#include <vector>

#include "support/blocks.h"

// A few blocks of noise on a slow drift, used in turn: `channels` channels of
// `perBlock` 24-bit samples each.
inline std::vector<TSampleSet> NoiseBlocks(int channels, int perBlock) {
    std::mt19937 random(1);
    std::vector<TSampleSet> blocks;
    for (int b = 0; b < 8; ++b) {
        blocks.push_back(MakeSamples(channels, perBlock, [&random, b](int, int) {
            return static_cast<int32_t>(random() % 200001) - 100000 + b * 1000;
        }));
    }
    return blocks;
}
