// One channel's display history: the raw sample words of the last StoredSeconds,
// oldest first, with a min/max summary for drawing long traces quickly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

// The smallest and largest of a set of raw words. An empty set has Min above Max.
struct TMinMax {
    int32_t Min = std::numeric_limits<int32_t>::max();
    int32_t Max = std::numeric_limits<int32_t>::min();

    bool Empty() const { return Min > Max; }
    void Add(int32_t value) {
        Min = value < Min ? value : Min;
        Max = value > Max ? value : Max;
    }
    void Merge(const TMinMax& other) {
        Min = other.Min < Min ? other.Min : Min;
        Max = other.Max > Max ? other.Max : Max;
    }
};

// Samples live in fixed chunks of ChunkSize words that never move: growing
// allocates one more chunk and copies nothing. Every block of BlockSize samples
// and every chunk keep the min and max of their samples, so MinMax over n
// samples reads at most 2 x (BlockSize - 1) samples, 2 x (BlocksPerChunk - 1)
// block summaries and n / ChunkSize chunk summaries.
//
// Memory: 4 bytes per sample plus 8 bytes per block (4 + 8/256 = 4.03 bytes per
// sample), in whole chunks of 258 KiB.
//
// When memory cannot be obtained (std::bad_alloc, or the MaxSamples limit given
// at construction) the history never throws: an append that does not fit
// empties the history and starts it again with the samples being appended, in
// the chunks it already holds (a display sweep restarts at the left edge, as it
// does when the window is full). If even those are too few, the history stays
// empty. In both cases Append returns false.
class TChannelHistory {
  public:
    static constexpr size_t ChunkShift = 16;
    static constexpr size_t ChunkSize = size_t{1} << ChunkShift;  // 65536 samples
    static constexpr size_t BlockShift = 8;
    static constexpr size_t BlockSize = size_t{1} << BlockShift;  // 256 samples
    static constexpr size_t BlocksPerChunk = ChunkSize / BlockSize;

    // maxSamples caps the memory taken, in samples (rounded up to whole chunks).
    explicit TChannelHistory(size_t maxSamples = std::numeric_limits<size_t>::max());

    bool Append(int32_t value) { return Append(std::span<const int32_t>(&value, 1)); }
    bool Append(std::span<const int32_t> values);

    // Empties the history. The chunks needed for keepSamples samples are kept for
    // the next fill; the others are freed (all of them by default).
    void Clear(size_t keepSamples = 0);

    size_t Size() const { return size_; }
    bool IsEmpty() const { return size_ == 0; }
    int32_t operator[](size_t index) const {
        return chunks_[index >> ChunkShift]->Samples[index & (ChunkSize - 1)];
    }
    // As operator[], but throws std::out_of_range for an index at or past Size().
    int32_t At(size_t index) const;

    // Min and max of the samples at [first, last); last is limited to Size().
    // Empty (Min > Max) when the range holds no sample.
    TMinMax MinMax(size_t first, size_t last) const;

    // Bytes held for samples and summaries, including unused chunks kept by Clear.
    size_t MemoryBytes() const;

  private:
    struct TChunk {
        int32_t Samples[ChunkSize];
        TMinMax Blocks[BlocksPerChunk];
        TMinMax Whole;
    };

    bool Reserve(size_t samples);
    void Store(std::span<const int32_t> values);
    static TMinMax ChunkMinMax(const TChunk& chunk, size_t first, size_t last);

    size_t maxChunks_;
    size_t size_ = 0;
    std::vector<std::unique_ptr<TChunk>> chunks_;
};
