// The events file of digitizer-station and its CSV companion.
//
// The events file holds one JSON object per line. When an event starts:
//   {"kind":"start","id":3,"network":"XX","station":"12345","start":"2025-01-01T00:01:10.120000Z",
//    "sample_rate":100,"channels":[1,2],"peak_ratio":5.12,
//    "seed_ids":["XX.12345.00.HHZ","XX.12345.00.HHN"]}
// (channels: those triggered at the start, numbered from 1, and seed_ids their streams'
// NET.STA.LOC.CHA; peak_ratio: their highest STA/LTA then), and when it ends, the whole
// event:
//   {"kind":"end","id":3,"network":"XX","station":"12345","start":"...","end":"...",
//    "duration":12.34,"cut":false,"sample_rate":100,"channels":[1,2,3],"peak_ratio":31.2,
//    "per_channel":[{"channel":1,"triggered":true,"first_trigger":"...","peak_ratio":31.2,
//                    "peak_counts":812345.5,"peak_volts":0.0812,"seed_id":"XX.12345.00.HHZ"},
//                   ...],"seed_ids":[...]}
// (cut: ended because the stream changed or broke rather than by the triggers; per_channel:
// every channel taking part, first_trigger null for one that did not trigger).
//
// The CSV file has a header line and one row per ended event: id, start, end, duration, cut,
// the triggered channels joined by spaces, the peak ratio, then the peak counts and volts of
// channels 1 to 6 (empty for a channel not taking part), then the SEED ids of the triggered
// channels joined by spaces.
//
// Lines are appended whole, with one write to a descriptor opened with O_APPEND; a write cut
// short is taken back, so that a reader never sees half a line.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/result.h"
#include "detect/event_detector.h"

// Where the event was seen, for the lines.
struct TEventPlace {
    std::string Network;
    std::string Station;
    // The SEED ids ("NET.STA.LOC.CHA") of channels 1 to 6 as the archive names their streams.
    std::array<std::string, 6> SeedIds;
};

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
