// The protocol's tables, stated once: the selectable sample rates with their
// captions and decimation factors, the line rates with their "$BA" index, and
// the packing of the flag arguments of "$SC", "$LI", "$SP" and "$FT".
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "digitizer/data_block.h"

// --- Line rates ---

// The eight line rates in the order of their "$BA" index, which is also the
// order of the baud rate search.
inline constexpr std::array<int32_t, 8> BaudRates = {1200,  2400,  4800,  9600,
                                                     19200, 38400, 57600, 115200};

// The "$BA" index of `baud`, -1 when it is not one of BaudRates.
int BaudRateIndex(int32_t baud);

// The rate after `currentBaud` in the search cycle 1200, 2400, ..., 115200,
// 1200; 19200 for a rate outside the cycle.
int32_t BaudCycleNext(int32_t currentBaud);

// --- Sample rates ---

// One selectable rate: its code (rate x 10), its caption, and the decimation
// factors of filter stages 3, 4, ... whose product is 3000 / rate.
struct TSampleRate {
    int32_t Code;
    std::string_view Caption;
    std::array<uint8_t, 5> Factors;
    int FactorCount;
};

// The 26 rates, slowest first: the items of the sample rate group and the
// rows of "$SF".
inline constexpr std::array<TSampleRate, 26> SampleRates = {{
    {1, "0.1", {6, 10, 10, 10, 5}, 5}, {2, "0.2", {6, 10, 10, 5, 5}, 5},
    {5, "0.5", {6, 10, 10, 5, 2}, 5},  {10, "1", {12, 10, 5, 5}, 4},
    {20, "2", {6, 10, 5, 5}, 4},       {40, "4", {6, 5, 5, 5}, 4},
    {50, "5", {12, 10, 5}, 3},         {100, "10", {6, 10, 5}, 3},
    {200, "20", {3, 10, 5}, 3},        {250, "25", {12, 10}, 2},
    {400, "40", {3, 5, 5}, 3},         {500, "50", {12, 5}, 2},
    {750, "75", {4, 10}, 2},           {1000, "100", {6, 5}, 2},
    {1200, "120", {1, 5, 5}, 3},       {1250, "125", {12, 2}, 2},
    {1500, "150", {4, 5}, 2},          {2000, "200", {3, 5}, 2},
    {2500, "250", {12, 1}, 2},         {3000, "300", {1, 10}, 2},
    {3750, "375", {4, 2}, 2},          {5000, "500", {6, 1}, 2},
    {6000, "600", {1, 5}, 2},          {7500, "750", {4, 1}, 2},
    {10000, "1000", {3, 1}, 2},        {30000, "3000", {1, 1}, 2},
}};

// The index in SampleRates of the rate whose code equals trunc(rate x 10);
// -1 when there is none (also for NaN and infinities).
int SampleRateIndex(double rate);

// The decimation factors "$SF" sends for `rate`; a rate not in the table gets
// those of 75 samples per second.
std::vector<uint8_t> SampleRateFactors(double rate);

// --- Flag arguments ---

// "$SC": channels 1 to 3 enabled in bits 0 to 2 and at high gain in bits 3 to
// 5; channels 4 to 6 likewise in bits 8 to 10 and 11 to 13.
uint16_t ChannelFlags(std::span<const bool, MaxChannels> enabled,
                      std::span<const bool, MaxChannels> highGain);

// "$LI": bit 0 line output on, bit 1 at 75 Hz (clear: 100 Hz). Off sends 0,
// whatever the frequency.
uint16_t LineOutputFlags(bool enabled, bool at75Hz);

// "$SP": bit 0 the 8 V GPS supply, bit 1 the 12 V sensor supply.
uint16_t PowerSupplyFlags(bool gpsSupply, bool sensorSupply);

// "$FT" for a filter code (0 minimal phase, 1 linear phase): 2 and 0; -1 for
// any other code, which sends nothing.
int FilterTypeArgument(int filterCode);
