// One channel's continuous series of samples as miniSEED records made while the data arrives:
// a record is handed on as soon as it is full, and Flush hands on the samples that wait as a
// shorter record, after which the next record continues the series. Record start times are
// the series start plus the samples before the record over the rate, in exact integers, so
// that records follow each other without gap or overlap however the series was cut; the
// header gives the rate exactly where its fields can (100 / 3 as 100 and -3). Every record
// carries blockette 1000 and then blockette 1001 with the timing quality of its samples.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "seedfile/seed_record.h"
#include "seedfile/seed_time.h"
#include "seedfile/steim1.h"

struct TSeriesFormat {
    TSeedCodes Codes;
    double SampleRate = 0;       // samples per second, above 0
    size_t RecordLength = 4096;  // a power of two from 256 to 65536
    TByteOrder Order = TByteOrder::Big;
};

// A record handed on by a series. The bytes are valid during the call only.
struct TSeriesRecord {
    std::span<const uint8_t> Bytes;
    const TSeedCodes* Codes = nullptr;
    TSeedTime Start;  // of the first sample
    TSeedTime End;    // of the last sample
    size_t Samples = 0;
    int Sequence = 0;        // 1 to 999999
    int64_t FirstIndex = 0;  // of the first sample within the series
};

// "2^n = length": n, or 0 when `length` is not a power of two from 256 to 65536.
int RecordLengthExponent(size_t length);

class TMseedSeries {
  public:
    using TSink = std::function<void(const TSeriesRecord&)>;

    // A series whose first sample is at `start`; its records are numbered from
    // `firstSequence` on (after 999999 comes 1).
    TMseedSeries(TSeriesFormat format, TSeedTime start, int firstSequence = 1);

    // Appends samples (on the scale the records carry) that came with the I/O and clock flags
    // `ioFlags` and the timing quality `timingQuality` (0 to 100); a record carries a flag only
    // when every block in it did, and the lowest timing quality of its blocks. Every record
    // that fills up is handed to `sink`.
    void Append(std::span<const int32_t> samples, uint8_t ioFlags, int timingQuality,
                const TSink& sink);
    // The samples that wait, handed on now as one (or, when they need more room than is left,
    // two) shorter records; nothing when none wait.
    void Flush(const TSink& sink);

    const TSeriesFormat& Format() const { return format_; }
    TSeedTime Start() const { return start_; }
    // The time of sample `index` of the series.
    TSeedTime TimeOf(int64_t index) const;
    int64_t Appended() const { return appended_; }
    // Samples appended but not yet in a record handed on.
    int64_t Pending() const { return appended_ - recordFirst_; }
    int NextSequence() const { return sequence_; }

  private:
    void BeginRecord(int32_t before);
    void CompleteRecord(const TSink& sink);
    // The flags and timing quality of the samples not yet handed on, a run per block: run k
    // holds the samples from its First up to the next run's.
    struct TFlagRun {
        int64_t First = 0;
        uint8_t Flags = 0;
        int Quality = 0;
    };
    // Of samples [first, end): every block's flags among them ANDed, the lowest quality.
    TFlagRun FlagsOf(int64_t first, int64_t end) const;

    TSeriesFormat format_;
    TExactRate rate_;
    TSeedTime start_;
    int sequence_;
    std::vector<uint8_t> record_;
    TSteim1Builder builder_;
    bool open_ = false;        // a record has begun
    int64_t recordFirst_ = 0;  // index of the open record's first sample
    int64_t appended_ = 0;
    std::vector<TFlagRun> runs_;
};
