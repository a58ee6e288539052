// The request of an FDSN dataselect query (version 1), read from the query string of a GET or
// the body of a POST. Pure functions over text: every fault names the parameter (or the POST
// line) and why, for the 400 answer; nothing here touches the archive.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int64_t OpenTimeBefore = std::numeric_limits<int64_t>::min();
inline constexpr int64_t OpenTimeAfter = std::numeric_limits<int64_t>::max();

// One selection: comma lists of code patterns ('?' one character, '*' any; an empty location
// is "" and asked for as "--") and a time window in microseconds since 1970 UTC.
struct TFdsnSelection {
    std::vector<std::string> Networks{"*"}, Stations{"*"}, Locations{"*"}, Channels{"*"};
    int64_t Start = OpenTimeBefore;
    int64_t End = OpenTimeAfter;

    bool operator==(const TFdsnSelection&) const = default;
};

struct TDataSelectQuery {
    std::vector<TFdsnSelection> Selections;
    int NoData = 204;           // the status when nothing matches: 204 or 404
    std::string Quality = "B";  // D, M, Q, R or B: taken, every record of the archive is D
    bool operator==(const TDataSelectQuery&) const = default;
};

// An FDSN availability query (version 1), of /extent or of /query.
struct TAvailabilityQuery : TDataSelectQuery {
    bool Extent = false;           // /extent: one row per stream and rate
    std::string Format = "text";   // text, json, geocsv or request
    bool MergeSampleRate = false;  // streams of several rates as one
    bool MergeQuality = false;     // the quality column left out (all data is D)
    bool MergeOverlap = false;     // overlapping spans as one (query only)
    std::string OrderBy = "nslc_time_quality_samplerate";
    int64_t Limit = 0;                  // the most rows; 0: all
    int64_t MergeGapsMicroseconds = 0;  // gaps no longer than this closed (query only)
    bool ShowLatestUpdate = false;      // show=latestupdate (query only)
    bool operator==(const TAvailabilityQuery&) const = default;
};

// A refused request: the status (400, or 413 for more selections than are served) and the
// text naming the parameter.
struct TFdsnFault {
    int Status = 400;
    std::string Text;
};

template <typename T>
struct TFdsnParsed {
    std::optional<T> Value;
    TFdsnFault Fault;  // when there is no value
};

// The most selection lines a POST may hold.
inline constexpr size_t MaxPostSelections = 1000;

// "key=value&..." as it follows '?' in the URL (percent-encoded, '+' a space).
// Upper-case ASCII letters made lower case (parameter names and keywords are case-blind).
std::string Lower(std::string_view text);

TFdsnParsed<TDataSelectQuery> ParseDataSelectGet(std::string_view query);
// Lines "key=value" then "NET STA LOC CHA START END" (START and END may be "*").
TFdsnParsed<TDataSelectQuery> ParseDataSelectPost(std::string_view body);

// The query string of /extent (`extent`) or /query of the availability service.
TFdsnParsed<TAvailabilityQuery> ParseAvailabilityGet(std::string_view query, bool extent);

// ISO 8601 UTC: "YYYY-MM-DD", or with "THH:MM:SS", a fraction of up to 6 digits and a
// trailing 'Z'; microseconds since 1970. Nothing for any other text or an impossible date.
std::optional<int64_t> ParseFdsnTime(std::string_view text);
// Percent-decoding of a URL's query part ('+' is a space); nothing for a bad escape.
std::optional<std::string> DecodeQueryText(std::string_view text);
// `pattern` ('?' any one character, '*' any run) over all of `text`.
bool CodePatternMatches(std::string_view pattern, std::string_view text);
// Any pattern of the list matches.
bool CodeListMatches(const std::vector<std::string>& patterns, std::string_view code);
