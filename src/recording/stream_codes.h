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
// V from 0.05, U below.
char BandCode(double sampleRate);

// The code of channel `channel` (0 to 5) at `sampleRate`: `configured` as it is when it has
// three characters, the band code followed by it when it has two, else band, H and the
// channel's orientation.
std::string DataChannelCode(const std::string& configured, int channel, double sampleRate);

// The codes of channels 0 .. channelCount - 1, all different: a channel whose code is taken
// already (a configured "HZ" beside a configured "HHZ" at band H) gets its default code, and
// when that is taken too, the band code, "X" and its number (1 to 6).
std::vector<std::string> DataChannelCodes(const std::array<std::string, 6>& configured,
                                          int channelCount, double sampleRate);

// A station code from the unit's serial number: letters (upper case) and digits only, the
// last five of them ("00012345" gives "12345"); "UNIT" when none is left.
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
