// Synthetic local earthquakes added to the simulated channels (--event): a P onset, a larger S
// onset a little later, each a band-limited oscillation of a few hertz under an envelope that
// rises within a tenth of a second and dies away exponentially (the coda). The waveform is a
// function of time alone, drawn from the seed, the event's place in the list and the channel,
// so that it is the same whatever the frames it falls in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TSimEvent {
    // The P onset: `At` seconds of the unit's clock since its start (its frame clock, the
    // second of frame 0 being 0), or, with AtUtc, the UTC second AtUtcSeconds.
    double At = 0;
    bool AtUtc = false;
    int64_t AtUtcSeconds = 0;
    double Duration = 30;        // seconds from the P onset to the end of the coda
    double Amplitude = 1000000;  // counts: the peak of the S envelope
    uint32_t Channels = 0x3F;    // bit n: channel n + 1
};

// Bounds of the values --event takes.
constexpr double MaxEventDuration = 3600;
constexpr double MaxEventAmplitude = 2147483647;

// One --event value, "AT,DURATION,AMPLITUDE[,CHANNELS]": AT seconds of the unit's clock (0 or
// more) or a UTC time as --start takes it; DURATION seconds above 0, at most 3600; AMPLITUDE
// counts above 0; CHANNELS channel numbers 1 to 6 joined by '+', each a single channel or a
// range such as 1-3 ("1+3", "2-4+6"), all six by default. An error text, empty on success.
std::string ParseSimEvent(std::string_view text, TSimEvent& event);

// The S onset's delay after the P onset: 0.15 x the duration, 0.5 to 8 s.
double SMinusP(const TSimEvent& event);

// The counts event number `index` of the list adds to channel `channel` (0-based) `t` seconds
// after its P onset at `rate` samples per second (its oscillation kept below 0.3 x the rate);
// 0 before the onset, after the duration and on a channel the event leaves out.
double EventCounts(const TSimEvent& event, size_t index, uint64_t seed, int channel, double t,
                   double rate);

// What a frame needs to have the events added to its samples.
struct TEventFrame {
    uint64_t UnitSecond = 0;  // the unit's second of the frame (its frame clock)
    int64_t Time = 0;         // UTC seconds of its first sample
    double Rate = 0;          // samples per second per channel; sample j lies j / Rate later
    int Channels = 0;
    int BytesPerSample = 3;
};

// Adds every event to the frame's samples (right-justified `BytesPerSample`-wide values; below
// 4 bytes one unit of a sample is 256^(3 - BytesPerSample) counts), clamped to the width.
void AddEvents(const std::vector<TSimEvent>& events, uint64_t seed, const TEventFrame& frame,
               std::vector<int32_t> (&samples)[6]);
