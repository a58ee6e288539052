// Decoded blocks built directly, for tests and benchmarks that hand blocks to
// the model or the window as the link would.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "digitizer/data_block.h"

// Converter counts of sample `sample` of channel `channel` (both 0-based).
using TCounts = std::function<int32_t(int channel, int sample)>;

struct TBlockShape {
    int Channels = 3;
    int Rate = 100;  // samples per channel: one block is one second
    int BytesPerSample = 3;
    std::string GainCode = "L";  // "L" all low gain; "G5" channels 1 and 3 high
    std::string FilterType = "MP";
    std::string DeviceId = "QF 5150-400 ";
    std::string SerialNumber = "00012345";
    uint32_t BlockCount = 0;
    bool Mde = false;
    double SensorTemp = 20;
    std::array<double, MaxChannels> ModuleTemp{};
    TCounts Counts = nullptr;  // none: every sample 0
};

// The samples of a block: `channels` channels of `perBlock` samples, each the
// counts left-justified in 32 bits for `bytesPerSample`-byte samples.
TSampleSet MakeSamples(int channels, int perBlock, const TCounts& counts, int bytesPerSample = 3);

// A complete block (all four parts) with a header as the shape says; no GPS.
TDataBlock* MakeBlock(const TBlockShape& shape);

struct TBlockDeleter {
    void operator()(TDataBlock* block) const { FreeBlock(block); }
};
using TBlockPtr = std::unique_ptr<TDataBlock, TBlockDeleter>;

inline TBlockPtr MakeOwnedBlock(const TBlockShape& shape) {
    return TBlockPtr(MakeBlock(shape));
}
