// Steim-1 compression: the greedy choice of one data word, shared by the whole-record encoder
// of the data files and by TSteim1Builder, which builds the frames of a record a sample at a
// time for records that are written as the data arrives (the archive, the network).
#pragma once

#include <cstddef>
#include <cstdint>

#include "seedfile/seed_record.h"

inline bool Fits8(int32_t d) {
    return static_cast<uint32_t>(d) + 128u < 256u;
}

inline bool Fits16(int32_t d) {
    return static_cast<uint32_t>(d) + 32768u < 65536u;
}

// x - before, wrapping in 32 bits.
inline int32_t Difference(int32_t x, int32_t before) {
    return static_cast<int32_t>(static_cast<uint32_t>(x) - static_cast<uint32_t>(before));
}

// One data word: its value as a little-endian file would hold it (the first 8-bit difference
// in the low byte, the first 16-bit difference in the low half), its code (1, 2 or 3) and the
// samples it takes.
struct TSteimWord {
    uint32_t Value = 0;
    uint32_t Code = 0;
    size_t Taken = 0;
};

// The greedy choice for the samples x[0 .. left): four differences that fit in 8 bits make one
// word, else two that fit in 16 bits, else one 32-bit word. With fewer than four samples left
// no 8-bit word is made. The first difference is taken against `before`; `left` >= 1.
inline TSteimWord ChooseSteimWord(const int32_t* x, size_t left, int32_t before) {
    const int32_t d0 = Difference(x[0], before);
    if (left >= 4) {
        const int32_t d1 = Difference(x[1], x[0]);
        const int32_t d2 = Difference(x[2], x[1]);
        const int32_t d3 = Difference(x[3], x[2]);
        if (Fits8(d0) && Fits8(d1) && Fits8(d2) && Fits8(d3)) {
            return {(static_cast<uint32_t>(d0) & 0xFF) | (static_cast<uint32_t>(d1) & 0xFF) << 8 |
                        (static_cast<uint32_t>(d2) & 0xFF) << 16 | static_cast<uint32_t>(d3) << 24,
                    1, 4};
        }
        if (Fits16(d0) && Fits16(d1)) {
            return {(static_cast<uint32_t>(d0) & 0xFFFF) | static_cast<uint32_t>(d1) << 16, 2, 2};
        }
        return {static_cast<uint32_t>(d0), 3, 1};
    }
    if (left >= 2) {
        const int32_t d1 = Difference(x[1], x[0]);
        if (Fits16(d0) && Fits16(d1)) {
            return {(static_cast<uint32_t>(d0) & 0xFFFF) | static_cast<uint32_t>(d1) << 16, 2, 2};
        }
    }
    return {static_cast<uint32_t>(d0), 3, 1};
}

// Writes a data word in `order`: four 8-bit differences lie in file order either way, 16-bit
// and 32-bit differences each in the byte order of the record.
void PutSteimWord(uint8_t* at, const TSteimWord& word, TByteOrder order);
// A control word or integration constant.
void PutSteimInteger(uint8_t* at, uint32_t value, TByteOrder order);

// The frames of one record, built as samples come, with exactly the words the whole-record
// encoder makes for the same samples: a word is chosen as soon as four samples wait, and the
// samples still waiting when the record is finished go into 16-bit or 32-bit words.
class TSteim1Builder {
  public:
    // Records of `frameCount` frames of 64 bytes (7 for 512-byte records, 63 for 4096).
    TSteim1Builder(int frameCount, TByteOrder order);

    // A new record into `frames` (frameCount x 64 bytes, cleared here). `before` is the sample
    // before the record's first, against which its first difference is taken.
    void Begin(uint8_t* frames, int32_t before);
    // Takes one sample; false (the sample not taken) once the record is full. When the record
    // fills up, the samples that wait for a word stay waiting: they begin the next record
    // (TakeWaiting).
    bool Push(int32_t x);
    // No room for another word.
    bool Full() const { return frame_ >= frameCount_; }
    // Makes words of the samples still waiting, as far as room allows, and writes the control
    // word of the last frame and the integration constants. The record is then complete.
    void Finish();

    // Samples in words so far.
    size_t Taken() const { return taken_; }
    // The last sample in a word (the reverse integration constant); `before` while none.
    int32_t Last() const { return last_; }
    // Moves the samples that wait for a word into `out` (room for 3) and returns how many.
    size_t TakeWaiting(int32_t* out);
    size_t Waiting() const { return waiting_; }
    // Frames that hold a word (after Finish: the frames of the record).
    int FramesUsed() const { return frame_ + (word_ > (frame_ == 0 ? 3 : 1) ? 1 : 0); }

  private:
    void Emit(size_t left);

    int frameCount_;
    TByteOrder order_;
    uint8_t* frames_ = nullptr;
    int frame_ = 0;
    int word_ = 3;
    uint32_t control_ = 0;
    size_t taken_ = 0;
    int32_t first_ = 0;
    int32_t last_ = 0;
    int32_t pending_[4] = {};
    size_t waiting_ = 0;
};
