// Sample blocks shared by the channel benchmarks.
#pragma once

#include <random>
#include <vector>

#include "digitizer/data_block.h"

// A few blocks of noise on a slow drift, used in turn: `channels` channels of
// `perBlock` 24-bit samples each.
inline std::vector<TSampleSet> NoiseBlocks(int channels, int perBlock) {
    std::mt19937 random(1);
    std::vector<TSampleSet> blocks(8);
    for (size_t b = 0; b < blocks.size(); ++b) {
        blocks[b].DatLength = channels * perBlock * 3;
        for (int c = 0; c < channels; ++c) {
            for (int i = 0; i < perBlock; ++i) {
                const int32_t counts = static_cast<int32_t>(random() % 200001) - 100000 +
                                       static_cast<int32_t>(b) * 1000;
                blocks[b].Channel[c].push_back(counts * 256);
            }
        }
    }
    return blocks;
}
