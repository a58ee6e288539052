// The event detector: a consumer of whole blocks. Each chosen channel's samples (on the count
// scale, CountScale) go through the band-pass and a recursive STA/LTA; a channel triggers when
// its ratio reaches the trigger-on ratio once its LTA has filled, and stays triggered until
// the ratio falls below the trigger-off ratio. An event lasts while at least Coincidence of
// the chosen channels are triggered together: it starts at the first sample at which they
// are, and ends at the first sample at which fewer are.
//
// A change of sample rate, of the channels a block carries, of sample width or of a chosen
// channel's gain, and a gap or a step back in the blocks' times, start every channel afresh
// (filters settled on the first new sample, LTAs filling again): a jump never makes an event.
// An event running at that moment ends there, marked Cut.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "detect/bandpass.h"
#include "detect/detector_settings.h"
#include "detect/sta_lta.h"
#include "recording/record_block.h"

// The time of a sample: UTC seconds since 1970 and nanoseconds into that second. Sample j of
// a block is at the block's Time + j / SampleRate, rounded to the nanosecond.
struct TSampleTime {
    int64_t Seconds = 0;
    int32_t Nanoseconds = 0;  // 0 to 999999999
    auto operator<=>(const TSampleTime&) const = default;
};

TSampleTime SampleTimeOf(int64_t blockTime, int64_t sample, double sampleRate);
// to - from, in seconds.
double SecondsBetween(const TSampleTime& from, const TSampleTime& to);
// "2024-12-31T23:59:30.250000Z": microseconds, rounded down.
std::string FormatSampleTime(const TSampleTime& time);

// One chosen channel's part in an event.
struct TEventChannel {
    int Channel = 0;           // 0-based
    bool Triggered = false;    // it triggered during the event
    TSampleTime FirstTrigger;  // when it first triggered in the event (when Triggered)
    double PeakRatio = 0;      // highest STA/LTA during the event
    // The highest absolute value of the series the trigger sees (band-passed when the band-pass
    // is on) during the event, in counts, and as volts at the input through the channel's
    // gain, converted as the Channels page converts.
    double PeakCounts = 0;
    double PeakVolts = 0;
};

struct TEvent {
    uint64_t Id = 0;    // 1, 2, ... in the order the events started
    TSampleTime Start;  // the first sample with Coincidence channels triggered
    TSampleTime End;    // the first sample with fewer (or where the series was cut)
    bool Cut = false;   // ended by a restart (rate, channels, gain, width, gap), not the triggers
    double PeakRatio = 0;  // highest STA/LTA of a triggered channel during the event
    double SampleRate = 0;
    // Every chosen channel the blocks carried, in channel order.
    std::vector<TEventChannel> Channels;

    double Seconds() const { return SecondsBetween(Start, End); }
    // The 0-based channels that triggered, in order.
    std::vector<int> TriggeredChannels() const;
};

// What happened to an event within one block.
struct TEventNews {
    enum class TKind { Started, Ended };
    TKind Kind = TKind::Started;
    // Started: Id, Start, SampleRate and Channels (the triggered ones those that made the
    // coincidence); Ended: the whole event.
    TEvent Event;
};

// A chosen channel's trigger at the end of a block, for a live display.
struct TChannelRatio {
    int Channel = 0;         // 0-based
    double Ratio = 0;        // STA/LTA after the block's last sample
    double BlockPeak = 0;    // highest STA/LTA within the block
    bool Ready = false;      // the LTA has filled: the channel may trigger
    bool Triggered = false;  // after the block's last sample
};

struct TDetectorNews {
    std::vector<TEventNews> Events;     // in the order they happened
    std::vector<TChannelRatio> Ratios;  // every chosen channel the block carries
    // Why the channels started afresh at this block ("the sample rate changed from 100 to
    // 50 samples per second", "a gap of 12 s in the blocks' times"); empty when they did not.
    std::string Restart;
};

class TEventDetector {
  public:
    // A detector, or why `settings` cannot be used (ValidateDetectorSettings).
    static TResult<TEventDetector> Make(const TDetectorSettings& settings);

    // Takes one whole block: `gainBits` the stream format's high-gain mask (bit n: channel
    // n + 1 at gain 10), as TStreamFormat::GainBits. A block without samples changes nothing.
    TDetectorNews Take(const TRecordBlock& block, int32_t gainBits);

    // Why no event can be detected at present ("the band 1 to 10 Hz does not fit ...", "2
    // channels must trigger together, the blocks carry 1 of those chosen"); empty while
    // detecting, and before the first block.
    const std::string& Idle() const { return idle_; }
    // True while an event runs.
    bool InEvent() const { return inEvent_; }
    const TDetectorSettings& Settings() const { return settings_; }

  private:
    explicit TEventDetector(const TDetectorSettings& settings);

    struct TChannel {
        int Index = 0;  // 0-based channel
        TBandpassFilter Filter;
        TStaLta Trigger;
        bool Fresh = true;  // the next sample is the first since a restart
        bool On = false;
        double MicrovoltsPerCount = 1;
        double BlockPeak = 0;
        std::vector<double> Filtered;  // the block's band-passed samples
        std::vector<double> Ratios;    // and its ratios
        std::vector<uint8_t> OnAt;     // and whether it was triggered at each sample
    };

    // Starts every channel afresh for the block's format; ends a running event as cut.
    void Restart(const TRecordBlock& block, int32_t gainBits, TDetectorNews& news);
    void EndEvent(const TSampleTime& at, bool cut, TDetectorNews& news);

    TDetectorSettings settings_;
    std::vector<TChannel> channels_;  // the chosen channels the blocks carry
    bool active_ = false;             // a format is known and the band-pass fits its rate
    std::string idle_;
    bool haveFormat_ = false;
    double rate_ = 0;
    int channelCount_ = 0;
    int bytesPerSample_ = 0;
    int32_t gainBits_ = 0;
    int64_t refTime_ = 0;     // the time of the first block since the restart
    int64_t refSamples_ = 0;  // samples since then
    bool inEvent_ = false;
    TEvent event_;
    uint64_t nextId_ = 1;
};
