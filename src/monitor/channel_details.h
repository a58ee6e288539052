// The Channels page's column of figures: where each displayed channel's five
// labels and its separator stand, and what they say.
#pragma once

#include <array>
#include <span>
#include <string>

#include "digitizer/data_block.h"
#include "monitor/channel_history.h"
#include "monitor/channel_stats.h"
#include "monitor/number_format.h"

inline constexpr int DetailsLabelCount = 5;  // range and latest value, offset, AC, RMS, Av RMS
inline constexpr int DetailsLabelLeft = 5;
inline constexpr int DetailsLabelStep = 14;

struct TDetailsPlacement {
    bool Shown = false;
    int BevelTop = 0;  // the separator spans the panel's width from here
    std::array<int, DetailsLabelCount> LabelTops{};
};

// The k displayed channels (displayed[c] set and c < channelCount) share the
// panel's height in k equal slots, in channel order: slot s begins at
// panelHeight x s / k (integer arithmetic), its labels at 4, 18, 32, 46 and 60
// below that. The others are hidden; all are when k is 0.
std::array<TDetailsPlacement, MaxChannels> LayOutChannelDetails(
    int panelHeight, std::span<const bool, MaxChannels> displayed, int channelCount);

// The channels `shown` take slots 0, 1, ... of `slotCount` equal slots in channel
// order, placed as above (a slot past the last one lies below the panel);
// the others are hidden, and all are when `slotCount` is 0 or less.
std::array<TDetailsPlacement, MaxChannels> LayOutDetailsSlots(
    int panelHeight, std::span<const bool, MaxChannels> shown, int slotCount);

struct TChannelDetailsTexts {
    std::string
        Range;  // "1: ±8.389 V, 1.234 mV": the band's edge and the newest block's first sample
    std::string Offset;  // "Offset = ..."
    std::string Ac;      // "AC = ..."
    std::string Rms;     // "RMS = -75.460 dB"
    std::string AvRms;   // "Av RMS = ... dB"
};

// The texts of channel `channel` (0-based): range = 8388608 / (gainFactor x
// zoom) microvolts; the first sample of the newest block is the history entry
// samplesPerBlock from its end, 0 when the history holds less than a block.
TChannelDetailsTexts ChannelDetailsTexts(int channel, const TChannelHistory& history,
                                         int samplesPerBlock, const TChannelStats& stats,
                                         int32_t gainFactor, double zoom,
                                         const TNumberSeparators& separators);

// A line at least as wide as any the figures can show, for sizing their column:
// the longest range and newest value in the widest unit.
std::string WidestChannelDetailsText(const TNumberSeparators& separators);
