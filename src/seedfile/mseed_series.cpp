#include "seedfile/mseed_series.h"

#include <algorithm>
#include <cstring>

int RecordLengthExponent(size_t length) {
    for (int n = 8; n <= 16; ++n) {
        if (length == (size_t{1} << n)) {
            return n;
        }
    }
    return 0;
}

TMseedSeries::TMseedSeries(TSeriesFormat format, TSeedTime start, int firstSequence)
    : format_(std::move(format)),
      rate_(ExactRateOf(format_.SampleRate).value_or(TExactRate{1, 1})),
      start_(start),
      sequence_(firstSequence >= 1 && firstSequence <= 999999 ? firstSequence : 1),
      record_(RecordLengthExponent(format_.RecordLength) ? format_.RecordLength : 4096),
      builder_(static_cast<int>((record_.size() - SeedDataOffset) / (SteimFrameWords * 4)),
               format_.Order) {}

TSeedTime TMseedSeries::TimeOf(int64_t index) const {
    return start_.PlusTicks(TicksForSamples(index, rate_));
}

void TMseedSeries::BeginRecord(int32_t before) {
    builder_.Begin(record_.data() + SeedDataOffset, before);
    open_ = true;
}

TMseedSeries::TFlagRun TMseedSeries::FlagsOf(int64_t first, int64_t end) const {
    TFlagRun of{first, 0xFF, 100};
    for (size_t k = 0; k < runs_.size(); ++k) {
        const int64_t runEnd = k + 1 < runs_.size() ? runs_[k + 1].First : appended_;
        if (runs_[k].First < end && runEnd > first) {
            of.Flags &= runs_[k].Flags;
            of.Quality = std::min(of.Quality, runs_[k].Quality);
        }
    }
    return of;
}

void TMseedSeries::Append(std::span<const int32_t> samples, uint8_t ioFlags, int timingQuality,
                          const TSink& sink) {
    if (samples.empty()) {
        return;
    }
    if (runs_.empty() || runs_.back().Flags != ioFlags || runs_.back().Quality != timingQuality) {
        runs_.push_back({appended_, ioFlags, timingQuality});
    }
    for (const int32_t x : samples) {
        if (!open_) {
            BeginRecord(builder_.Last());
        }
        builder_.Push(x);
        ++appended_;
        if (builder_.Full()) {
            CompleteRecord(sink);
        }
    }
}

void TMseedSeries::Flush(const TSink& sink) {
    while (open_ && builder_.Taken() + builder_.Waiting() > 0) {
        CompleteRecord(sink);
    }
}

// Finishes the open record, hands it on, and begins the next with the samples that still
// wait for a word.
void TMseedSeries::CompleteRecord(const TSink& sink) {
    builder_.Finish();
    const size_t taken = builder_.Taken();
    if (taken > 0) {
        const TFlagRun of = FlagsOf(recordFirst_, recordFirst_ + static_cast<int64_t>(taken));
        auto header =
            MakeFixedHeader(sequence_, format_.Codes, ExactRateFactors(format_.SampleRate),
                            static_cast<int>(taken), TimeOf(recordFirst_), format_.Order, of.Flags);
        header[39] = 2;  // blockettes 1000 and 1001
        std::memcpy(record_.data(), header.data(), header.size());
        const auto b1000 = MakeBlockette1000(format_.Order, RecordLengthExponent(record_.size()),
                                             SeedBlockette1001Offset);
        std::memcpy(record_.data() + SeedBlocketteOffset, b1000.data(), b1000.size());
        const auto b1001 = MakeBlockette1001(format_.Order, of.Quality, builder_.FramesUsed());
        std::memcpy(record_.data() + SeedBlockette1001Offset, b1001.data(), b1001.size());
        TSeriesRecord out;
        out.Bytes = record_;
        out.Codes = &format_.Codes;
        out.Start = TimeOf(recordFirst_);
        out.End = TimeOf(recordFirst_ + static_cast<int64_t>(taken) - 1);
        out.Samples = taken;
        out.Sequence = sequence_;
        out.FirstIndex = recordFirst_;
        sequence_ = sequence_ >= 999999 ? 1 : sequence_ + 1;
        recordFirst_ += static_cast<int64_t>(taken);
        // Runs wholly handed on go; the newest always stays.
        size_t gone = 0;
        while (gone + 1 < runs_.size() && runs_[gone + 1].First <= recordFirst_) {
            ++gone;
        }
        runs_.erase(runs_.begin(), runs_.begin() + static_cast<std::ptrdiff_t>(gone));
        sink(out);
    }
    int32_t carried[4];
    const size_t waiting = builder_.TakeWaiting(carried);
    open_ = false;
    if (waiting > 0) {
        BeginRecord(builder_.Last());
        for (size_t k = 0; k < waiting; ++k) {
            builder_.Push(carried[k]);
        }
    }
}
