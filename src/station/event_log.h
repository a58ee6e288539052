// The events file of digitizer-station and its CSV companion.
//
// The events file holds one JSON object per line. When an event starts:
//   {"kind":"start","id":3,"network":"XX","station":"12345","start":"2025-01-01T00:01:10.120000Z",
//    "sample_rate":100,"channels":[1,2],"peak_ratio":5.12,
//    "coincidence":"2025-01-01T00:01:10.420000Z","calibration":false,
//    "seed_ids":["XX.12345.00.HHZ","XX.12345.00.HHN"]}
// (start: the trigger of the first channel of the run that reached the coincidence;
// channels: those triggered at the coincidence, numbered from 1; peak_ratio: their highest
// STA/LTA then; coincidence: the sample at which enough channels were triggered together;
// calibration: the unit was calibrating, see TEvent; seed_ids: the triggered channels'
// streams, NET.STA.LOC.CHA), and when it ends, the whole event:
//   {"kind":"end","id":3,"network":"XX","station":"12345","start":"...","end":"...",
//    "duration":12.34,"cut":false,"sample_rate":100,"channels":[1,2,3],"peak_ratio":31.2,
//    "per_channel":[{"channel":1,"triggered":true,"first_trigger":"...","peak_ratio":31.2,
//                    "peak_counts":812345.5,"peak_volts":0.0812,"clipped":false,
//                    "seed_id":"XX.12345.00.HHZ","peak_ground":5.41e-05,
//                    "ground_units":"M/S"}, ...],
//    "coincidence":"...","calibration":false,"clipped":false,
//    "peak_filter":"band-passed 1-10 Hz (2 poles)","seed_ids":[...]}
// (cut: ended because the stream changed or broke rather than by the triggers; per_channel:
// every channel taking part, first_trigger (its own trigger time) null for one that did not
// trigger; peak_counts and peak_volts are of the series the trigger sees, which peak_filter
// names: band-passed unless the band-pass is off; clipped: a raw sample of the channel at
// full scale during the event, and of any channel for the event's; peak_ground and
// ground_units only for a channel with a sensor configured: the peak volts divided by the
// sensor's sensitivity, the ground motion at the sensitivity's frequency, in its units).
//
// The CSV file has a header line and one row per ended event: id, start, end, duration, cut,
// the triggered channels joined by spaces, the peak ratio, then the peak counts and volts of
// channels 1 to 6 (empty for a channel not taking part; band-passed as peak_filter says),
// then the coincidence, calibration (yes or no), the clipped channels joined by spaces and
// the peak filter, then the peak ground motion and its units of channels 1 to 6 (empty
// without a sensor), then the SEED ids of the triggered channels joined by spaces. Fields are
// only ever added at the end, so that readers by position go on working.
//
// Lines are appended whole, with one write to a descriptor opened with O_APPEND; a write cut
// short is taken back, so that a reader never sees half a line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "detect/event_detector.h"
#include "metadata/sensor.h"

// Where the event was seen, for the lines.
struct TEventPlace {
    std::string Network;
    std::string Station;
    // The sensors of channels 1-3 and 4-6, for the peaks' ground motion.
    std::array<std::optional<TSensor>, 2> Sensors = {};
    // The SEED ids ("NET.STA.LOC.CHA") of channels 1 to 6 as the archive names their streams.
    std::array<std::string, 6> SeedIds;
};

// A channel's peak as ground motion: its peak volts over the sensitivity of the sensor of its
// group, at the sensitivity's frequency; nothing without a sensor.
std::optional<double> PeakGround(const TEventChannel& channel,
                                 const std::array<std::optional<TSensor>, 2>& sensors);

// The lines, without their line feed. `id` is the station's number of the event.
std::string EventStartJson(const TEvent& event, uint64_t id, const TEventPlace& place);
std::string EventEndJson(const TEvent& event, uint64_t id, const TEventPlace& place);
std::string EventCsvHeader();
std::string EventCsvRow(const TEvent& event, uint64_t id, const TEventPlace& place);

// The channels an event's start or end names: those triggered, numbered from 1 ("1,2,3").
std::string TriggeredChannelText(const TEvent& event);
// The SEED ids of the channels triggered, joined by `separator`.
std::string TriggeredSeedIds(const TEvent& event, const TEventPlace& place, char separator);
// The highest STA/LTA of the channels triggered.
double TriggeredPeakRatio(const TEvent& event);

// A file that lines are appended to. It is opened at the first line (its directory made when
// missing), created with mode 0644, and stays open until Close; `header` is written first when
// the file is empty. After a failure the descriptor is closed and the next line opens the file
// afresh.
class TAppendFile {
  public:
    TAppendFile(std::string path, std::string header = "");
    ~TAppendFile();
    TAppendFile(const TAppendFile&) = delete;
    TAppendFile& operator=(const TAppendFile&) = delete;

    // Appends `line` and a line feed, whole or not at all.
    TStatus Append(const std::string& line);
    void Close();
    const std::string& Path() const { return path_; }

  private:
    TStatus Open();
    TStatus WriteWhole(const std::string& text);

    std::string path_;
    std::string header_;
    int fd_ = -1;
};
