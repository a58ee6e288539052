// The FDSN station service over metadata written by the metadata module's own writer: one table
// of queries (selection, time, level, format, nodata and refused parameters) whose answers are
// parsed back (pugixml for StationXML, '|' fields for text), the unselected document against
// the one --stationxml prints, and the service through real HTTP with curl.
#include "web/station_service.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>

#include "seedfile/seed_time.h"
#include "web/web_server.h"

namespace fs = std::filesystem;

namespace {

int64_t At(int year, int month, int day, int hour = 0) {
    return SeedTimeOf(year, month, day, hour, 0, 0)->Seconds;
}

// Gain changed at T0: HHZ has a closed epoch before it; HHZ, HHN, HHE and a supply stream
// (VEI) are open from T0. A second station has recorded nothing.
const int64_t T0 = At(2026, 12, 1);
const int64_t Before = At(2026, 11, 1);

TChannelSetup Setup(const std::string& code, int index, int gain) {
    TChannelSetup setup;
    setup.Location = "00";
    setup.Code = code;
    setup.Index = index;
    setup.SampleRate = 100;
    setup.GainFactor = gain;
    if (index >= 0) {
        TSensor sensor;
        sensor.Description = "Broadband | 120 s";
        sensor.Sensitivity = 1500;
        sensor.Poles = {{-0.037, 0.037}, {-0.037, -0.037}};
        sensor.Zeros = {{0, 0}, {0, 0}};
        setup.Sensor = sensor;
    }
    return setup;
}

TStationMetadata Metadata() {
    TStationMetadata m;
    m.Network = "XX";
    m.Station = "ST1";
    m.Location = "00";
    m.GpsPosition = TPosition{1, 2, 3};
    m.Epochs.push_back({Setup("HHZ", 0, 1), Before, T0});
    m.Epochs.push_back({Setup("HHZ", 0, 10), T0, std::nullopt});
    m.Epochs.push_back({Setup("HHN", 1, 10), T0, std::nullopt});
    m.Epochs.push_back({Setup("HHE", 2, 10), T0, std::nullopt});
    TChannelSetup supply = Setup("VEI", -1, 1);
    supply.Soh = TSohKind::Supply;
    supply.SampleRate = 1;
    m.Epochs.push_back({supply, T0, std::nullopt});
    return m;
}

std::string Iso(int64_t seconds) {
    std::string text = XmlTime(seconds);
    text.pop_back();
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

size_t Fields(const std::string& line) {
    return size_t(std::count(line.begin(), line.end(), '|')) + 1;
}

class StationServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("station_service_test_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        const std::string archive = (dir_ / "archive").string();
        fs::create_directories(archive);
        ASSERT_TRUE(SaveMetadata(MetadataPath(archive, "XX", "ST1", "00"), Metadata()));
        TStationMetadata idle;
        idle.Network = "XX";
        idle.Station = "ST2";
        idle.Location = "00";
        ASSERT_TRUE(SaveMetadata(MetadataPath(archive, "XX", "ST2", "00"), idle));
        source_.Archive = archive;
        source_.Network = "XX";
        source_.Location = "00";
        source_.SiteName = "Test Hill";
        source_.Configured = TPosition{46.5, 7.25, 1200};
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static inline fs::path dir_;
    static inline TStationSource source_;
};

}  // namespace

TEST_F(StationServiceTest, QueriesSelectPruneAndFormatAsAsked) {
    struct TRow {
        std::string Query;
        int Status;
        // XML: Station, Channel and Response elements; text: the header's first field, the
        // fields of a line and the lines below the header.
        size_t Stations = 0, Channels = 0, Responses = 0;
        std::string Header = "";
        size_t FieldCount = 0, TextLines = 0;
        std::string InFault = "";
    };
    const std::string t0 = Iso(T0);
    const TRow rows[] = {
        {"", 200, 1, 0, 0},  // level=station; ST2 has no channel, so nothing selects it
        {"level=network", 200, 0, 0, 0},
        {"level=channel", 200, 1, 5, 0},
        {"level=response&cha=HHZ", 200, 1, 2, 2},
        {"level=channel&net=X?&sta=S*&loc=00&cha=HH?&starttime=" + t0, 200, 1, 3, 0},
        {"level=channel&endbefore=" + Iso(T0 + 1), 200, 1, 1, 0},
        {"level=channel&endafter=" + Iso(T0 + 1), 200, 1, 4, 0},
        {"level=channel&startbefore=" + t0, 200, 1, 1, 0},
        {"level=channel&startafter=" + Iso(Before) + "&endtime=" + t0, 204},
        {"level=channel&cha=VEI,HHE&includerestricted=false&matchtimeseries=false", 200, 1, 2, 0},
        {"level=channel&loc=--", 204},
        {"sta=NOPE&nodata=404", 404},
        {"endtime=" + Iso(Before), 204},
        {"format=text", 200, 0, 0, 0, "#Network", 8, 1},
        {"level=network&format=text", 200, 0, 0, 0, "#Network", 5, 1},
        {"level=channel&format=text&cha=HH?", 200, 0, 0, 0, "#Network", 17, 4},
        {"level=response&format=text", 400, 0, 0, 0, "", 0, 0, "format=text"},
        {"minlatitude=10", 400, 0, 0, 0, "", 0, 0, "minlatitude"},
        {"latitude=1&longitude=2&maxradius=1", 400, 0, 0, 0, "", 0, 0, "latitude"},
        {"level=bogus", 400, 0, 0, 0, "", 0, 0, "level"},
        {"format=json", 400, 0, 0, 0, "", 0, 0, "format"},
        {"includeavailability=true", 400, 0, 0, 0, "", 0, 0, "includeavailability"},
        {"quality=B", 400, 0, 0, 0, "", 0, 0, "quality"},
        {"level=station&level=channel", 400, 0, 0, 0, "", 0, 0, "more than once"},
        {"startafter=yesterday", 400, 0, 0, 0, "", 0, 0, "startafter"},
        {"cha=HH%5A&sta=ST1&starttime=2026-12-02&endtime=2026-12-01", 400, 0, 0, 0, "", 0, 0,
         "endtime"},
        {"nodata=500", 400, 0, 0, 0, "", 0, 0, "nodata"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Query);
        const TFdsnParsed<TStationQuery> parsed = ParseStationGet(row.Query);
        if (row.Status == 400) {
            ASSERT_FALSE(parsed.Value);
            EXPECT_EQ(parsed.Fault.Status, 400);
            EXPECT_NE(parsed.Fault.Text.find(row.InFault), std::string::npos) << parsed.Fault.Text;
            continue;
        }
        ASSERT_TRUE(parsed.Value) << parsed.Fault.Text;
        const TStationAnswer answer = AnswerStationQuery(source_, "test", *parsed.Value, T0);
        if (row.Status != 200) {
            EXPECT_EQ(answer.Status, row.Status);
            EXPECT_TRUE(answer.Body.empty());
            continue;
        }
        ASSERT_EQ(answer.Status, 200);
        if (!row.Header.empty()) {
            EXPECT_EQ(answer.Type.rfind("text/plain", 0), 0u);
            const std::vector<std::string> lines = Lines(answer.Body);
            ASSERT_EQ(lines.size(), row.TextLines + 1);
            EXPECT_EQ(lines[0].rfind(row.Header, 0), 0u);
            for (const std::string& line : lines) {
                EXPECT_EQ(Fields(line), row.FieldCount) << line;
            }
            continue;
        }
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(answer.Body.c_str()));
        const pugi::xml_node network = doc.child("FDSNStationXML").child("Network");
        ASSERT_STREQ(network.attribute("code").value(), "XX");
        EXPECT_EQ(doc.select_nodes("//Station").size(), row.Stations);
        EXPECT_EQ(doc.select_nodes("//Channel").size(), row.Channels);
        EXPECT_EQ(doc.select_nodes("//Response").size(), row.Responses);
    }
}

TEST_F(StationServiceTest, TextFieldsCarryTheStationsValues) {
    const TFdsnParsed<TStationQuery> station = ParseStationGet("format=text");
    ASSERT_TRUE(station.Value);
    const std::vector<std::string> lines =
        Lines(AnswerStationQuery(source_, "t", *station.Value, T0).Body);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "XX|ST1|46.5|7.25|1200|Test Hill|" + Iso(Before) + "|");

    const TFdsnParsed<TStationQuery> channel = ParseStationGet("format=text&level=channel&cha=HHE");
    ASSERT_TRUE(channel.Value);
    const std::vector<std::string> channels =
        Lines(AnswerStationQuery(source_, "t", *channel.Value, T0).Body);
    ASSERT_EQ(channels.size(), 2u);
    // The sensor's '|' may not split the line; scale is 1500 V/(m/s) x 10^7 counts/V.
    EXPECT_EQ(channels[1],
              "XX|ST1|00|HHE|46.5|7.25|1200|0|90|0|Broadband   120 s|1.5e+10|1|"
              "M/S|100|" +
                  Iso(T0) + "|");
}

TEST_F(StationServiceTest, UnselectedResponseIsTheStationXmlDocument) {
    const TFdsnParsed<TStationQuery> parsed = ParseStationGet("level=response");
    ASSERT_TRUE(parsed.Value);
    std::vector<std::string> notes;
    std::vector<TStationEntry> entries = LoadStationEntries(source_, notes);
    ASSERT_EQ(entries.size(), 2u);
    entries.pop_back();  // ST2 has no channel, so no query selects it
    EXPECT_EQ(AnswerStationQuery(source_, "src", *parsed.Value, T0).Body,
              StationXmlDocument("XX", entries, "src", T0));
}

TEST_F(StationServiceTest, PostTakesParametersAndSelectionLines) {
    const TFdsnParsed<TStationQuery> parsed =
        ParseStationPost("level=channel\nformat=text\nXX ST1 00 HHZ " + Iso(T0) + " *\n");
    ASSERT_TRUE(parsed.Value) << parsed.Fault.Text;
    EXPECT_EQ(Lines(AnswerStationQuery(source_, "t", *parsed.Value, T0).Body).size(), 2u);
    const TFdsnParsed<TStationQuery> bad = ParseStationPost("level=channel\nXX ST1 00\n");
    ASSERT_FALSE(bad.Value);
    EXPECT_NE(bad.Fault.Text.find("line 2"), std::string::npos) << bad.Fault.Text;
}

TEST_F(StationServiceTest, ServedOverHttp) {
    TWebConfig config;
    config.Listen.Host = "127.0.0.1";
    config.Listen.Port = 0;
    config.MaxConnections = 2;
    config.Archive = source_.Archive;
    config.Stations = source_;
    TWebServer server(config);
    ASSERT_TRUE(server.Start());
    const auto fetch = [&](const std::string& path, const std::string& extra = "") {
        const fs::path body = dir_ / "body";
        fs::remove(body);
        const std::string command = "curl -s -o '" + body.string() + "' -w '%{http_code}' " +
                                    extra + " 'http://127.0.0.1:" + std::to_string(server.Port()) +
                                    path + "'";
        FILE* pipe = popen(command.c_str(), "r");
        char code[16] = {};
        const int status =
            pipe != nullptr && std::fgets(code, sizeof code, pipe) != nullptr ? std::atoi(code) : 0;
        if (pipe != nullptr) {
            pclose(pipe);
        }
        std::ifstream in(body);
        return std::make_pair(status, std::string(std::istreambuf_iterator<char>(in), {}));
    };
    const auto [status, body] = fetch("/fdsnws/station/1/query?level=channel&format=text");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(Lines(body).size(), 6u);
    std::ofstream(dir_ / "post.txt") << "level=response\nXX * * HHN * *\n";
    const auto [postStatus, postBody] =
        fetch("/fdsnws/station/1/query", "--data-binary @'" + (dir_ / "post.txt").string() + "'");
    EXPECT_EQ(postStatus, 200);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(postBody.c_str()));
    EXPECT_EQ(doc.select_nodes("//Channel/Response").size(), 1u);
    const auto [badStatus, badBody] = fetch("/fdsnws/station/1/query?maxradius=3");
    EXPECT_EQ(badStatus, 400);
    EXPECT_EQ(badBody.rfind("Error 400", 0), 0u);
    EXPECT_NE(badBody.find("maxradius"), std::string::npos);
    EXPECT_EQ(fetch("/fdsnws/station/1/version").second, StationServiceVersion);
    EXPECT_EQ(fetch("/fdsnws/station/1/query?sta=NONE").first, 204);
    EXPECT_EQ(fetch("/fdsnws/station/1/application.wadl").first, 200);
    server.Stop();
}
