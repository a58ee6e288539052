// The one intake of decoded blocks, shared by the window and the station service: each block's
// stream format, its time and clock flag, whether it breaks off from the block before, and the
// record block that the recorder, the detectors and the live records take.
//
// The time of a block's first sample, in UTC seconds:
// - from the unit's GPS when the block carries a valid GPS date and time: that time (of block
//   LastValidGpsBlock) plus the blocks counted since, the difference taken as signed 32-bit;
// - otherwise it runs on from the previous block by the step of the unit's block count, so
//   that lost frames leave a gap of their length and a step of the computer's clock moves
//   nothing;
// - from the computer's UTC clock only where the count does not follow: the first block,
//   another unit (serial number), a unit that counts again (a power cycle: the count goes
//   back or stands still), a step longer than LongestRunOn.
// The clock is locked when the time came from the GPS and the GPS reports a valid fix; a GPS
// time without a fix is the receiver's own clock, used for the time but not called locked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "digitizer/data_block.h"
#include "digitizer/stream_format.h"
#include "recording/record_block.h"

// What the intake made of one block.
struct TIntakeBlock {
    TStreamFormat Format;
    int SamplesPerBlock = 0;
    // The format differs from the previous block's (always so for the first block).
    bool FormatChanged = false;
    // The previous block came at another known line rate (not 0): once per change.
    bool BaudChanged = false;
    // The block's time is not one second after the previous block's (never for the first).
    bool Gap = false;
    // Blocks the unit counted between the previous block and this one that never came; 0
    // where the count does not follow.
    uint32_t FramesLost = 0;
    // The same unit counts again: its count went back or stood still (a power cycle).
    bool CountRestarted = false;
    // Its time (Time, ClockLocked), format, samples and readings.
    TRecordBlock Record;
};

class TBlockIntake {
  public:
    using TUtcClock = std::function<int64_t()>;  // the computer's UTC clock, in seconds

    static constexpr uint32_t LongestRunOn = 86400;  // blocks counted across a silence

    explicit TBlockIntake(TUtcClock now);

    // One complete decoded block, in order, received at `baudRate` (0 when not known).
    TIntakeBlock Take(const TDataBlock& block, int32_t baudRate);

    // Monitoring starts again: the current format zeroed, the format of the last block kept
    // for the next comparison; the block clock runs on (the unit counted on meanwhile).
    void Restart();

    // The format of the newest block, zeroed by Restart.
    const TStreamFormat& Format() const { return format_; }
    int SamplesPerBlock() const { return samplesPerBlock_; }

  private:
    struct TTiming {
        int64_t Time = 0;
        bool Locked = false;
        bool Follows = false;    // the unit's count runs on from the previous block
        bool Restarted = false;  // the same unit's count went back or stood still
        uint32_t Step = 0;
    };
    TTiming TimeOf(const TBlockHeader& header, const TGpsInfo& gps, const std::string& serial);

    TUtcClock now_;
    TStreamFormat format_;
    TStreamFormat previous_;
    int samplesPerBlock_ = 0;
    bool have_ = false;
    int64_t lastTime_ = 0;
    uint32_t lastCount_ = 0;
    std::string lastSerial_;
};

// The computer's UTC clock in whole seconds.
int64_t SystemUtcSeconds();
