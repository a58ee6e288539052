// Per channel, one temperature reading per block, oldest first, bounded by the setting
// StoredHours (one block per second).
#pragma once

#include <array>
#include <deque>

#include "digitizer/data_block.h"

struct TTemperatureReading {
    double Temperature = 0;  // deg C
    double Offset = 0;       // the channel's offset (channel statistics) at that block
};

using TTemperatureHistory = std::deque<TTemperatureReading>;
using TTemperatureHistories = std::array<TTemperatureHistory, MaxChannels>;

// For each channel below `channelCount` (at most six): drops the oldest readings while the
// history holds more than storedHours * 3600, then appends (temperature, offsets[c]), so a
// history holds at most storedHours * 3600 + 1 readings. The temperature is the channel's
// ModuleTemp when the header has MDE, else the one SensorTemp; it is also stored in
// channelTemperature[c]. Channels at or above `channelCount` are left alone.
void StoreTemperatures(TTemperatureHistories& histories, const TBlockHeader& header,
                       int channelCount, int storedHours,
                       const std::array<double, MaxChannels>& offsets,
                       std::array<double, MaxChannels>& channelTemperature);

// Empties every channel's history.
void ClearTemperatureHistories(TTemperatureHistories& histories);
