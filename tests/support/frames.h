// Frames for feeding the receiver in tests, built with the simulator's encoder.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/frame_encoder.h"

// A frame whose samples identify it: channel c, sample j holds
// blockCount * 1000 + c * 100 + j, cut to the sample width.
TWireFrame MakeTestFrame(uint32_t blockCount, int channels = 3, int samplesPerChannel = 50,
                         int bytesPerSample = 3, bool mde = false);

std::vector<uint8_t> TestFrameBytes(uint32_t blockCount, int channels = 3,
                                    int samplesPerChannel = 50, int bytesPerSample = 3,
                                    bool mde = false);

// Appends `frame` to `stream`.
void Append(std::vector<uint8_t>& stream, const std::vector<uint8_t>& frame);
