// SEED codes of the archive's streams: the channel codes by the sample rate (band code by the
// SEED convention for broadband sensors, instrument code H for a high-gain seismometer, and the
// orientations Z, N, E, 1, 2, 3 of channels 1 to 6), the state-of-health channels, and the
// station code taken from a serial number.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/record_block.h"

// F from 1000 samples per second, C from 250, H from 80, B from 10, M above 1, L from 0.5,
// V from 0.05, U below (the band codes of a broadband sensor).
char BandCode(double sampleRate);
// The band code at `sampleRate` in the family of a configured band letter: for a short-period
// letter (G, D, E, S) G from 1000, D from 250, E from 80, S from 10 samples per second, below
// that the broadband code; for any other letter the broadband code.
char BandCodeLike(char configured, double sampleRate);

// The code of channel `channel` (0 to 5) at `sampleRate`: a configured code of three
// characters with its band letter replaced as BandCodeLike says ("HNZ" at 200 is "HNZ", at 20
// "BNZ"; "EHZ" at 20 is "SHZ"), the band code followed by a configured code of two, else
// band, H and the channel's orientation.
std::string DataChannelCode(const std::string& configured, int channel, double sampleRate);

// A configured stream code: "LOC.CHA" (a location of 0 to 2 letters or digits) or "CHA"
// alone (the station's location). The channel part as DataChannelCode takes it.
struct TStreamCode {
    std::string Location;
    std::string Channel;
    bool operator==(const TStreamCode&) const = default;
};
TStreamCode SplitStreamCode(const std::string& configured, const std::string& location);

// The location and channel codes of channels 0 .. channelCount - 1, no two alike: a channel
// whose code is taken already (a configured "HZ" beside a configured "HHZ" at band H) gets its
// default code, and when that is taken too, the band code, "X" and its number (1 to 6).
std::vector<TStreamCode> DataStreamCodes(const std::array<std::string, 6>& configured,
                                         const std::string& location, int channelCount,
                                         double sampleRate);

// A station code from the unit's serial number: letters (upper case) and digits only, the
// last four of them ("00012345" gives "2345"), as the short header carries them, so that one
// unit has one code whether its header is the short or the enhanced one; "UNIT" when none is
// left.
std::string StationFromSerial(const std::string& serialNumber);

// The station code of the streams: `configured`, or from the serial number when it is empty.
std::string StationCodeOf(const std::string& configured, const std::string& serialNumber);

// A state-of-health stream: its channel code and what it records.
enum class TSohKind { Supply, Current, SensorTemp, ModuleTemp, Satellites, GpsFix };
struct TSohStream {
    std::string Channel;
    TSohKind Kind;
    int Index = 0;  // the channel (0 to 5) of a module temperature
};

// The state-of-health streams of a block format: LEV supply voltage (mV), LEC supply current
// (mA), LKS sensor temperature, LK1 ... LKn the module temperature of channels 1 to n (with
// the enhanced header only; temperatures in tenths of a degree Celsius), LCS the GPS
// satellites in use, LCF the GPS fix (1 valid, 0 none). One sample per block.
std::vector<TSohStream> SohStreams(int channelCount, bool moduleTemperatures);

// The value a state-of-health stream records of a block's readings.
int32_t SohValue(const TSohStream& stream, const TSohReadings& soh);
