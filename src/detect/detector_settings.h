// What the event detector is set to: the band-pass in front of the triggers, the STA/LTA
// lengths and ratios, the channels that take part and how many of them must trigger together.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "detect/bandpass.h"

struct TDetectorSettings {
    // The band-pass in front of the triggers; off, the triggers see the samples as they come
    // (their offset included).
    bool BandpassOn = true;
    TBandpassDesign Band;  // 1 to 10 Hz, 2 poles per side
    double StaSeconds = 1;
    double LtaSeconds = 30;
    double TriggerOn = 4;     // a channel triggers when STA / LTA reaches this
    double TriggerOff = 1.5;  // and stays triggered until STA / LTA falls below this
    // Bit n: channel n + 1 takes part. Channels the blocks do not carry are left out.
    uint32_t Channels = 0x3F;
    // An event lasts while at least this many of the channels taking part are triggered.
    int Coincidence = 2;
    // An event ends only once fewer than Coincidence channels have stayed triggered for this
    // long: a coincidence reached again within it goes on with the same event. 10 s keeps a
    // local earthquake whose P trigger ends before its S arrives (S up to about 10 s after P,
    // some 80 km) one event; 0 ends an event at the first sample with fewer.
    double HoldSeconds = 10;
};

// The channels taking part, a bit per channel (at most six).
int ChannelCountOf(uint32_t channels);

// Channels as a configuration writes them: numbers 1 to 6 and ranges, joined by ',' or '+'
// ("1-3", "1,2,5", "2-4+6"), as a bit per channel; nothing for any other text.
std::optional<uint32_t> ParseChannelList(std::string_view text);
// The channels of `channels` as "1,2,4".
std::string ChannelListText(uint32_t channels);

// Ok, or what is wrong: poles 1 to 4, corners 0 < low < high (the upper corner is brought
// below the Nyquist frequency at each rate, see HighestCorner), 0 < STA < LTA <= 3600 s,
// 0 < off < on, channels among 1 to 6 and at least one, coincidence 1 to the number of
// channels, hold 0 to 600 s.
TStatus ValidateDetectorSettings(const TDetectorSettings& settings);
