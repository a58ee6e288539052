// The FDSN station service (version 1) over the station's metadata: the request (the selection
// of dataselect plus the station service's own parameters), the stations, channels and epochs it
// selects, and the answer as StationXML or the FDSN text format. The metadata files are read
// per request, so the server's threads never touch the station's own state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/station_xml.h"
#include "web/fdsn_request.h"

// The version of the FDSN station web service this server answers as.
inline constexpr char StationServiceVersion[] = "1.1.0";

struct TStationQuery {
    std::vector<TFdsnSelection> Selections;
    // Epochs that start before/after, end before/after these times (microseconds since 1970).
    int64_t StartBefore = OpenTimeAfter, StartAfter = OpenTimeBefore;
    int64_t EndBefore = OpenTimeAfter, EndAfter = OpenTimeBefore;
    TStationXmlLevel Level = TStationXmlLevel::Station;
    bool Text = false;  // format=text
    int NoData = 204;
};

// "key=value&..." of a GET, or the POST body (key=value lines, then NET STA LOC CHA START END).
TFdsnParsed<TStationQuery> ParseStationGet(std::string_view query);
TFdsnParsed<TStationQuery> ParseStationPost(std::string_view body);

// The stations with an epoch the query selects. Down to level=station a selected station keeps
// all its epochs (they make its dates); below, only the selected epochs.
std::vector<TStationEntry> SelectStations(const std::vector<TStationEntry>& stations,
                                          const TStationQuery& query);

// The FDSN text format of `stations` at `level` (network, station or channel): a '#' header
// line naming the '|'-separated fields, then a line per network, station or channel epoch.
std::string StationText(const std::string& network, const std::vector<TStationEntry>& stations,
                        TStationXmlLevel level);

struct TStationAnswer {
    int Status = 200;  // 200, or the query's nodata status when nothing is selected
    std::string Type;
    std::string Body;
};

// The answer to `query` over the metadata of `source`, read now.
TStationAnswer AnswerStationQuery(const TStationSource& source, const std::string& software,
                                  const TStationQuery& query, int64_t nowSeconds);
