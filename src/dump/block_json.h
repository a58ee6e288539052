// Text forms of a decoded block for the command-line dump: one JSON object per
// block with every field, or one human-readable summary line.
#pragma once

#include <string>

#include "digitizer/data_block.h"

// {"Header":{...},"Gps":{...},"Samples":{"DatLength":n,"Channel":[[...],...]},"Sum":{...}}
// on one line. Member names are the field names; texts are strings, single
// characters one-character strings ("" for a zero character), arrays arrays,
// samples as stored (left-justified). Absent parts and numbers that are not finite are
// null. Texts are UTF-8: a byte from the device that is not part of valid UTF-8 is the
// Latin-1 character of its value.
std::string BlockToJson(const TDataBlock& block);

// One line: block count, channels, rate field, sample width, samples per
// channel, GPS date and time, serial number and checksum.
std::string BlockToLine(const TDataBlock& block);
