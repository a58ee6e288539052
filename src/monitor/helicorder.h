// What the Helicorder page draws from: per channel, per time slot of half a second, the lowest
// and highest value of the channel's samples (on the count scale, CountScale) and of the same
// series through the trigger's band-pass, over the newest 24 hours. A slot belongs to the UTC
// half-second its samples fall in (sample j of a block at the block's Time + j / SampleRate),
// so that blocks of any length and rate fill the same slots, and a redraw of the whole day
// reads 172800 slots instead of 43 million samples.
//
// Memory: 8 bytes a slot and series (two floats), 172800 slots, two series, each of the six
// channels once it has carried samples: 2.76 MB a channel, 16.6 MB for six, whatever the rate.
// No Qt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "detect/bandpass.h"
#include "digitizer/data_block.h"
#include "recording/record_block.h"

class THelicorder {
  public:
    static constexpr int SlotsPerSecond = 2;
    static constexpr int64_t KeptSeconds = 86400;
    static constexpr size_t SlotCount = static_cast<size_t>(KeptSeconds * SlotsPerSecond);

    // The samples as they come, or through the band-pass.
    enum class TSeries { Raw, Filtered };

    // The lowest and highest value within a slot or a range of slots; Empty when no sample
    // fell there.
    struct TRange {
        float Min = 1;
        float Max = 0;
        bool Empty() const { return Min > Max; }
        void Take(float value) {
            if (Empty()) {
                Min = Max = value;
            } else if (value < Min) {
                Min = value;
            } else if (value > Max) {
                Max = value;
            }
        }
        void Take(const TRange& other) {
            if (!other.Empty()) {
                Take(other.Min);
                Take(other.Max);
            }
        }
    };

    explicit THelicorder(const TBandpassDesign& band = {});

    // The band of the filtered series from the next sample on (the trigger's band); the slots
    // filled before keep what they were filled with.
    void SetBand(const TBandpassDesign& band);

    // A whole block. A change of rate, channels or sample width, a gap or a step back in the
    // blocks' times starts the band-pass afresh (settled on the first new sample). Slots
    // older than the newest slot's 24 hours are forgotten; samples older than that are left
    // out.
    void Take(const TRecordBlock& block);

    // The slot of a time: UTC seconds and nanoseconds.
    static int64_t SlotOf(int64_t seconds, int32_t nanoseconds = 0);
    // The newest slot a sample fell in; -1 before the first.
    int64_t NewestSlot() const { return newest_; }
    // The oldest slot still kept: NewestSlot() - SlotCount + 1.
    int64_t OldestSlot() const { return newest_ - static_cast<int64_t>(SlotCount) + 1; }

    // Slots `from` to `to` - 1 of a channel (0-based), merged; empty outside the kept day.
    TRange Range(int channel, TSeries series, int64_t from, int64_t to) const;
    // The mean of the midpoints of those slots that hold samples; 0 when none does.
    double Centre(int channel, TSeries series, int64_t from, int64_t to) const;
    // The median of the slots' spans (highest less lowest) over those that hold samples: the
    // noise's level, whatever a few events add; 0 when none does.
    double MedianSpan(int channel, TSeries series, int64_t from, int64_t to) const;

    // The bytes the slots take (the channels that carried samples).
    size_t Bytes() const;
    // Every slot emptied, the memory freed.
    void Clear();

  private:
    struct TChannel {
        std::vector<TRange> Raw;
        std::vector<TRange> Filtered;
        TBandpassFilter Filter;
        bool Fresh = true;
    };
    // Empties the slots after the newest up to `slot`, which becomes the newest.
    void Advance(int64_t slot);
    void Restart(const TRecordBlock& block);

    TBandpassDesign band_;
    std::array<TChannel, MaxChannels> channels_;
    int64_t newest_ = -1;
    // The format and the time the next block is expected at, for the band-pass.
    bool haveFormat_ = false;
    double rate_ = 0;
    int channelCount_ = 0;
    int bytesPerSample_ = 0;
    double nextTime_ = 0;
    bool filterOk_ = false;
};

// The rows of the Helicorder page: `hours` hours in rows of `rowMinutes` minutes, the last
// row the one holding `newestSecond` (UTC), each row starting at a whole multiple of its length.
struct THelicorderRows {
    int64_t FirstStart = 0;  // UTC seconds of the first (oldest, top) row's start
    int RowSeconds = 1800;
    int Count = 48;
    int64_t Start(int row) const { return FirstStart + static_cast<int64_t>(row) * RowSeconds; }
    // The row holding `second`, -1 above the first and Count below the last.
    int RowOf(int64_t second) const;
};
THelicorderRows HelicorderRows(int64_t newestSecond, int hours, int rowMinutes);

// The automatic scale of the Helicorder's rows: the counts from a row's centre line to its
// edge that make the median slot span (MedianSpan) an eighth of a row, as a power of two (so
// that the zoom's steps of two keep the same levels), 16 counts to 2^23.
double HelicorderHalfRowCounts(double medianSpan);
