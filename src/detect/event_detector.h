// The event detector: a consumer of whole blocks. Each chosen channel's samples (on the count
// scale, CountScale) go through the band-pass and a recursive STA/LTA; a channel triggers when
// its ratio reaches the trigger-on ratio once its LTA has filled, and stays triggered until
// the ratio falls below the trigger-off ratio. An event begins when at least Coincidence of
// the chosen channels are triggered together: its start is the trigger of the first channel
// of that run, its coincidence the sample at which the run reached Coincidence. It ends at the
// first sample with fewer once fewer have stayed triggered for the hold (HoldSeconds).
//
// A gap in the blocks' times of at most BridgeSeconds is bridged: each filter is carried over
// the missing samples on the channel's last value (so that its memory ages as it would have),
// the STA/LTA averages and the triggers are held as they were, and detection goes on with the
// next sample. A longer gap, a step back in time, and a change of sample rate, of the channels
// a block carries, of sample width or of a chosen channel's gain start every channel afresh
// (filters settled on the first new sample, LTAs filling again): a jump never makes an event.
// An event running at that moment ends there, marked Cut.
//
// While the unit calibrates (SetCalibration), and for the LTA's length after, the events that
// start or run are marked Calibration: the calibration signal reaches every channel at once and
// its steps trigger like an earthquake. Where nobody says so (the stream itself does not carry
// the calibration), an event whose coincidence finds the same band-passed signal on every
// chosen channel (CalibrationLikeness) is taken for a calibration the same way: the unit's
// calibration source drives all its inputs alike, whereas a quake's components differ.
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

// Gaps in the blocks' times up to this long are bridged rather than started afresh: up to
// four lost frames in a row (a frame a second), the losses a noisy line gives. A longer
// silence is the link's (a baud search, a device unplugged), after which the ground's noise
// is learnt again.
constexpr double BridgeSeconds = 5;

// A coincidence is a calibration's when what each chosen channel's band-passed series has
// gained over its background (STA - LTA) is the first channel's: their difference has gained
// at most this share of it,
//     STA(d^2) - LTA(d^2) <= CalibrationLikeness x (STA_c - LTA_c + STA_1 - LTA_1),
// d = y_c - y_1. A signal common to the channels gives about 0 (the noise's own fluctuation),
// independent ones 1, one signal at amplitudes k and 1 (a P wave on two components)
// (1 - k)^2 / (1 + k^2), which is below 0.2 for k within 0.43 to 2.3.
constexpr double CalibrationLikeness = 0.2;

// True when a sample as the block holds it (left-justified below 4 bytes) is at its word's
// full scale: the highest or lowest code of a 1- to 3-byte word, or for a 4-byte word at or
// beyond the 24-bit converter's (2^23 - 1 or -2^23).
bool AtFullScale(int32_t raw, int bytesPerSample);

// One chosen channel's part in an event.
struct TEventChannel {
    int Channel = 0;         // 0-based
    bool Triggered = false;  // it triggered during the event
    // When it triggered (when Triggered): a channel already triggered when the coincidence
    // was reached keeps its own on-time.
    TSampleTime FirstTrigger;
    double PeakRatio = 0;  // highest STA/LTA during the event
    // The highest absolute value of the series the trigger sees (band-passed when the band-pass
    // is on) during the event, in counts, and as volts at the input through the channel's
    // gain, converted as the Channels page converts.
    double PeakCounts = 0;
    double PeakVolts = 0;
    // A raw sample of the channel was at full scale (AtFullScale) during the event: the
    // ground moved beyond what the channel measures. (The band-passed peak says nothing of it.)
    bool Clipped = false;
};

struct TEvent {
    uint64_t Id = 0;  // 1, 2, ... in the order the events started
    // The trigger of the first channel of the run that reached the coincidence.
    TSampleTime Start;
    // The first sample with fewer than Coincidence channels triggered, after which they stayed
    // fewer for the hold (or where the series was cut).
    TSampleTime End;
    bool Cut = false;  // ended by a restart (rate, channels, gain, width, gap), not the triggers
    double PeakRatio = 0;  // highest STA/LTA of a triggered channel during the event
    double SampleRate = 0;
    // Every chosen channel the blocks carried, in channel order.
    std::vector<TEventChannel> Channels;
    // The first sample with Coincidence channels triggered.
    TSampleTime Coincidence;
    // The unit was calibrating (or had been within the LTA's length) during the event.
    bool Calibration = false;
    // What the peak counts were measured on: "band-passed 1-10 Hz (2 poles)", or "raw" with
    // the band-pass off.
    std::string PeakFilter;

    double Seconds() const { return SecondsBetween(Start, End); }
    // The 0-based channels that triggered, in order.
    std::vector<int> TriggeredChannels() const;
    // A channel was clipped during the event.
    bool Clipped() const;
};

// What happened to an event within one block.
struct TEventNews {
    enum class TKind { Started, Ended };
    TKind Kind = TKind::Started;
    // Started: Id, Start, Coincidence, Calibration, SampleRate and Channels (the triggered
    // ones those that made the coincidence); Ended: the whole event.
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
    // The seconds of a gap bridged before this block; 0 when there was none.
    double Bridged = 0;
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
    // True while an event runs (its hold included).
    bool InEvent() const { return inEvent_; }
    // An event in its hold ended where its triggers did, as the hold would have ended it: for a
    // detector that takes no more blocks. No news when none is in its hold.
    TDetectorNews EndHeld();

    // The unit calibrates (a calibration signal on) or not, from the next block on: while it
    // does and for the LTA's length after it stops, events are marked Calibration.
    void SetCalibration(bool on);
    // Events starting now would be marked Calibration.
    bool Calibrating() const { return calibrating_ || calibrationAfter_ > 0; }
    const TDetectorSettings& Settings() const { return settings_; }

  private:
    explicit TEventDetector(const TDetectorSettings& settings);

    struct TChannel {
        int Index = 0;  // 0-based channel
        TBandpassFilter Filter;
        TStaLta Trigger;
        bool Fresh = true;  // the next sample is the first since a restart
        bool On = false;
        TSampleTime OnSince;  // when it last triggered
        double Last = 0;      // the last sample, on the count scale
        // The STA and the LTA of the difference from the first channel's series.
        double Unlike = 0, UnlikeLong = 0;
        double MicrovoltsPerCount = 1;
        double BlockPeak = 0;
        std::vector<double> Filtered;  // the block's band-passed samples
        std::vector<double> Ratios;    // and its ratios
        std::vector<uint8_t> OnAt;     // and whether it was triggered at each sample
        std::vector<uint8_t> ClipAt;   // and whether its raw sample was at full scale
        std::vector<double> Excess;    // and its STA - LTA
        std::vector<double> Alike;     // and its likeness to the first channel
    };

    // Starts every channel afresh for the block's format; ends a running event as cut.
    void Restart(const TRecordBlock& block, int32_t gainBits, TDetectorNews& news);
    void EndEvent(const TSampleTime& at, bool cut, TDetectorNews& news);
    // The samples of a block (`fill` bridged ones first) through the triggers and the
    // coincidence.
    void Detect(const TRecordBlock& block, size_t fill, size_t n, TDetectorNews& news);
    // At sample k of the block's series every chosen channel carries the first's signal.
    bool CalibrationSignal(size_t k) const;

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
    bool quiet_ = false;  // in the event's hold: fewer than Coincidence triggered since
    TSampleTime quietSince_;
    int64_t quietSamples_ = 0;
    TEvent event_;
    uint64_t nextId_ = 1;
    bool calibrating_ = false;
    double calibrationAfter_ = 0;  // seconds still marked after the calibration stopped
};
