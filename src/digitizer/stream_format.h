// The stream format of a block (channels, rate, sample width, gains, filter, baud rate) and its
// derivation from the block header.
#pragma once

#include <cstdint>

#include "digitizer/data_block.h"

// A block whose format differs from the previous block's is a format change. Every field is
// compared exactly, SampleRate as a double. SamplesPerBlock, HasMde, decimations and gain and
// offset values are not part of the format.
struct TStreamFormat {
    int32_t ChannelCount = 0;
    double SampleRate = 0;  // samples per second per channel
    int32_t BytesPerSample = 0;
    int32_t GainBits = 0;    // bit n set: channel n+1 at high gain
    int32_t FilterCode = 0;  // 0 minimal phase, 1 linear phase, -1 unknown
    int32_t BaudRate = 0;    // the open port's rate when the block arrived

    bool operator==(const TStreamFormat&) const = default;
};

// The format of a block with this header, received at `baudRate`.
TStreamFormat StreamFormatOf(const TBlockHeader& header, int32_t baudRate);

// Samples per second per channel from the header's TotalRate: totalRate / channels when
// positive, else -1 / (totalRate * channels) (-10 with one channel is 0.1). 0 when either
// is 0 (such frames are rejected by the decoder).
double SampleRateFromTotal(int16_t totalRate, int channels);

// Samples per channel in a DAT record: datLength / (bytesPerSample * channels) in unsigned
// 32-bit division; 0 when the divisor is 0.
uint32_t SamplesPerBlock(int32_t datLength, uint32_t bytesPerSample, uint32_t channels);

// The high-gain mask from the header's GainCode (at most two characters, NUL-terminated):
// "G" then, below 4 channels, the decimal number that follows ("G5" is 5), from 4 channels on
// the second byte as a signed 8-bit mask; "L" gives 0; any other first character 7.
int32_t GainBitsFromCode(const char* gainCode, int channelCount);

// 10 when the channel (0-based) runs at high gain in `gainBits`, else 1.
int32_t GainFactorOf(int32_t gainBits, int channelIndex);

// One converter count is one microvolt at gain factor 1; a raw word holds the
// count shifted left by 8 bits: raw x 0.00390625 / gainFactor, in double.
inline double SampleToMicrovolts(int32_t raw, int gainFactor) {
    return raw * 0.00390625 / gainFactor;
}

// 0 minimal phase, 1 linear phase, -1 unknown, from the header's FilterType and DeviceId
// (NUL-terminated). Devices whose identifier sorts above "QF 5150-310" (first 11 bytes,
// unsigned) call minimal phase "MP" and linear phase "LP"; the others the other way round.
int32_t FilterCodeFrom(const char* filterType, const char* deviceId);
