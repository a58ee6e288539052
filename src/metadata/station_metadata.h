// What the station's metadata document is made from, and how it is kept in the archive:
// the channel epochs (a channel's settings from one time to another) and the position the
// unit's GPS gave. ARCHIVE/metadata/NET.STA.LOC.json holds them, replaced durably on every
// change, so that a restart finds them and continues the epochs whose settings are the same.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "digitizer/data_block.h"
#include "digitizer/stream_format.h"
#include "metadata/sensor.h"
#include "recording/stream_codes.h"

// Everything that makes one channel's response and codes: a change of any part ends the
// channel's epoch and starts another.
struct TChannelSetup {
    std::string Location;
    std::string Code;
    int Index = -1;                   // the data channel, 0 to 5; -1 for a state-of-health stream
    TSohKind Soh = TSohKind::Supply;  // what a state-of-health stream records
    double SampleRate = 0;
    int GainFactor = 1;      // 1 or 10 (data channels)
    int BytesPerSample = 3;  // the record's counts are 24-bit below 4 bytes
    int FilterCode = -1;     // 0 minimum phase, 1 linear phase, -1 unknown
    std::optional<TSensor> Sensor;
    bool operator==(const TChannelSetup&) const = default;
};

struct TChannelEpoch {
    TChannelSetup Setup;
    int64_t Start = 0;           // UTC seconds
    std::optional<int64_t> End;  // none while it lasts
    bool operator==(const TChannelEpoch&) const = default;
};

struct TPosition {
    double Latitude = 0;   // degrees north
    double Longitude = 0;  // degrees east
    double Elevation = 0;  // metres
    bool operator==(const TPosition&) const = default;
};

struct TStationMetadata {
    std::string Network;
    std::string Station;
    std::string Location;
    std::optional<TPosition> GpsPosition;  // from the unit's fixes, once steady
    std::vector<TChannelEpoch> Epochs;
    bool operator==(const TStationMetadata&) const = default;
};

// What the station's configuration says of its channels.
struct TChannelPlan {
    std::string Location;
    std::array<std::string, 6> ChannelCodes;  // as configured; empty: by the rate
    // The codes are the files' own names (the periods layout's P_0 ...), taken as they are,
    // not SEED codes whose band letter follows the rate.
    bool FixedCodes = false;
    bool Soh = true;
    // The sensors of channels 1-3 and 4-6; none: the digitizer alone.
    std::array<std::optional<TSensor>, 2> Sensors;
};

// The channels the station writes for a block of `format`: the data channels with their
// codes as the archive names them, and the state-of-health streams when recorded.
std::vector<TChannelSetup> ChannelSetups(const TChannelPlan& plan, const TStreamFormat& format,
                                         bool moduleTemperatures);

// Brings the epochs to the channels in force from `time` on: an open epoch whose channel is
// no longer there, or whose setup differs, ends at `time`; a channel without an open epoch of
// its setup starts one at `time`. True when anything changed.
bool UpdateEpochs(std::vector<TChannelEpoch>& epochs, const std::vector<TChannelSetup>& now,
                  int64_t time);

// The position of a block's GPS report with a valid fix; nothing otherwise.
std::optional<TPosition> PositionOf(const TGpsInfo& gps);

// The station's position from its GPS fixes: the median of the last SteadyFixes fixes, once
// every one of them lies within SteadyMetres of that median (horizontally); until then
// nothing. The first steady median is kept from then on.
class TPositionFixes {
  public:
    static constexpr size_t SteadyFixes = 60;
    static constexpr double SteadyMetres = 50;

    // A fix; true when it made the position steady.
    bool Add(const TPosition& fix);
    const std::optional<TPosition>& Steady() const { return steady_; }

  private:
    std::vector<TPosition> fixes_;  // the last SteadyFixes, oldest first
    std::optional<TPosition> steady_;
};

// The metadata file of a station in an archive: ARCHIVE/metadata/NET.STA.LOC.json.
std::string MetadataPath(const std::string& archive, const std::string& network,
                         const std::string& station, const std::string& location);

std::string MetadataJson(const TStationMetadata& metadata);
TResult<TStationMetadata> ParseMetadataJson(const std::string& text);

// The file read (nothing when there is none) or written (folder made, durable replace).
TResult<std::optional<TStationMetadata>> LoadMetadata(const std::string& path);
TStatus SaveMetadata(const std::string& path, const TStationMetadata& metadata);

// Every station's metadata in the archive of network `network` and location `location` (a
// station code not configured: whichever units wrote there), in the order of their codes.
std::vector<TStationMetadata> LoadArchiveMetadata(const std::string& archive,
                                                  const std::string& network,
                                                  const std::string& location,
                                                  std::vector<std::string>& errors);
