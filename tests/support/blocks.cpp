#include "support/blocks.h"

#include <algorithm>
#include <cstring>

namespace {

template <size_t Size>
void CopyText(char (&field)[Size], const std::string& text) {
    const size_t n = std::min(text.size(), Size - 1);
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

}  // namespace

TSampleSet MakeSamples(int channels, int perBlock, const TCounts& counts, int bytesPerSample) {
    TSampleSet set;
    set.DatLength = channels * perBlock * bytesPerSample;
    const int shift = 32 - 8 * bytesPerSample;
    for (int c = 0; c < channels && c < MaxChannels; ++c) {
        auto& channel = set.Channel[static_cast<size_t>(c)];
        channel.reserve(static_cast<size_t>(perBlock));
        for (int j = 0; j < perBlock; ++j) {
            const int64_t value = counts ? counts(c, j) : 0;
            channel.push_back(static_cast<int32_t>(static_cast<uint32_t>(value) << shift));
        }
    }
    return set;
}

TDataBlock* MakeBlock(const TBlockShape& shape) {
    TDataBlock* block = NewBlock();
    block->Header = std::make_unique<TBlockHeader>();
    block->Gps = std::make_unique<TGpsInfo>();
    block->Samples = std::make_unique<TSampleSet>(
        MakeSamples(shape.Channels, shape.Rate, shape.Counts, shape.BytesPerSample));
    block->Sum = std::make_unique<TBlockSum>();
    TBlockHeader& h = *block->Header;
    CopyText(h.DeviceId, shape.DeviceId);
    CopyText(h.FilterType, shape.FilterType);
    CopyText(h.GainCode, shape.GainCode);
    CopyText(h.SerialNumber, shape.SerialNumber);
    h.NumComponents = static_cast<uint16_t>(shape.Channels);
    h.TotalRate = static_cast<int16_t>(shape.Channels * shape.Rate);
    h.BytesPerSample = static_cast<uint16_t>(shape.BytesPerSample);
    h.BlockCount = shape.BlockCount;
    h.LastValidGpsBlock = -1;
    h.HasMde = shape.Mde ? 1 : 0;
    h.SensorTemp = shape.SensorTemp;
    for (int c = 0; c < MaxChannels; ++c) {
        h.ModuleTemp[c] = shape.ModuleTemp[static_cast<size_t>(c)];
    }
    return block;
}
