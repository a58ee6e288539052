#include "seedfile/steim1.h"

#include <cstring>

namespace {

void Put16(uint8_t* at, uint16_t value, TByteOrder order) {
    if (order == TByteOrder::Little) {
        at[0] = static_cast<uint8_t>(value);
        at[1] = static_cast<uint8_t>(value >> 8);
    } else {
        at[0] = static_cast<uint8_t>(value >> 8);
        at[1] = static_cast<uint8_t>(value);
    }
}

}  // namespace

void PutSteimInteger(uint8_t* at, uint32_t value, TByteOrder order) {
    if (order == TByteOrder::Little) {
        at[0] = static_cast<uint8_t>(value);
        at[1] = static_cast<uint8_t>(value >> 8);
        at[2] = static_cast<uint8_t>(value >> 16);
        at[3] = static_cast<uint8_t>(value >> 24);
    } else {
        at[0] = static_cast<uint8_t>(value >> 24);
        at[1] = static_cast<uint8_t>(value >> 16);
        at[2] = static_cast<uint8_t>(value >> 8);
        at[3] = static_cast<uint8_t>(value);
    }
}

void PutSteimWord(uint8_t* at, const TSteimWord& word, TByteOrder order) {
    if (word.Code == 2) {
        Put16(at, static_cast<uint16_t>(word.Value), order);
        Put16(at + 2, static_cast<uint16_t>(word.Value >> 16), order);
    } else if (word.Code == 1) {
        PutSteimInteger(at, word.Value, TByteOrder::Little);
    } else {
        PutSteimInteger(at, word.Value, order);
    }
}

TSteim1Builder::TSteim1Builder(int frameCount, TByteOrder order)
    : frameCount_(frameCount), order_(order) {}

void TSteim1Builder::Begin(uint8_t* frames, int32_t before) {
    frames_ = frames;
    std::memset(frames_, 0, static_cast<size_t>(frameCount_) * SteimFrameWords * 4);
    frame_ = 0;
    word_ = 3;
    control_ = 0;
    taken_ = 0;
    first_ = 0;
    last_ = before;
    waiting_ = 0;
}

bool TSteim1Builder::Push(int32_t x) {
    if (Full()) {
        return false;
    }
    pending_[waiting_++] = x;
    if (waiting_ == 4) {
        Emit(4);
    }
    return true;
}

void TSteim1Builder::Emit(size_t left) {
    const TSteimWord word = ChooseSteimWord(pending_, left, last_);
    if (taken_ == 0) {
        first_ = pending_[0];
    }
    PutSteimWord(frames_ + (frame_ * SteimFrameWords + word_) * 4, word, order_);
    control_ |= word.Code << (30 - 2 * word_);
    taken_ += word.Taken;
    last_ = pending_[word.Taken - 1];
    for (size_t k = word.Taken; k < waiting_; ++k) {
        pending_[k - word.Taken] = pending_[k];
    }
    waiting_ -= word.Taken;
    if (++word_ >= SteimFrameWords) {
        PutSteimInteger(frames_ + frame_ * SteimFrameWords * 4, control_, order_);
        control_ = 0;
        ++frame_;
        word_ = 1;
    }
}

void TSteim1Builder::Finish() {
    while (waiting_ > 0 && !Full()) {
        Emit(waiting_);
    }
    if (!Full() && control_ != 0) {
        PutSteimInteger(frames_ + frame_ * SteimFrameWords * 4, control_, order_);
    }
    if (taken_ > 0) {
        PutSteimInteger(frames_ + 4, static_cast<uint32_t>(first_), order_);
        PutSteimInteger(frames_ + 8, static_cast<uint32_t>(last_), order_);
    }
}

size_t TSteim1Builder::TakeWaiting(int32_t* out) {
    const size_t n = waiting_;
    for (size_t k = 0; k < n; ++k) {
        out[k] = pending_[k];
    }
    waiting_ = 0;
    return n;
}
