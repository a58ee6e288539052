#include "web/fdsn_request.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <set>

#include "seedfile/seed_time.h"

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return lower;
}

namespace {

using TQueryResult = TFdsnParsed<TDataSelectQuery>;

TQueryResult Refused(const std::string& text, int status = 400) {
    return TQueryResult{std::nullopt, TFdsnFault{status, text}};
}

// Whether `value` is one of `words`.
bool OneOf(const std::string& value, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return value == w; });
}

// A value from outside as a message shows it: control characters as '?', cut short.
std::string Shown(std::string_view text) {
    constexpr size_t MaxShown = 60;
    std::string shown(text.substr(0, MaxShown));
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            c = '?';
        }
    }
    return text.size() > MaxShown ? shown + "..." : shown;
}

bool Digits(std::string_view text, size_t count) {
    return text.size() >= count && std::all_of(text.begin(), text.begin() + long(count),
                                               [](char c) { return c >= '0' && c <= '9'; });
}

int Number(std::string_view text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// A comma list of codes: each item letters, digits, '?' and '*', at most `longest`
// characters (wildcards not counted); "--" is the empty location. Upper-cased.
std::optional<std::vector<std::string>> CodeList(std::string_view text, size_t longest,
                                                 bool location) {
    std::vector<std::string> items;
    size_t from = 0;
    while (true) {
        const size_t comma = std::min(text.find(',', from), text.size());
        std::string item(text.substr(from, comma - from));
        for (char& c : item) {
            if (c >= 'a' && c <= 'z') {
                c = char(c - 'a' + 'A');
            }
        }
        if (location && item == "--") {
            item.clear();
        } else {
            size_t plain = 0;
            for (const char c : item) {
                const bool code = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
                if (!code && c != '?' && c != '*') {
                    return std::nullopt;
                }
                plain += c != '*' ? 1 : 0;
            }
            if (item.empty() || plain > longest) {
                return std::nullopt;
            }
        }
        items.push_back(std::move(item));
        if (comma == text.size()) {
            break;
        }
        from = comma + 1;
    }
    if (items.size() > 100) {
        return std::nullopt;
    }
    return items;
}

// What a parameter sets; the names of each kind.
enum class TParam {
    Network,
    Station,
    Location,
    Channel,
    Start,
    End,
    NoData,
    Quality,
    MinimumLength,
    LongestOnly,
    Format,
    Merge,
    OrderBy,
    Limit,
    MergeGaps,
    Show
};

std::optional<TParam> ParamOf(const std::string& name) {
    static const std::pair<const char*, TParam> names[] = {{"network", TParam::Network},
                                                           {"net", TParam::Network},
                                                           {"station", TParam::Station},
                                                           {"sta", TParam::Station},
                                                           {"location", TParam::Location},
                                                           {"loc", TParam::Location},
                                                           {"channel", TParam::Channel},
                                                           {"cha", TParam::Channel},
                                                           {"starttime", TParam::Start},
                                                           {"start", TParam::Start},
                                                           {"endtime", TParam::End},
                                                           {"end", TParam::End},
                                                           {"nodata", TParam::NoData},
                                                           {"quality", TParam::Quality},
                                                           {"minimumlength", TParam::MinimumLength},
                                                           {"longestonly", TParam::LongestOnly},
                                                           {"format", TParam::Format},
                                                           {"merge", TParam::Merge},
                                                           {"orderby", TParam::OrderBy},
                                                           {"limit", TParam::Limit},
                                                           {"mergegaps", TParam::MergeGaps},
                                                           {"show", TParam::Show}};
    for (const auto& [text, param] : names) {
        if (name == text) {
            return param;
        }
    }
    return std::nullopt;
}

// Of the availability service only (`extent`: of /extent), or of dataselect only.
bool AvailabilityOnly(TParam param, bool extent) {
    return param == TParam::Merge || param == TParam::OrderBy || param == TParam::Limit ||
           (!extent && (param == TParam::MergeGaps || param == TParam::Show));
}

std::string TakeAvailability(TAvailabilityQuery& query, TParam param, const std::string& value,
                             const std::string& bad) {
    const std::string v = Lower(value);
    switch (param) {
        case TParam::Format:
            if (!OneOf(v, {"text", "json", "geocsv", "request"})) {
                return bad + " (text, json, geocsv or request)";
            }
            query.Format = v;
            return {};
        case TParam::Merge: {
            size_t from = 0;
            while (from <= v.size()) {
                const size_t comma = std::min(v.find(',', from), v.size());
                const std::string item = v.substr(from, comma - from);
                if (item == "samplerate") {
                    query.MergeSampleRate = true;
                } else if (item == "quality") {
                    query.MergeQuality = true;
                } else if (item == "overlap" && !query.Extent) {
                    query.MergeOverlap = true;
                } else {
                    return bad + (query.Extent ? " (samplerate, quality)"
                                               : " (samplerate, quality, overlap)");
                }
                from = comma + 1;
            }
            return {};
        }
        case TParam::OrderBy:
            if (!OneOf(v, {"nslc_time_quality_samplerate", "latestupdate", "latestupdate_desc"}) &&
                !(query.Extent && OneOf(v, {"timespancount", "timespancount_desc"}))) {
                return bad;
            }
            query.OrderBy = v;
            return {};
        case TParam::Limit: {
            int64_t limit = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), limit);
            if (error != std::errc() || end != value.data() + value.size() || limit < 1) {
                return bad + " (a whole number from 1)";
            }
            query.Limit = limit;
            return {};
        }
        case TParam::MergeGaps: {
            double seconds = -1;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), seconds);
            if (error != std::errc() || end != value.data() + value.size() || !(seconds >= 0) ||
                seconds > 1e9) {
                return bad + " (seconds, 0 or more)";
            }
            query.MergeGapsMicroseconds = int64_t(seconds * 1e6);
            return {};
        }
        case TParam::Show:
            if (v != "latestupdate") {
                return bad + " (latestupdate)";
            }
            query.ShowLatestUpdate = true;
            return {};
        default:
            return bad;
    }
}

// One key and value into the query and its selection; the fault's text, empty when taken.
// `availability`: the query is of the availability service, which takes its own parameters.
std::string Take(TDataSelectQuery& query, TFdsnSelection& selection, std::set<TParam>& seen,
                 const std::string& key, const std::string& value,
                 TAvailabilityQuery* availability = nullptr) {
    const std::string name = Lower(key);
    const std::optional<TParam> param = ParamOf(name);
    const bool dataSelectOnly = param == TParam::MinimumLength || param == TParam::LongestOnly;
    if (!param || (availability != nullptr && dataSelectOnly) ||
        (availability == nullptr && AvailabilityOnly(*param, false)) ||
        (availability != nullptr && availability->Extent && AvailabilityOnly(*param, false) &&
         !AvailabilityOnly(*param, true))) {
        return "unknown parameter '" + Shown(key) + "'";
    }
    if (!seen.insert(*param).second) {
        return "parameter '" + Shown(key) + "' given more than once";
    }
    const std::string bad = "bad value of parameter '" + Shown(key) + "': '" + Shown(value) + "'";
    if (availability != nullptr &&
        (*param == TParam::Format || AvailabilityOnly(*param, availability->Extent))) {
        return TakeAvailability(*availability, *param, value, bad);
    }
    if (availability != nullptr && *param == TParam::Quality && value == "*") {
        return {};
    }
    switch (*param) {
        case TParam::Network:
        case TParam::Station:
        case TParam::Location:
        case TParam::Channel: {
            const size_t longest = *param == TParam::Station   ? 5
                                   : *param == TParam::Channel ? 3
                                                               : 2;
            auto list = CodeList(value, longest, *param == TParam::Location);
            if (!list) {
                return bad;
            }
            (*param == TParam::Network    ? selection.Networks
             : *param == TParam::Station  ? selection.Stations
             : *param == TParam::Location ? selection.Locations
                                          : selection.Channels) = std::move(*list);
            return {};
        }
        case TParam::Start:
        case TParam::End: {
            const std::optional<int64_t> time = ParseFdsnTime(value);
            if (!time) {
                return bad + " (ISO 8601 UTC, e.g. 2026-12-08T01:00:00)";
            }
            (*param == TParam::Start ? selection.Start : selection.End) = *time;
            return {};
        }
        case TParam::NoData:
            if (value != "204" && value != "404") {
                return bad + " (204 or 404)";
            }
            query.NoData = value == "204" ? 204 : 404;
            return {};
        case TParam::Quality:
            if (value.size() != 1 || std::string("DMQRB").find(value[0]) == std::string::npos) {
                return bad + " (D, M, Q, R or B)";
            }
            query.Quality = value;
            return {};
        case TParam::MinimumLength: {
            double length = -1;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), length);
            if (error != std::errc() || end != value.data() + value.size() || !(length >= 0)) {
                return bad;
            }
            return length == 0 ? std::string() : bad + " (only 0 is served)";
        }
        case TParam::LongestOnly: {
            const std::string v = Lower(value);
            if (v != "true" && v != "false") {
                return bad + " (true or false)";
            }
            return v == "false" ? std::string() : bad + " (only false is served)";
        }
        case TParam::Format:
            return Lower(value) == "miniseed" ? std::string() : bad + " (only miniseed)";
        default:
            return bad;
    }
    return bad;
}

std::string CheckWindow(const TFdsnSelection& selection) {
    if (selection.Start != OpenTimeBefore && selection.End != OpenTimeAfter &&
        selection.End <= selection.Start) {
        return "endtime is not after starttime";
    }
    return {};
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        const size_t from = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') {
            ++at;
        }
        if (at > from) {
            words.push_back(line.substr(from, at - from));
        }
    }
    return words;
}

}  // namespace

std::optional<int64_t> ParseFdsnTime(std::string_view text) {
    if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) {
        text.remove_suffix(1);
    }
    // YYYY-MM-DD
    if (text.size() < 10 || !Digits(text, 4) || text[4] != '-' || !Digits(text.substr(5), 2) ||
        text[7] != '-' || !Digits(text.substr(8), 2)) {
        return std::nullopt;
    }
    int hour = 0, minute = 0, second = 0;
    int64_t micro = 0;
    if (text.size() > 10) {
        const std::string_view t = text.substr(10);
        if (t.size() < 9 || (t[0] != 'T' && t[0] != 't') || !Digits(t.substr(1), 2) ||
            t[3] != ':' || !Digits(t.substr(4), 2) || t[6] != ':' || !Digits(t.substr(7), 2)) {
            return std::nullopt;
        }
        hour = Number(t.substr(1, 2));
        minute = Number(t.substr(4, 2));
        second = Number(t.substr(7, 2));
        if (t.size() > 9) {
            const std::string_view fraction = t.substr(10);
            if (t[9] != '.' || fraction.empty() || fraction.size() > 6 ||
                !Digits(fraction, fraction.size())) {
                return std::nullopt;
            }
            micro = Number(fraction);
            for (size_t k = fraction.size(); k < 6; ++k) {
                micro *= 10;
            }
        }
    }
    if (hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const std::optional<TSeedTime> time =
        SeedTimeOf(Number(text.substr(0, 4)), Number(text.substr(5, 2)), Number(text.substr(8, 2)),
                   hour, minute, second);
    if (!time) {
        return std::nullopt;
    }
    return time->Seconds * 1000000 + micro;
}

std::optional<std::string> DecodeQueryText(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%') {
            if (k + 2 >= text.size()) {
                return std::nullopt;
            }
            int value = 0;
            const auto [end, error] =
                std::from_chars(text.data() + k + 1, text.data() + k + 3, value, 16);
            if (error != std::errc() || end != text.data() + k + 3) {
                return std::nullopt;
            }
            decoded += char(value);
            k += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

bool CodePatternMatches(std::string_view pattern, std::string_view text) {
    // Greedy matching with one back-track point: linear in practice, never exponential.
    size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool CodeListMatches(const std::vector<std::string>& patterns, std::string_view code) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& p) { return CodePatternMatches(p, code); });
}

namespace {

// The parameters of a query string into `query`; the fault's text, empty when all are taken.
std::string TakeQueryString(std::string_view text, TDataSelectQuery& query,
                            TAvailabilityQuery* availability) {
    TFdsnSelection selection;
    std::set<TParam> seen;
    size_t from = 0;
    while (from < text.size()) {
        const size_t amp = std::min(text.find('&', from), text.size());
        const std::string_view pair = text.substr(from, amp - from);
        from = amp + 1;
        if (pair.empty()) {
            continue;
        }
        const size_t equals = pair.find('=');
        const std::optional<std::string> key = DecodeQueryText(pair.substr(0, equals));
        const std::optional<std::string> value = equals == std::string_view::npos
                                                     ? std::optional<std::string>()
                                                     : DecodeQueryText(pair.substr(equals + 1));
        if (!key || !value) {
            return "bad parameter '" + Shown(pair) + "' (key=value, percent-encoded)";
        }
        if (const std::string fault = Take(query, selection, seen, *key, *value, availability);
            !fault.empty()) {
            return fault;
        }
    }
    if (const std::string fault = CheckWindow(selection); !fault.empty()) {
        return fault;
    }
    query.Selections.push_back(std::move(selection));
    return {};
}

}  // namespace

TFdsnParsed<TDataSelectQuery> ParseDataSelectGet(std::string_view text) {
    TDataSelectQuery query;
    if (const std::string fault = TakeQueryString(text, query, nullptr); !fault.empty()) {
        return Refused(fault);
    }
    return {std::move(query), {}};
}

TFdsnParsed<TAvailabilityQuery> ParseAvailabilityGet(std::string_view text, bool extent) {
    TAvailabilityQuery query;
    query.Extent = extent;
    if (const std::string fault = TakeQueryString(text, query, &query); !fault.empty()) {
        return {std::nullopt, TFdsnFault{400, fault}};
    }
    return {std::move(query), {}};
}

TFdsnParsed<TDataSelectQuery> ParseDataSelectPost(std::string_view body) {
    TDataSelectQuery query;
    TFdsnSelection unused;
    std::set<TParam> seen;
    size_t from = 0;
    int lineNumber = 0;
    while (from < body.size()) {
        const size_t end = std::min(body.find('\n', from), body.size());
        std::string_view line = body.substr(from, end - from);
        from = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::vector<std::string_view> words = Words(line);
        if (words.empty()) {
            continue;
        }
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos) {
            if (!query.Selections.empty()) {
                return Refused(where + "parameter '" + Shown(line) + "' after the selections");
            }
            const std::vector<std::string_view> keyWords = Words(line.substr(0, equals));
            const std::string key(keyWords.empty() ? std::string_view() : keyWords.front());
            const std::vector<std::string_view> valueWords = Words(line.substr(equals + 1));
            const std::string value(valueWords.empty() ? std::string_view() : valueWords.front());
            const std::optional<TParam> param = ParamOf(Lower(key));
            if (param && *param <= TParam::End) {
                return Refused(where + "parameter '" + Shown(key) +
                               "' belongs in the selection lines");
            }
            if (const std::string fault = Take(query, unused, seen, key, value); !fault.empty()) {
                return Refused(where + fault);
            }
            continue;
        }
        if (words.size() != 6) {
            return Refused(where + "a selection is NET STA LOC CHA STARTTIME ENDTIME: '" +
                           Shown(line) + "'");
        }
        if (query.Selections.size() >= MaxPostSelections) {
            return Refused("more than " + std::to_string(MaxPostSelections) + " selections", 413);
        }
        TFdsnSelection selection;
        std::set<TParam> own;
        static const char* const names[] = {"network", "station",   "location",
                                            "channel", "starttime", "endtime"};
        for (size_t k = 0; k < 6; ++k) {
            if (k >= 4 && words[k] == "*") {
                continue;
            }
            if (const std::string fault =
                    Take(query, selection, own, names[k], std::string(words[k]));
                !fault.empty()) {
                return Refused(where + fault);
            }
        }
        if (const std::string fault = CheckWindow(selection); !fault.empty()) {
            return Refused(where + fault);
        }
        query.Selections.push_back(std::move(selection));
    }
    if (query.Selections.empty()) {
        return Refused("no selection line (NET STA LOC CHA STARTTIME ENDTIME)");
    }
    return {std::move(query), {}};
}
