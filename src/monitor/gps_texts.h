// The GPS page's texts for one block: the log line and the value labels, with the receiver
// report code tables. All strings are UTF-8 (the GPS text and StatusCode bytes are read as
// Latin-1, as in header_texts.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "digitizer/data_block.h"
#include "monitor/number_format.h"

// What one block changes on the page. A label whose optional is empty keeps its text; one
// that holds a value (possibly "") is set to it.
struct TGpsPageUpdate {
    bool Present = false;  // false: no log line and no label changes at all
    // The line to append to the log (the widget keeps at most 26 lines: it drops its first
    // line while it holds more than 25, then appends). CR and LF in the GPS text are spaces,
    // so this is always one line.
    std::string MemoLine;

    std::optional<std::string> GPSDate;
    std::optional<std::string> GPSTime;
    std::optional<std::string> GPSSecs;
    std::optional<std::string> GPSUTC;
    std::optional<std::string> GPSLat;
    std::optional<std::string> GPSLong;
    std::optional<std::string> GPSAlt;
    std::optional<std::string> GPSStatus;
    std::optional<std::string> GPSSource;
    std::optional<std::string> GPSAge;
    std::optional<std::string> GPSTracking;
    std::optional<std::string> GPSAntenna;
    std::optional<std::string> GPSRAM;
    std::optional<std::string> GPSRTC;
    std::optional<std::string> GPSSVs;
    std::optional<std::string> GPSID;
    std::array<std::optional<std::string>, 4> GPSDets;  // labels GPSDets1 to GPSDets4

    // (objectName, text) of every label to set, in page order.
    std::vector<std::pair<std::string, std::string>> Changes() const;
};

// The update for a block with `gps`, the header's `blockCount` and `lastValidGpsBlock`.
// Numbers use the "n" conversion with `separators`.
TGpsPageUpdate GpsPageUpdate(const TGpsInfo& gps, uint32_t blockCount, int32_t lastValidGpsBlock,
                             const TNumberSeparators& separators);

// "North", "South", "East", "West" for N, S, E, W; " " (one space) for anything else.
std::string_view HemisphereName(char hemisphere);

// The receiver report code tables; a code not in a table gives "Unknown (0x37)" with the
// code's byte value in two hex digits. Letters are upper case; lower case is unknown.
std::string GpsSourceText(char fixSource);  // "2D GPS", "3D GPS", ...
std::string GpsAgeText(char fixAge);        // "Not available", "Old, >10 sec", ...
std::string GpsTrackingText(char status1);  // "Doing position fixes", ...
std::string GpsAntennaText(char status2);   // "No problems reported", "Not used", ...
std::string GpsRamText(char status3);       // "No problems reported", ...
std::string GpsRtcText(char statusFlag);    // "No problems reported", ...
