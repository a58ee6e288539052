#include "monitor/channel_history.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace {

TMinMax ScanMinMax(const int32_t* first, const int32_t* last) {
    TMinMax range;
    int32_t low = range.Min;
    int32_t high = range.Max;
    for (const int32_t* p = first; p != last; ++p) {
        low = std::min(low, *p);
        high = std::max(high, *p);
    }
    range.Min = low;
    range.Max = high;
    return range;
}

}  // namespace

TChannelHistory::TChannelHistory(size_t maxSamples)
    : maxChunks_(maxSamples / ChunkSize + (maxSamples % ChunkSize != 0 ? 1 : 0)) {}

bool TChannelHistory::Reserve(size_t samples) {
    const size_t needed = samples / ChunkSize + (samples % ChunkSize != 0 ? 1 : 0);
    if (needed > maxChunks_) {
        return false;
    }
    try {
        while (chunks_.size() < needed) {
            chunks_.push_back(std::unique_ptr<TChunk>(new TChunk));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool TChannelHistory::Append(std::span<const int32_t> values) {
    if (values.empty()) {
        return true;
    }
    if (Reserve(size_ + values.size())) {
        Store(values);
        return true;
    }
    size_ = 0;
    if (Reserve(values.size())) {
        Store(values);
    }
    return false;
}

// Copies values after the last sample, block piece by block piece, keeping the
// block and chunk summaries. The chunks are already there.
void TChannelHistory::Store(std::span<const int32_t> values) {
    size_t index = size_;
    size_t from = 0;
    while (from < values.size()) {
        TChunk& chunk = *chunks_[index >> ChunkShift];
        const size_t offset = index & (ChunkSize - 1);
        const size_t inBlock = offset & (BlockSize - 1);
        const size_t count = std::min(BlockSize - inBlock, values.size() - from);
        const int32_t* source = values.data() + from;
        std::copy(source, source + count, chunk.Samples + offset);
        const TMinMax piece = ScanMinMax(source, source + count);
        TMinMax& block = chunk.Blocks[offset >> BlockShift];
        if (inBlock == 0) {
            block = piece;
        } else {
            block.Merge(piece);
        }
        if (offset == 0) {
            chunk.Whole = piece;
        } else {
            chunk.Whole.Merge(piece);
        }
        index += count;
        from += count;
    }
    size_ = index;
}

void TChannelHistory::Clear(size_t keepSamples) {
    size_ = 0;
    const size_t keep = keepSamples / ChunkSize + (keepSamples % ChunkSize != 0 ? 1 : 0);
    if (chunks_.size() > keep) {
        chunks_.resize(keep);
    }
}

int32_t TChannelHistory::At(size_t index) const {
    if (index >= size_) {
        throw std::out_of_range("channel history index");
    }
    return (*this)[index];
}

// Min and max of one chunk's samples [first, last), both offsets inside the chunk.
TMinMax TChannelHistory::ChunkMinMax(const TChunk& chunk, size_t first, size_t last) {
    if (first == 0 && last == ChunkSize) {
        return chunk.Whole;
    }
    const size_t firstBlock = (first + BlockSize - 1) >> BlockShift;  // first whole block
    const size_t lastBlock = last >> BlockShift;                      // past the last whole one
    if (firstBlock >= lastBlock) {
        return ScanMinMax(chunk.Samples + first, chunk.Samples + last);
    }
    TMinMax range = ScanMinMax(chunk.Samples + first, chunk.Samples + (firstBlock << BlockShift));
    for (size_t b = firstBlock; b < lastBlock; ++b) {
        range.Merge(chunk.Blocks[b]);
    }
    range.Merge(ScanMinMax(chunk.Samples + (lastBlock << BlockShift), chunk.Samples + last));
    return range;
}

TMinMax TChannelHistory::MinMax(size_t first, size_t last) const {
    last = std::min(last, size_);
    TMinMax range;
    while (first < last) {
        const size_t chunkStart = first & ~(ChunkSize - 1);
        const size_t end = std::min(last, chunkStart + ChunkSize);
        range.Merge(
            ChunkMinMax(*chunks_[first >> ChunkShift], first - chunkStart, end - chunkStart));
        first = end;
    }
    return range;
}

size_t TChannelHistory::MemoryBytes() const {
    return sizeof(*this) + chunks_.capacity() * sizeof(chunks_[0]) +
           chunks_.size() * sizeof(TChunk);
}
