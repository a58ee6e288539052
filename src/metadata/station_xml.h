// The station's metadata as an FDSN StationXML 1.2 document: the network, each station with
// its position and site, and every channel epoch with its orientation, rate and response
// (the sensor as configured, then the digitizer from volts to counts).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "metadata/station_metadata.h"
#include "recording/file_settings.h"

// One station of the document: what the archive keeps of it, and what the configuration adds.
struct TStationEntry {
    TStationMetadata Metadata;
    std::string SiteName;                 // empty: the station's code
    std::optional<TPosition> Configured;  // wins over the GPS position
};

// Counts in the records per volt at the digitizer's input: 10^6 at gain factor 1 (one count
// is one microvolt), times the gain factor, times 256 for 4-byte samples, which the records
// keep whole (the 24-bit count shifted left by 8).
double DigitizerCountsPerVolt(const TChannelSetup& setup);

// The counts per input unit at the sensitivity's frequency: the sensor's sensitivity times
// the digitizer's counts per volt, or the digitizer's alone without a sensor; for a
// state-of-health stream the counts per unit it is written in (1000 per V or A, 10 per
// degree Celsius, 1 per satellite or fix).
double OverallSensitivity(const TChannelSetup& setup);

// (azimuth, dip) of a data channel: the sensor's configured values for its place in the
// group (channels 1-3 and 4-6), else by the last letter of its code: Z and 3 up (0, -90),
// N and 1 north (0, 0), E and 2 east (90, 0); other codes (0, 0).
std::pair<double, double> Orientation(const TChannelSetup& setup);

// The document of the window's recording: its codes (`files`, the channels named as its period
// files name them), the channels of `format` with the digitizer's response alone (the window
// knows no sensor), in one epoch from `since`; no position (the document says so).
std::string RecordingStationXml(const TFileSettings& files, const TStreamFormat& format,
                                int64_t since, const std::string& source, int64_t now);

// "2026-12-08T07:37:31Z".
std::string XmlTime(int64_t utcSeconds);

// How deep the document goes: the network alone, its stations, their channels, or the
// channels with their responses.
enum class TStationXmlLevel { Network, Station, Channel, Response };

// The document of network `network` with `stations`, made by `source` at `created`, down to
// `level`. A station whose position is neither configured nor known from the GPS gets
// latitude, longitude and elevation 0 (the schema requires them) and a comment that says so.
std::string StationXmlDocument(const std::string& network,
                               const std::vector<TStationEntry>& stations,
                               const std::string& source, int64_t created,
                               TStationXmlLevel level = TStationXmlLevel::Response);

// The station's position as the document gives it: configured, else the GPS's, else none.
std::optional<TPosition> PositionOf(const TStationEntry& entry);

// Where a station's metadata is kept and what its configuration adds to it.
struct TStationSource {
    std::string Archive;
    std::string Network, Station, Location;  // an empty station: every station of the network
    std::string SiteName;
    std::optional<TPosition> Configured;
};

// The stations of `source` whose metadata the archive keeps (the configured station alone
// when it is named, with no channels when it has recorded nothing yet), with the configured
// position and site name. `notes` gets files that could not be read and stations that have
// recorded nothing yet. Reads the files each time: safe from any thread.
std::vector<TStationEntry> LoadStationEntries(const TStationSource& source,
                                              std::vector<std::string>& notes);
