#include "web/availability.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

// The spans of one stream at one rate (rate 0: all rates, merge=samplerate).
struct TGroup {
    TStreamKey Key;
    double Rate = 0;
    int64_t Updated = 0;
    std::vector<TDataSpan> Spans;
};

std::string TimeText(int64_t micro) {
    const int64_t seconds = micro >= 0 ? micro / 1000000 : -((-micro + 999999) / 1000000);
    const time_t t = time_t(seconds);
    tm utc{};
    gmtime_r(&t, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long long>(micro - seconds * 1000000));
    return text;
}

std::string RateText(double rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", rate);
    std::string shown = text;
    if (shown.find_first_of(".e") == std::string::npos) {
        shown += ".0";
    }
    return shown;
}

std::string JsonText(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return quoted + "\"";
}

// The spans of a group in time order, joined where the query's merging closes what is
// between them: a gap no longer than mergegaps (or half a sample), an overlap with
// merge=overlap (or within half a sample).
std::vector<TDataSpan> Merged(std::vector<TDataSpan> spans, const TAvailabilityQuery& query) {
    std::sort(spans.begin(), spans.end(),
              [](const TDataSpan& a, const TDataSpan& b) { return a.Start < b.Start; });
    std::vector<TDataSpan> merged;
    for (const TDataSpan& span : spans) {
        if (!merged.empty()) {
            TDataSpan& last = merged.back();
            const int64_t tolerance = ContinuityTolerance(std::max(last.Rate, span.Rate));
            const int64_t gap = span.Start - last.End;
            const bool joins = gap >= 0 ? gap <= std::max(tolerance, query.MergeGapsMicroseconds)
                                        : query.MergeOverlap || -gap <= tolerance;
            if (joins) {
                last.End = std::max(last.End, span.End);
                continue;
            }
        }
        merged.push_back(span);
    }
    return merged;
}

std::vector<TGroup> GroupsOf(const TArchiveSpans& spans, const TAvailabilityQuery& query) {
    const TFdsnSelection& selection = query.Selections.front();
    const std::vector<TStreamSpans> streams = spans.Select(
        [&](const TStreamKey& key) {
            return CodeListMatches(selection.Networks, key.Network) &&
                   CodeListMatches(selection.Stations, key.Station) &&
                   CodeListMatches(selection.Locations, key.Location) &&
                   CodeListMatches(selection.Channels, key.Channel);
        },
        selection.Start, selection.End);
    std::vector<TGroup> groups;
    for (const TStreamSpans& stream : streams) {
        std::vector<double> rates;
        for (const TDataSpan& span : stream.Spans) {
            if (std::find(rates.begin(), rates.end(), span.Rate) == rates.end()) {
                rates.push_back(span.Rate);
            }
        }
        std::sort(rates.begin(), rates.end());
        if (query.MergeSampleRate) {
            rates = {0.0};
        }
        for (const double rate : rates) {
            TGroup group{stream.Key, rate, stream.Updated, {}};
            for (const TDataSpan& span : stream.Spans) {
                if (rate == 0 || span.Rate == rate) {
                    group.Spans.push_back(span);
                }
            }
            group.Spans = Merged(std::move(group.Spans), query);
            groups.push_back(std::move(group));
        }
    }
    const std::string& order = query.OrderBy;
    const auto count = [](const TGroup& g) { return g.Spans.size(); };
    if (order == "latestupdate") {
        std::stable_sort(groups.begin(), groups.end(),
                         [](const TGroup& a, const TGroup& b) { return a.Updated < b.Updated; });
    } else if (order == "latestupdate_desc") {
        std::stable_sort(groups.begin(), groups.end(),
                         [](const TGroup& a, const TGroup& b) { return a.Updated > b.Updated; });
    } else if (order == "timespancount") {
        std::stable_sort(groups.begin(), groups.end(),
                         [&](const TGroup& a, const TGroup& b) { return count(a) < count(b); });
    } else if (order == "timespancount_desc") {
        std::stable_sort(groups.begin(), groups.end(),
                         [&](const TGroup& a, const TGroup& b) { return count(a) > count(b); });
    }
    return groups;
}

// One row of a table answer: the group and, for /query, the span.
struct TRow {
    const TGroup* Group = nullptr;
    TDataSpan Span;
};

std::vector<TRow> RowsOf(const std::vector<TGroup>& groups, const TAvailabilityQuery& query) {
    std::vector<TRow> rows;
    for (const TGroup& group : groups) {
        if (query.Extent) {
            TDataSpan whole{group.Spans.front().Start, group.Spans.front().End, group.Rate};
            for (const TDataSpan& span : group.Spans) {
                whole.End = std::max(whole.End, span.End);
            }
            rows.push_back(TRow{&group, whole});
        } else {
            for (const TDataSpan& span : group.Spans) {
                rows.push_back(TRow{&group, span});
            }
        }
    }
    if (!query.Extent && query.OrderBy == "nslc_time_quality_samplerate") {
        // Of one stream, the spans of all its rates in time order.
        std::stable_sort(rows.begin(), rows.end(), [](const TRow& a, const TRow& b) {
            return std::tie(a.Group->Key, a.Span.Start, a.Group->Rate) <
                   std::tie(b.Group->Key, b.Span.Start, b.Group->Rate);
        });
    }
    if (query.Limit > 0 && rows.size() > size_t(query.Limit)) {
        rows.resize(size_t(query.Limit));
    }
    return rows;
}

std::string TableAnswer(const std::vector<TRow>& rows, const TAvailabilityQuery& query,
                        bool geocsv) {
    struct TColumn {
        const char* Name;
        const char* Unit;
        const char* Type;
    };
    std::vector<TColumn> columns = {{"Network", "unitless", "string"},
                                    {"Station", "unitless", "string"},
                                    {"Location", "unitless", "string"},
                                    {"Channel", "unitless", "string"}};
    if (!query.MergeQuality) {
        columns.push_back({"Quality", "unitless", "string"});
    }
    if (!query.MergeSampleRate) {
        columns.push_back({"SampleRate", "hertz", "float"});
    }
    columns.push_back({"Earliest", "ISO_8601", "datetime"});
    columns.push_back({"Latest", "ISO_8601", "datetime"});
    if (query.Extent || query.ShowLatestUpdate) {
        columns.push_back({"Updated", "ISO_8601", "datetime"});
    }
    if (query.Extent) {
        columns.push_back({"TimeSpans", "unitless", "integer"});
        columns.push_back({"Restriction", "unitless", "string"});
    }
    const char separator = geocsv ? '|' : ' ';
    std::string out;
    const auto line = [&](const auto& field) {
        for (size_t k = 0; k < columns.size(); ++k) {
            out += (k > 0 ? std::string(1, separator) : std::string()) + field(k);
        }
        out += '\n';
    };
    if (geocsv) {
        out = "#dataset: GeoCSV 2.0\n#delimiter: |\n#field_unit: ";
        for (size_t k = 0; k < columns.size(); ++k) {
            out += (k > 0 ? "|" : "") + std::string(columns[k].Unit);
        }
        out += "\n#field_type: ";
        for (size_t k = 0; k < columns.size(); ++k) {
            out += (k > 0 ? "|" : "") + std::string(columns[k].Type);
        }
        out += '\n';
    } else {
        out = "#";
    }
    line([&](size_t k) { return std::string(columns[k].Name); });
    for (const TRow& row : rows) {
        const TGroup& g = *row.Group;
        line([&](size_t k) -> std::string {
            const std::string name = columns[k].Name;
            if (name == "Network")
                return g.Key.Network;
            if (name == "Station")
                return g.Key.Station;
            if (name == "Location")
                return g.Key.Location.empty() && !geocsv ? "--" : g.Key.Location;
            if (name == "Channel")
                return g.Key.Channel;
            if (name == "Quality")
                return "D";
            if (name == "SampleRate")
                return RateText(row.Span.Rate);
            if (name == "Earliest")
                return TimeText(row.Span.Start);
            if (name == "Latest")
                return TimeText(row.Span.End);
            if (name == "Updated")
                return TimeText(g.Updated);
            if (name == "TimeSpans")
                return std::to_string(g.Spans.size());
            return "OPEN";
        });
    }
    return out;
}

std::string RequestAnswer(const std::vector<TRow>& rows) {
    std::string out;
    for (const TRow& row : rows) {
        const TStreamKey& key = row.Group->Key;
        out += key.Network + " " + key.Station + " " +
               (key.Location.empty() ? "--" : key.Location) + " " + key.Channel + " " +
               TimeText(row.Span.Start) + " " + TimeText(row.Span.End) + "\n";
    }
    return out;
}

std::string JsonAnswer(const std::vector<TGroup>& groups, const TAvailabilityQuery& query,
                       int64_t now) {
    std::string out =
        "{\"created\":" + JsonText(TimeText(now)) + ",\"version\":1.0,\"datasources\":[";
    int64_t left = query.Limit > 0 ? query.Limit : INT64_MAX;
    bool first = true;
    for (const TGroup& g : groups) {
        if (left <= 0) {
            break;
        }
        out += first ? "\n" : ",\n";
        first = false;
        out +=
            "{\"network\":" + JsonText(g.Key.Network) + ",\"station\":" + JsonText(g.Key.Station) +
            ",\"location\":" + JsonText(g.Key.Location) + ",\"channel\":" + JsonText(g.Key.Channel);
        if (!query.MergeQuality) {
            out += ",\"quality\":\"D\"";
        }
        if (!query.MergeSampleRate) {
            out += ",\"samplerate\":" + RateText(g.Rate);
        }
        if (query.Extent) {
            int64_t latest = g.Spans.front().End;
            for (const TDataSpan& span : g.Spans) {
                latest = std::max(latest, span.End);
            }
            out += ",\"earliest\":" + JsonText(TimeText(g.Spans.front().Start)) +
                   ",\"latest\":" + JsonText(TimeText(latest)) +
                   ",\"timespanCount\":" + std::to_string(g.Spans.size()) +
                   ",\"updated\":" + JsonText(TimeText(g.Updated)) + ",\"restriction\":\"OPEN\"}";
            --left;
            continue;
        }
        out += ",\"timespans\":[";
        for (size_t k = 0; k < g.Spans.size() && left > 0; ++k, --left) {
            out += (k > 0 ? "," : "") + std::string("[") + JsonText(TimeText(g.Spans[k].Start)) +
                   "," + JsonText(TimeText(g.Spans[k].End)) + "]";
        }
        out += "]";
        if (query.ShowLatestUpdate) {
            out += ",\"latestUpdate\":" + JsonText(TimeText(g.Updated));
        }
        out += "}";
    }
    return out + "\n]}\n";
}

}  // namespace

TAvailabilityAnswer AnswerAvailability(const TArchiveSpans& spans, const TAvailabilityQuery& query,
                                       int64_t now) {
    TAvailabilityAnswer answer;
    const bool dataQuality = query.Quality == "D" || query.Quality == "B" || query.Quality == "*";
    const std::vector<TGroup> groups = dataQuality ? GroupsOf(spans, query) : std::vector<TGroup>{};
    answer.Empty = groups.empty();
    if (query.Format == "json") {
        answer.ContentType = "application/json";
        answer.Body = JsonAnswer(groups, query, now);
    } else if (query.Format == "request") {
        answer.ContentType = "text/plain";
        answer.Body = RequestAnswer(RowsOf(groups, query));
    } else {
        const bool geocsv = query.Format == "geocsv";
        answer.ContentType = geocsv ? "text/csv" : "text/plain";
        answer.Body = TableAnswer(RowsOf(groups, query), query, geocsv);
    }
    return answer;
}
