// What the recorder takes of one block: its time, whether that time came from the unit's GPS,
// the stream format it was recorded under, every channel's samples and the state-of-health
// readings. A copy, so that the block itself can go at once.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "digitizer/data_block.h"

// State-of-health readings of one block, as whole numbers in the units the archive keeps.
struct TSohReadings {
    int32_t SupplyMillivolts = 0;
    int32_t SupplyMilliamperes = 0;
    int32_t SensorDeciCelsius = 0;  // tenths of a degree Celsius
    // Module temperatures of channels 1 to 6 in tenths of a degree; only with the enhanced
    // header (HasModuleTemperatures).
    std::array<int32_t, MaxChannels> ModuleDeciCelsius{};
    bool HasModuleTemperatures = false;
    int32_t Satellites = 0;
    int32_t GpsFix = 0;  // 1 with a valid fix, else 0
    // Blocks (seconds) since the block of the last valid GPS fix; -1 when the unit has had
    // none (or sends no GPS record).
    int32_t GpsFixAge = -1;
};

struct TRecordBlock {
    int64_t Time = 0;          // of the block's first sample: UTC seconds since 1970
    bool ClockLocked = false;  // Time came from the unit's GPS
    int ChannelCount = 0;      // 1 to 6
    double SampleRate = 0;     // samples per second per channel
    int BytesPerSample = 0;    // 1 to 4
    int SamplesPerBlock = 0;   // per channel, from the block's data length
    std::string SerialNumber;  // the unit's, as the block carries it
    // Samples of channels 0 .. ChannelCount - 1 as the block holds them (left-justified);
    // empty for a block without samples.
    std::array<std::vector<int32_t>, MaxChannels> Samples;
    TSohReadings Soh;

    bool HasSamples() const;
    // Bytes the block holds in memory, for the recorder's queue limit.
    size_t Bytes() const;
};

// The block's readings and samples (channels 0 .. channelCount - 1, at most the samples per
// block each), with its time and format as the receiver worked them out.
TRecordBlock MakeRecordBlock(const TDataBlock& block, int64_t time, bool clockLocked,
                             int channelCount, double sampleRate, int bytesPerSample,
                             int samplesPerBlock);

// The timing quality of a block's time, 0 to 100, for blockette 1001:
// - 0 when the unit has never had a fix (GpsFixAge -1);
// - locked (the time from the GPS with a valid fix, of this block or the one before): 100
//   with 4 or more
//   satellites or when the receiver does not say how many (0: the sentence carries none),
//   90 with 3, 80 with fewer;
// - otherwise the clock runs on from the last fix: 90 in the first minute after it, one less
//   for every further whole minute, never below 10 (a clock that once was set).
// A GPS time without a fix is the receiver's own clock: the age counts, not the time field.
int TimingQuality(bool locked, int32_t satellites, int32_t fixAge);
int TimingQualityOf(const TRecordBlock& block);

// The sample on the count scale the records carry: a 1- to 3-byte sample divided by 256 (its
// 24-bit value), a 4-byte sample as held.
inline int32_t CountScale(int32_t raw, int bytesPerSample) {
    return bytesPerSample >= 4 ? raw : raw / 256;
}
