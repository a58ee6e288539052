#include "web/station_service.h"

#include <algorithm>
#include <set>

#include "metadata/sensor.h"

namespace {

using TParsed = TFdsnParsed<TStationQuery>;

TParsed Refused(const std::string& text) {
    return TParsed{std::nullopt, TFdsnFault{400, text}};
}

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

bool IsGeographic(const std::string& name) {
    static const std::set<std::string> names = {
        "minlatitude", "minlat",       "maxlatitude", "maxlat",   "minlongitude",
        "minlon",      "maxlongitude", "maxlon",      "latitude", "lat",
        "longitude",   "lon",          "minradius",   "maxradius"};
    return names.count(name) != 0;
}

// A parameter of the station service alone: the fault's text, empty when taken; nothing when it
// is not one (it is the selection's, parsed as dataselect parses it).
std::optional<std::string> TakeOwn(TStationQuery& query, std::set<std::string>& seen,
                                   const std::string& key, const std::string& value) {
    const std::string name = Lower(key);
    static const std::set<std::string> own = {
        "level",           "format",       "startbefore",       "startafter",
        "endbefore",       "endafter",     "includerestricted", "includeavailability",
        "matchtimeseries", "updatedafter", "quality",           "minimumlength",
        "longestonly"};
    if (!own.count(name) && !IsGeographic(name)) {
        return std::nullopt;
    }
    if (!seen.insert(name).second) {
        return "parameter '" + key + "' given more than once";
    }
    const std::string bad = "bad value of parameter '" + key + "': '" + value.substr(0, 60) + "'";
    const std::string v = Lower(value);
    if (name == "level") {
        static const std::pair<const char*, TStationXmlLevel> levels[] = {
            {"network", TStationXmlLevel::Network},
            {"station", TStationXmlLevel::Station},
            {"channel", TStationXmlLevel::Channel},
            {"response", TStationXmlLevel::Response}};
        for (const auto& [text, level] : levels) {
            if (v == text) {
                query.Level = level;
                return std::string();
            }
        }
        return bad + " (network, station, channel or response)";
    }
    if (name == "format") {
        if (v != "xml" && v != "text") {
            return bad + " (xml or text)";
        }
        query.Text = v == "text";
        return std::string();
    }
    if (name == "startbefore" || name == "startafter" || name == "endbefore" ||
        name == "endafter") {
        const std::optional<int64_t> time = ParseFdsnTime(value);
        if (!time) {
            return bad + " (ISO 8601 UTC, e.g. 2026-12-08T01:00:00)";
        }
        (name == "startbefore"  ? query.StartBefore
         : name == "startafter" ? query.StartAfter
         : name == "endbefore"  ? query.EndBefore
                                : query.EndAfter) = *time;
        return std::string();
    }
    if (name == "includerestricted") {
        // Nothing here is restricted: either answer is the same.
        return v == "true" || v == "false" ? std::string() : bad + " (true or false)";
    }
    if (name == "includeavailability" || name == "matchtimeseries") {
        if (v != "true" && v != "false") {
            return bad + " (true or false)";
        }
        return v == "false" ? std::string() : bad + " (only false is served)";
    }
    if (IsGeographic(name)) {
        return "parameter '" + key +
               "' is not served: this service has one station; select it by its codes";
    }
    return "unknown parameter '" + key + "'";  // updatedafter and dataselect's own
}

TParsed Finish(TFdsnParsed<TDataSelectQuery> selection, TStationQuery query) {
    if (!selection.Value) {
        return TParsed{std::nullopt, selection.Fault};
    }
    if (query.Text && query.Level == TStationXmlLevel::Response) {
        return Refused("format=text is served down to level=channel; ask level=response as xml");
    }
    query.Selections = std::move(selection.Value->Selections);
    query.NoData = selection.Value->NoData;
    return {std::move(query), {}};
}

bool EpochSelected(const TStationMetadata& station, const TChannelEpoch& epoch,
                   const TStationQuery& query) {
    const int64_t start = epoch.Start * 1000000;
    const bool open = !epoch.End;
    const int64_t end = open ? OpenTimeAfter : *epoch.End * 1000000;
    if (!(start < query.StartBefore && start > query.StartAfter)) {
        return false;
    }
    if (query.EndBefore != OpenTimeAfter && (open || end >= query.EndBefore)) {
        return false;
    }
    if (query.EndAfter != OpenTimeBefore && !open && end <= query.EndAfter) {
        return false;
    }
    return std::any_of(query.Selections.begin(), query.Selections.end(),
                       [&](const TFdsnSelection& s) {
                           return CodeListMatches(s.Networks, station.Network) &&
                                  CodeListMatches(s.Stations, station.Station) &&
                                  CodeListMatches(s.Locations, epoch.Setup.Location) &&
                                  CodeListMatches(s.Channels, epoch.Setup.Code) &&
                                  (s.End == OpenTimeAfter || start < s.End) &&
                                  (s.Start == OpenTimeBefore || end > s.Start);
                       });
}

// Text times: "2026-12-08T07:37:31"; an open end is empty.
std::string TextTime(int64_t seconds) {
    std::string text = XmlTime(seconds);
    if (!text.empty() && text.back() == 'Z') {
        text.pop_back();
    }
    return text;
}

// The first start of the epochs and their last end (none while any is open).
std::pair<int64_t, std::optional<int64_t>> Span(const std::vector<TChannelEpoch>& epochs) {
    int64_t start = epochs.empty() ? 0 : epochs.front().Start;
    std::optional<int64_t> end;
    bool open = epochs.empty();
    for (const TChannelEpoch& epoch : epochs) {
        start = std::min(start, epoch.Start);
        open = open || !epoch.End;
        if (epoch.End) {
            end = std::max(end.value_or(*epoch.End), *epoch.End);
        }
    }
    return {start, open ? std::nullopt : end};
}

std::string SpanText(const std::vector<TChannelEpoch>& epochs) {
    const auto [start, end] = Span(epochs);
    return TextTime(start) + "|" + (end ? TextTime(*end) : "");
}

}  // namespace

TFdsnParsed<TStationQuery> ParseStationGet(std::string_view text) {
    TStationQuery query;
    std::set<std::string> seen;
    std::string rest;  // the selection's parameters, as they came
    size_t from = 0;
    while (from < text.size()) {
        const size_t amp = std::min(text.find('&', from), text.size());
        const std::string_view pair = text.substr(from, amp - from);
        from = amp + 1;
        const size_t equals = pair.find('=');
        const std::optional<std::string> key = DecodeQueryText(pair.substr(0, equals));
        const std::optional<std::string> value = equals == std::string_view::npos
                                                     ? std::optional<std::string>()
                                                     : DecodeQueryText(pair.substr(equals + 1));
        if (key && value) {
            if (std::optional<std::string> fault = TakeOwn(query, seen, *key, *value)) {
                if (!fault->empty()) {
                    return Refused(*fault);
                }
                continue;
            }
        }
        rest += std::string(rest.empty() ? "" : "&") + std::string(pair);
    }
    return Finish(ParseDataSelectGet(rest), std::move(query));
}

TFdsnParsed<TStationQuery> ParseStationPost(std::string_view body) {
    TStationQuery query;
    std::set<std::string> seen;
    std::string rest;  // the other lines; a taken line stays as an empty one, keeping the numbers
    size_t from = 0;
    int lineNumber = 0;
    while (from < body.size()) {
        const size_t end = std::min(body.find('\n', from), body.size());
        const std::string_view line = body.substr(from, end - from);
        from = end + 1;
        ++lineNumber;
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos) {
            if (std::optional<std::string> fault =
                    TakeOwn(query, seen, Trimmed(line.substr(0, equals)),
                            Trimmed(line.substr(equals + 1)))) {
                if (!fault->empty()) {
                    return Refused("line " + std::to_string(lineNumber) + ": " + *fault);
                }
                rest += '\n';
                continue;
            }
        }
        rest += std::string(line) + '\n';
    }
    return Finish(ParseDataSelectPost(rest), std::move(query));
}

std::vector<TStationEntry> SelectStations(const std::vector<TStationEntry>& stations,
                                          const TStationQuery& query) {
    std::vector<TStationEntry> selected;
    for (const TStationEntry& entry : stations) {
        TStationEntry kept = entry;
        kept.Metadata.Epochs.clear();
        for (const TChannelEpoch& epoch : entry.Metadata.Epochs) {
            if (EpochSelected(entry.Metadata, epoch, query)) {
                kept.Metadata.Epochs.push_back(epoch);
            }
        }
        if (kept.Metadata.Epochs.empty()) {
            continue;
        }
        if (query.Level <= TStationXmlLevel::Station) {
            kept.Metadata.Epochs = entry.Metadata.Epochs;
        }
        selected.push_back(std::move(kept));
    }
    return selected;
}

std::string StationText(const std::string& network, const std::vector<TStationEntry>& stations,
                        TStationXmlLevel level) {
    std::string text;
    if (level == TStationXmlLevel::Network) {
        std::vector<TChannelEpoch> all;
        for (const TStationEntry& entry : stations) {
            all.insert(all.end(), entry.Metadata.Epochs.begin(), entry.Metadata.Epochs.end());
        }
        return "#Network|Description|StartTime|EndTime|TotalStations\n" + network + "||" +
               SpanText(all) + "|" + std::to_string(stations.size()) + "\n";
    }
    if (level == TStationXmlLevel::Station) {
        text = "#Network|Station|Latitude|Longitude|Elevation|SiteName|StartTime|EndTime\n";
    } else {
        text =
            "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|"
            "SensorDescription|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime\n";
    }
    for (const TStationEntry& entry : stations) {
        const TStationMetadata& m = entry.Metadata;
        const TPosition where = PositionOf(entry).value_or(TPosition{});
        const std::string position = ExactNumber(where.Latitude) + "|" +
                                     ExactNumber(where.Longitude) + "|" +
                                     ExactNumber(where.Elevation);
        if (level == TStationXmlLevel::Station) {
            std::string site = entry.SiteName.empty() ? m.Station : entry.SiteName;
            std::replace(site.begin(), site.end(), '|', ' ');
            text += network + "|" + m.Station + "|" + position + "|" + site + "|" +
                    SpanText(m.Epochs) + "\n";
            continue;
        }
        for (const TChannelEpoch& epoch : m.Epochs) {
            const TChannelSetup& setup = epoch.Setup;
            const bool data = setup.Index >= 0;
            const auto [azimuth, dip] = data ? Orientation(setup) : std::pair<double, double>{};
            std::string sensor = data && setup.Sensor ? setup.Sensor->Description : "";
            std::replace(sensor.begin(), sensor.end(), '|', ' ');
            const double frequency = data && setup.Sensor ? setup.Sensor->Frequency : data ? 1 : 0;
            const std::string units = !data ? "" : setup.Sensor ? setup.Sensor->InputUnits : "V";
            text += network + "|" + m.Station + "|" + setup.Location + "|" + setup.Code + "|" +
                    position + "|0|" + (data ? ExactNumber(azimuth) : "") + "|" +
                    (data ? ExactNumber(dip) : "") + "|" + sensor + "|" +
                    ExactNumber(OverallSensitivity(setup)) + "|" + ExactNumber(frequency) + "|" +
                    units + "|" + ExactNumber(setup.SampleRate) + "|" + TextTime(epoch.Start) +
                    "|" + (epoch.End ? TextTime(*epoch.End) : "") + "\n";
        }
    }
    return text;
}

TStationAnswer AnswerStationQuery(const TStationSource& source, const std::string& software,
                                  const TStationQuery& query, int64_t nowSeconds) {
    std::vector<std::string> notes;
    const std::vector<TStationEntry> selected =
        SelectStations(LoadStationEntries(source, notes), query);
    if (selected.empty()) {
        return {query.NoData, "text/plain", {}};
    }
    if (query.Text) {
        return {200, "text/plain; charset=utf-8",
                StationText(source.Network, selected, query.Level)};
    }
    return {200, "application/xml",
            StationXmlDocument(source.Network, selected, software, nowSeconds, query.Level)};
}
