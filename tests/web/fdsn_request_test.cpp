// The dataselect request reader: every refused parameter is named in a 400 (one table), the
// times, code patterns and POST selections read as FDSN web service clients write them, and
// the web root's paths never leave it.
#include "web/fdsn_request.h"

#include <gtest/gtest.h>

#include "seedfile/seed_time.h"
#include "web/web_server.h"

namespace {

int64_t Micro(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return SeedTimeOf(year, month, day, hour, minute, second)->Seconds * 1000000;
}

}  // namespace

TEST(FdsnRequest, RefusedParametersAreNamed) {
    struct TCase {
        const char* Query;
        int Status;
        const char* Named;  // text the fault must hold
    };
    const TCase cases[] = {
        {"nett=XX", 400, "'nett'"},
        {"net=XX&network=YY", 400, "'network' given more than once"},
        {"net=X-Y", 400, "'net'"},
        {"sta=TOOLONG", 400, "'sta'"},
        {"cha=HHZZ", 400, "'cha'"},
        {"loc=---", 400, "'loc'"},
        {"net=", 400, "'net'"},
        {"net=XX,,YY", 400, "'net'"},
        {"start=2026-13-01", 400, "'start'"},
        {"starttime=2026-02-30T00:00:00", 400, "'starttime'"},
        {"end=2026-01-01T24:00:00", 400, "'end'"},
        {"end=2026-01-01T10:00", 400, "'end'"},
        {"end=2026-01-01T10:00:00.1234567", 400, "'end'"},
        {"start=yesterday", 400, "'start'"},
        {"start=2026-01-02&end=2026-01-01", 400, "endtime is not after starttime"},
        {"start=2026-01-01&end=2026-01-01", 400, "endtime is not after starttime"},
        {"nodata=200", 400, "'nodata'"},
        {"quality=X", 400, "'quality'"},
        {"minimumlength=-1", 400, "'minimumlength'"},
        {"minimumlength=10", 400, "only 0"},
        {"longestonly=maybe", 400, "'longestonly'"},
        {"longestonly=true", 400, "only false"},
        {"format=sac", 400, "'format'"},
        {"net=%zz", 400, "percent-encoded"},
        {"net=%4", 400, "percent-encoded"},
        {"net", 400, "'net'"},
    };
    for (const TCase& c : cases) {
        const TFdsnParsed<TDataSelectQuery> parsed = ParseDataSelectGet(c.Query);
        EXPECT_FALSE(parsed.Value) << c.Query;
        EXPECT_EQ(parsed.Fault.Status, c.Status) << c.Query;
        EXPECT_NE(parsed.Fault.Text.find(c.Named), std::string::npos)
            << c.Query << ": " << parsed.Fault.Text;
    }
}

TEST(FdsnRequest, GetQueryReadsListsWildcardsAndTimes) {
    const TFdsnParsed<TDataSelectQuery> parsed = ParseDataSelectGet(
        "net=xx,Y%3F&STA=AB*&loc=--,00&channel=HH?&starttime=2026-12-08T01:02:03.5Z"
        "&end=2026-12-09&nodata=404&quality=M&minimumlength=0.0&longestonly=FALSE&&format="
        "miniseed");
    ASSERT_TRUE(parsed.Value) << parsed.Fault.Text;
    const TDataSelectQuery& q = *parsed.Value;
    ASSERT_EQ(q.Selections.size(), 1u);
    const TFdsnSelection& s = q.Selections[0];
    EXPECT_EQ(s.Networks, (std::vector<std::string>{"XX", "Y?"}));
    EXPECT_EQ(s.Stations, (std::vector<std::string>{"AB*"}));
    EXPECT_EQ(s.Locations, (std::vector<std::string>{"", "00"}));
    EXPECT_EQ(s.Channels, (std::vector<std::string>{"HH?"}));
    EXPECT_EQ(s.Start, Micro(2026, 12, 8, 1, 2, 3) + 500000);
    EXPECT_EQ(s.End, Micro(2026, 12, 9));
    EXPECT_EQ(q.NoData, 404);
    EXPECT_EQ(q.Quality, "M");

    // Nothing given: everything, open at both ends, 204 for no data.
    const TFdsnParsed<TDataSelectQuery> empty = ParseDataSelectGet("");
    ASSERT_TRUE(empty.Value);
    EXPECT_EQ(empty.Value->Selections, (std::vector<TFdsnSelection>{TFdsnSelection{}}));
    EXPECT_EQ(empty.Value->NoData, 204);
}

TEST(FdsnRequest, TimesAndPatterns) {
    const std::pair<const char*, std::optional<int64_t>> times[] = {
        {"2026-12-08", Micro(2026, 12, 8)},
        {"2026-12-08T23:59:59", Micro(2026, 12, 8, 23, 59, 59)},
        {"2024-02-29T00:00:00.000001Z", Micro(2024, 2, 29) + 1},
        {"1969-12-31T23:59:59", int64_t{-1000000}},
        {"2023-02-29", std::nullopt},
        {"2026-12-08T", std::nullopt},
        {"2026-12-08 01:00:00", std::nullopt},
        {"2026-12-08T01:00:00.", std::nullopt},
        {"2026-12-08T01:00:00ZZ", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, micro] : times) {
        EXPECT_EQ(ParseFdsnTime(text), micro) << text;
    }
    const std::tuple<const char*, const char*, bool> patterns[] = {
        {"*", "", true},       {"*", "HHZ", true},   {"HH?", "HHZ", true},
        {"HH?", "HH", false},  {"H*Z", "HZ", true},  {"H*Z", "HHNZ", true},
        {"H*Z", "HHN", false}, {"", "", true},       {"", "00", false},
        {"?*?", "A", false},   {"**?**", "A", true}, {"A*B*C", "AXBXBYC", true},
        {"*", "*x", true},     {"H*", "*H", false},
    };
    for (const auto& [pattern, text, matches] : patterns) {
        EXPECT_EQ(CodePatternMatches(pattern, text), matches) << pattern << " " << text;
    }
}

TEST(FdsnRequest, PostBodiesReadOptionsThenSelections) {
    const TFdsnParsed<TDataSelectQuery> parsed = ParseDataSelectPost(
        "quality = B\r\nnodata=404\n\nXX ST1 -- HHZ 2026-12-08T00:00:00 2026-12-08T01:00:00\n"
        "XX S* 00 HH? 2026-12-08 *\n");
    ASSERT_TRUE(parsed.Value) << parsed.Fault.Text;
    ASSERT_EQ(parsed.Value->Selections.size(), 2u);
    EXPECT_EQ(parsed.Value->NoData, 404);
    EXPECT_EQ(parsed.Value->Selections[0].Locations, (std::vector<std::string>{""}));
    EXPECT_EQ(parsed.Value->Selections[0].End, Micro(2026, 12, 8, 1));
    EXPECT_EQ(parsed.Value->Selections[1].End, OpenTimeAfter);

    struct TCase {
        std::string Body;
        int Status;
        const char* Named;
    };
    std::string many;
    for (size_t k = 0; k <= MaxPostSelections; ++k) {
        many += "XX ST1 -- HHZ 2026-12-08 2026-12-09\n";
    }
    const TCase cases[] = {
        {"", 400, "no selection"},
        {"quality=B\n", 400, "no selection"},
        {"XX ST1 -- HHZ 2026-12-08\n", 400, "line 1: a selection is"},
        {"XX ST1 -- HHZ 2026-12-08 2026-12-09\nquality=B\n", 400, "line 2: parameter"},
        {"net=XX\nXX ST1 -- HHZ 2026-12-08 2026-12-09\n", 400, "belongs in the selection"},
        {"XX ST1 -- HHZ 2026-12-09 2026-12-08\n", 400, "line 1: endtime is not after"},
        {"XX ST1 -- HHZ 2026-12-08 later\n", 400, "line 1: bad value of parameter 'endtime'"},
        {"XX ST!1 -- HHZ 2026-12-08 2026-12-09\n", 400, "'station'"},
        {many, 413, "more than"},
    };
    for (const TCase& c : cases) {
        const TFdsnParsed<TDataSelectQuery> refused = ParseDataSelectPost(c.Body);
        EXPECT_FALSE(refused.Value) << c.Body.substr(0, 60);
        EXPECT_EQ(refused.Fault.Status, c.Status) << c.Body.substr(0, 60);
        EXPECT_NE(refused.Fault.Text.find(c.Named), std::string::npos) << refused.Fault.Text;
    }
}

TEST(FdsnRequest, WebRootPathsNeverLeaveTheRoot) {
    const std::pair<const char*, std::optional<std::string>> paths[] = {
        {"/", "index.html"},
        {"/app/", "app/index.html"},
        {"/app/main.js", "app/main.js"},
        {"/..", std::nullopt},
        {"/../etc/passwd", std::nullopt},
        {"/app/../../x", std::nullopt},
        {"/app/./x", std::nullopt},
        {"/app/..", std::nullopt},
        {"/a\\..\\b", std::nullopt},
        {"/a\nb", std::nullopt},
        {"relative", std::nullopt},
        {"", std::nullopt},
        {"/..hidden", "..hidden"},
    };
    for (const auto& [uri, relative] : paths) {
        EXPECT_EQ(WebRootRelativePath(uri), relative) << uri;
    }
}

TEST(FdsnRequest, AvailabilityParametersAreReadOrRefused) {
    struct TCase {
        const char* Query;
        bool Extent;
        const char* Named;  // the fault's text; empty: taken
    };
    const TCase cases[] = {
        {"merge=samplerate,quality,overlap&format=geocsv&limit=5&mergegaps=1.5", false, ""},
        {"orderby=timespancount_desc&format=json&quality=*", true, ""},
        {"merge=overlap", true, "'merge'"},
        {"merge=samplerate,", false, "'merge'"},
        {"mergegaps=1", true, "unknown parameter 'mergegaps'"},
        {"mergegaps=-1", false, "'mergegaps'"},
        {"show=latestupdate", true, "unknown parameter 'show'"},
        {"orderby=timespancount", false, "'orderby'"},
        {"limit=0", false, "'limit'"},
        {"limit=1x", true, "'limit'"},
        {"format=miniseed", false, "'format'"},
        {"longestonly=false", false, "unknown parameter 'longestonly'"},
        {"cha=HHZZ", true, "'cha'"},
        {"start=2026-01-02&end=2026-01-01", false, "endtime is not after starttime"},
    };
    for (const TCase& c : cases) {
        const auto parsed = ParseAvailabilityGet(c.Query, c.Extent);
        if (*c.Named == '\0') {
            EXPECT_TRUE(parsed.Value.has_value()) << c.Query << ": " << parsed.Fault.Text;
            continue;
        }
        ASSERT_FALSE(parsed.Value.has_value()) << c.Query;
        EXPECT_EQ(parsed.Fault.Status, 400) << c.Query;
        EXPECT_NE(parsed.Fault.Text.find(c.Named), std::string::npos)
            << c.Query << ": " << parsed.Fault.Text;
    }
    const auto query =
        ParseAvailabilityGet("merge=samplerate,overlap&mergegaps=1.5&limit=5", false).Value;
    ASSERT_TRUE(query);
    EXPECT_TRUE(query->MergeSampleRate && query->MergeOverlap && !query->MergeQuality);
    EXPECT_EQ(query->MergeGapsMicroseconds, 1500000);
    EXPECT_EQ(query->Limit, 5);
    // The availability service's own parameters are no dataselect's.
    EXPECT_FALSE(ParseDataSelectGet("merge=samplerate").Value);
    EXPECT_FALSE(ParseDataSelectGet("limit=5").Value);
}
