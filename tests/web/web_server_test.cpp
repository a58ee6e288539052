// The station's HTTP server end to end, over loopback with curl as the client: an SDS archive
// written by the station's own writer across midnight is served by dataselect, and libmseed
// reads the answers back sample for sample; the FDSN answers for no data, bad parameters, too
// large requests and long URLs; POST selections; the status API; the address list; and the web
// root's files, which no path trick leaves; the availability service answers the spans the
// writer kept as it wrote, which are those a reading of the archive finds.
#include "web/web_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "recording/sds_writer.h"
#include "support/mseed_read.h"
#include "web/availability.h"
#include "web/dataselect.h"

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

int64_t At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return SeedTimeOf(year, month, day, hour, minute, second)->Seconds;
}

// Two channels of 20 samples/s, sample k of channel c being 1000 c + k, from 23:00 on
// 2026-12-07 to 01:00 on 2026-12-08, with the 10 minutes from 23:30 missing.
const int64_t First = At(2026, 12, 7, 23);
const int64_t Last = At(2026, 12, 8, 1);
const int64_t LostFrom = At(2026, 12, 7, 23, 30);
const int64_t LostTo = At(2026, 12, 7, 23, 40);
constexpr int Rate = 20;

void WriteArchive(const fs::path& root, std::shared_ptr<TArchiveSpans> spans) {
    TSdsSettings settings;
    settings.Root = root.string();
    settings.Spans = std::move(spans);
    settings.Station = "WEB1";
    settings.RecordLength = 512;
    settings.Soh = false;
    TSdsWriter writer(settings);
    std::array<int64_t, 2> next{};
    for (int64_t t = First; t < Last; ++t) {
        TRecordBlock b;
        b.Time = t;
        b.ClockLocked = true;
        b.ChannelCount = 2;
        b.SampleRate = Rate;
        b.BytesPerSample = 3;
        b.SamplesPerBlock = Rate;
        b.SerialNumber = "00012345";
        for (size_t c = 0; c < 2; ++c) {
            for (int j = 0; j < Rate; ++j) {
                b.Samples[c].push_back(int32_t(1000 * int64_t(c) + next[c]++) * 256);
            }
        }
        if (t < LostFrom || t >= LostTo) {
            writer.Take(b);
        }
    }
    writer.Close();
}

struct TAnswer {
    int Status = 0;
    std::string Body;
    std::string Headers;
};

class WebServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("web_server_test_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "root" / "app");
        WriteArchive(dir_ / "archive", written_);
        std::ofstream(dir_ / "root" / "index.html") << "<p>station</p>\n";
        std::ofstream(dir_ / "root" / "app" / "main.js") << "let x = 1;\n";
        std::ofstream(dir_ / "secret.txt") << "secret\n";
        fs::create_symlink(dir_ / "secret.txt", dir_ / "root" / "out.txt");
        fs::create_symlink(dir_, dir_ / "root" / "up");
        fs::create_symlink(dir_ / "root" / "app" / "main.js", dir_ / "root" / "in.js");
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static TWebConfig Config() {
        TWebConfig config;
        config.Listen.Host = "127.0.0.1";
        config.Listen.Port = 0;
        config.MaxConnections = 4;
        config.Archive = (dir_ / "archive").string();
        config.WebRoot = (dir_ / "root").string();
        config.Snapshot = snapshot_;
        config.Spans = written_;
        return config;
    }

    // curl's answer to `url` (below the server), with curl's extra arguments.
    static TAnswer Fetch(int port, const std::string& path, const std::string& extra = "") {
        const fs::path body = dir_ / "body";
        const fs::path headers = dir_ / "headers";
        fs::remove(body);
        const std::string command = "curl -s --path-as-is -o '" + body.string() + "' -D '" +
                                    headers.string() + "' -w '%{http_code}' " + extra +
                                    " 'http://127.0.0.1:" + std::to_string(port) + path + "'";
        FILE* pipe = popen(command.c_str(), "r");
        TAnswer answer;
        char code[16] = {};
        if (pipe != nullptr) {
            answer.Status = std::fgets(code, sizeof code, pipe) != nullptr ? std::atoi(code) : 0;
            pclose(pipe);
        }
        std::ifstream in(body, std::ios::binary);
        answer.Body.assign(std::istreambuf_iterator<char>(in), {});
        std::ifstream h(headers);
        answer.Headers.assign(std::istreambuf_iterator<char>(h), {});
        return answer;
    }

    static TMseedFile Records(const TAnswer& answer) {
        const fs::path file = dir_ / "answer.mseed";
        std::ofstream(file, std::ios::binary) << answer.Body;
        return ReadMseedFile(file.string());
    }

    static inline fs::path dir_;
    static inline std::shared_ptr<TWebSnapshotBox> snapshot_ = std::make_shared<TWebSnapshotBox>();
    // The spans the writer kept as it wrote the archive.
    static inline std::shared_ptr<TArchiveSpans> written_ = std::make_shared<TArchiveSpans>();
};

}  // namespace

TEST_F(WebServerTest, DataSelectAnswersTheArchiveAsFdsnClientsExpect) {
    TWebServer server(Config());
    ASSERT_TRUE(server.Start());
    ASSERT_GT(server.Port(), 0);
    const int port = server.Port();
    const std::string q = "/fdsnws/dataselect/1/query?";

    // Across midnight and the lost stretch: every sample of the window's records, once, in
    // time order per stream, the first record starting at or before the window.
    const TAnswer day =
        Fetch(port, q + "net=XX&sta=WEB1&loc=--&cha=BH?,XYZ&start=2026-12-07T23:20:00"
                        "&end=2026-12-08T00:10:00.5Z");
    ASSERT_EQ(day.Status, 200) << day.Body;
    EXPECT_NE(day.Headers.find("application/vnd.fdsn.mseed"), std::string::npos);
    const TMseedFile read = Records(day);
    ASSERT_TRUE(read.Ok) << read.Error;
    std::map<std::string, std::vector<const TMseedRecord*>> streams;
    for (const TMseedRecord& r : read.Records) {
        streams[r.Channel].push_back(&r);
    }
    ASSERT_EQ(streams.size(), 2u);
    for (const auto& [channel, records] : streams) {
        const int64_t c = channel == "BHZ" ? 0 : 1;  // the first channel is Z, the second N
        const int64_t from = At(2026, 12, 7, 23, 20) * 1000000;
        const int64_t to = At(2026, 12, 8, 0, 10) * 1000000 + 500000;
        EXPECT_LE(records.front()->StartMicroseconds, from) << channel;
        EXPECT_GT(records.front()->StartMicroseconds + records.front()->SampleCount * 50000, from);
        EXPECT_LT(records.back()->StartMicroseconds, to);
        for (size_t k = 1; k < records.size(); ++k) {
            EXPECT_LT(records[k - 1]->StartMicroseconds, records[k]->StartMicroseconds);
        }
        // Each sample carries its index since the start; its time follows from it.
        for (const TMseedRecord* r : records) {
            ASSERT_FALSE(r->Samples.empty());
            const int64_t index = r->Samples.front() - 1000 * c;
            EXPECT_EQ(r->StartMicroseconds, First * 1000000 + index * 1000000 / Rate);
            for (size_t k = 0; k < r->Samples.size(); ++k) {
                EXPECT_EQ(r->Samples[k], 1000 * c + index + int64_t(k));
            }
            const int64_t time = r->StartMicroseconds / 1000000;
            EXPECT_FALSE(time >= LostFrom && time < LostTo) << "a record in the lost stretch";
        }
        // After the lost stretch nothing is missing, across midnight too.
        for (size_t k = 1; k < records.size(); ++k) {
            if (records[k - 1]->StartMicroseconds >= LostTo * 1000000) {
                EXPECT_EQ(records[k]->Samples.front(), records[k - 1]->Samples.back() + 1);
            }
        }
    }

    // The POST form selects the same, and more than one selection of a stream sends a record
    // once.
    const fs::path body = dir_ / "post.txt";
    std::ofstream(body) << "quality=B\nXX WEB1 -- BH? 2026-12-07T23:20:00 2026-12-08T00:10:00.5\n"
                           "XX WEB1 -- BH? 2026-12-07T23:50:00 2026-12-08T00:00:00\n";
    const TAnswer post =
        Fetch(port, "/fdsnws/dataselect/1/query", "--data-binary @" + body.string());
    EXPECT_EQ(post.Status, 200);
    EXPECT_EQ(post.Body, day.Body);
    // An HTTP/1.0 client gets the same without chunks, the end told by the close.
    const TAnswer old = Fetch(port,
                              q + "net=XX&sta=WEB1&loc=--&cha=BH?,XYZ&start=2026-12-07T23:20:00"
                                  "&end=2026-12-08T00:10:00.5Z",
                              "--http1.0");
    EXPECT_EQ(old.Status, 200);
    EXPECT_EQ(old.Body, day.Body);

    // No data: 204 by default, 404 with the error text when asked.
    EXPECT_EQ(Fetch(port, q + "net=YY").Status, 204);
    EXPECT_EQ(Fetch(port, q + "start=2026-12-08T02:00:00&end=2026-12-08T03:00:00").Status, 204);
    EXPECT_EQ(Fetch(port, q + "net=XX&start=2026-12-07T23:31:00&end=2026-12-07T23:39:00").Status,
              204);
    const TAnswer none = Fetch(port, q + "cha=HH?&nodata=404");
    EXPECT_EQ(none.Status, 404);
    EXPECT_EQ(none.Body.rfind("Error 404: Not Found\n", 0), 0u) << none.Body;

    // Bad parameters: 400 naming them, never 500.
    const TAnswer bad = Fetch(port, q + "net=XX&starttime=2026-12-32");
    EXPECT_EQ(bad.Status, 400);
    EXPECT_EQ(bad.Body.rfind("Error 400: Bad Request\n", 0), 0u) << bad.Body;
    EXPECT_NE(bad.Body.find("'starttime'"), std::string::npos) << bad.Body;
    EXPECT_NE(bad.Body.find(DataSelectVersion), std::string::npos) << bad.Body;
    EXPECT_EQ(Fetch(port, "/fdsnws/dataselect/1/query", "--data-binary 'XX WEB1'").Status, 400);

    // A URL too long for a GET.
    EXPECT_EQ(Fetch(port, q + "net=" + std::string(5000, 'X')).Status, 414);

    EXPECT_EQ(Fetch(port, "/fdsnws/dataselect/1/version").Body, DataSelectVersion);
    EXPECT_NE(Fetch(port, "/fdsnws/dataselect/1/application.wadl").Body.find("<application"),
              std::string::npos);
    EXPECT_EQ(Fetch(port, "/fdsnws/event/1/query").Status, 404);
    // Nothing is changed by a request: other methods are refused.
    EXPECT_EQ(Fetch(port, q, "-X DELETE").Status, 405);
    EXPECT_EQ(Fetch(port, "/index.html", "-X PUT --data x").Status, 405);
}

TEST_F(WebServerTest, LargeAnswersAndPostsAreRefusedAndOtherAddressesToo) {
    TWebConfig config = Config();
    config.DataSelectMaxBytes = 20000;  // an hour of one channel is about 60 records of 512
    TWebServer server(config);
    ASSERT_TRUE(server.Start());
    const std::string q = "/fdsnws/dataselect/1/query?";
    EXPECT_EQ(Fetch(server.Port(), q + "cha=BHZ&start=2026-12-08T00:00:00&end=2026-12-08T00:05:00")
                  .Status,
              200);
    const TAnswer large = Fetch(server.Port(), q + "start=2026-12-07&end=2026-12-09");
    EXPECT_EQ(large.Status, 413);
    EXPECT_EQ(large.Body.rfind("Error 413", 0), 0u) << large.Body;
    const fs::path body = dir_ / "large.txt";
    std::ofstream(body) << std::string(2 << 20, '#');
    EXPECT_EQ(Fetch(server.Port(), "/fdsnws/dataselect/1/query", "--data-binary @" + body.string())
                  .Status,
              413);

    TWebConfig closed = Config();
    std::string error;
    closed.Allow = *ParseAddressRanges("10.0.0.0/8", error);
    std::atomic<bool> adopted{false};
    closed.SeedLink = [&adopted](int fd, const std::string&, const std::array<uint8_t, 16>&) {
        adopted = true;
        close(fd);
        return false;
    };
    TWebServer other(closed);
    ASSERT_TRUE(other.Start());
    EXPECT_EQ(Fetch(other.Port(), q + "cha=BHZ").Status, 403);
    EXPECT_EQ(Fetch(other.Port(), "/api/status").Status, 403);
    // A WebSocket upgrade from there is answered 403 too, and never reaches SeedLink.
    EXPECT_EQ(Fetch(other.Port(), "/seedlink",
                    "-H 'Connection: Upgrade' -H 'Upgrade: websocket' -H "
                    "'Sec-WebSocket-Version: 13' -H 'Sec-WebSocket-Key: x3JJHMbDL1EzLkh9GBhXDw=='")
                  .Status,
              403);
    EXPECT_FALSE(adopted);
}

TEST_F(WebServerTest, StatusApiAnswersFromTheStationsSnapshot) {
    TWebServer server(Config());
    ASSERT_TRUE(server.Start());
    snapshot_->Set({});
    EXPECT_EQ(Fetch(server.Port(), "/api/status").Status, 503);
    EXPECT_EQ(Fetch(server.Port(), "/api/health").Status, 503);
    EXPECT_EQ(Fetch(server.Port(), "/api/events").Body, "[]\n");
    snapshot_->Set({"{\"program\":\"x\"}\n", "{\"recent\":[1]}", true, "ok"});
    const TAnswer status = Fetch(server.Port(), "/api/status");
    EXPECT_EQ(status.Status, 200);
    EXPECT_EQ(status.Body, "{\"program\":\"x\"}\n");
    EXPECT_EQ(Fetch(server.Port(), "/api/events").Body, "{\"recent\":[1]}");
    EXPECT_EQ(Fetch(server.Port(), "/api/health").Body, "{\"healthy\":true,\"reason\":\"ok\"}\n");
    snapshot_->Set({"{}", "", false, "not recording: the link is \"searching\""});
    const TAnswer sick = Fetch(server.Port(), "/api/health");
    EXPECT_EQ(sick.Status, 503);
    EXPECT_EQ(sick.Body,
              "{\"healthy\":false,\"reason\":\"not recording: the link is \\\"searching\\\"\"}\n");
    EXPECT_EQ(Fetch(server.Port(), "/api/nothing").Status, 404);
}

TEST_F(WebServerTest, FilesComeOnlyFromTheWebRoot) {
    TWebServer server(Config());
    ASSERT_TRUE(server.Start());
    const std::pair<const char*, int> paths[] = {
        {"/", 200},
        {"/index.html", 200},
        {"/app/main.js", 200},
        {"/in.js", 200},    // a link that stays inside
        {"/out.txt", 404},  // a link leading out
        {"/up/secret.txt", 404},
        {"/../secret.txt", 404},
        {"/%2e%2e/secret.txt", 404},
        {"/%2E%2E/%2e%2e/etc/passwd", 404},
        {"/app/%2e%2e/%2e%2e/secret.txt", 404},
        {"/app/..%2f..%2fsecret.txt", 404},
        {"/%252e%252e/secret.txt", 404},
        {"/nothing.html", 404},
    };
    for (const auto& [path, status] : paths) {
        const TAnswer answer = Fetch(server.Port(), path);
        EXPECT_EQ(answer.Status, status) << path;
        EXPECT_EQ(answer.Body.find("secret"), std::string::npos) << path;
    }
    const TAnswer page = Fetch(server.Port(), "/");
    EXPECT_EQ(page.Body, "<p>station</p>\n");
    EXPECT_NE(page.Headers.find("text/html"), std::string::npos);
}

TEST_F(WebServerTest, AvailabilityAnswersTheSpansTheWriterKept) {
    // What the writer kept is what reading the archive's headers finds: per channel one span
    // before the lost stretch and one after it, across midnight.
    TArchiveSpans read;
    EXPECT_GT(read.AddArchive((dir_ / "archive").string()), 0);
    const auto all = [](const TStreamKey&) { return true; };
    const auto kept = written_->Select(all, INT64_MIN, INT64_MAX);
    const auto found = read.Select(all, INT64_MIN, INT64_MAX);
    ASSERT_EQ(kept.size(), 2u);
    ASSERT_EQ(found.size(), kept.size());
    for (size_t k = 0; k < kept.size(); ++k) {
        EXPECT_EQ(found[k].Key, kept[k].Key);
        EXPECT_EQ(found[k].Spans, kept[k].Spans);
    }

    TWebServer server(Config());
    ASSERT_TRUE(server.Start());
    const int port = server.Port();
    const std::string q = "/fdsnws/availability/1/query?";
    const std::string e = "/fdsnws/availability/1/extent?";
    const std::string channel = kept[0].Key.Channel;

    const TAnswer text = Fetch(port, q + "net=XX&sta=WEB1&loc=--&cha=" + channel);
    EXPECT_EQ(text.Status, 200);
    EXPECT_NE(text.Headers.find("Content-Type: text/plain"), std::string::npos);
    EXPECT_EQ(text.Body,
              "#Network Station Location Channel Quality SampleRate Earliest Latest\n"
              "XX WEB1 -- " +
                  channel +
                  " D 20.0 2026-12-07T23:00:00.000000Z "
                  "2026-12-07T23:30:00.000000Z\n"
                  "XX WEB1 -- " +
                  channel +
                  " D 20.0 2026-12-07T23:40:00.000000Z "
                  "2026-12-08T01:00:00.000000Z\n");

    // JSON, cut to the window, the gap closed by mergegaps only when it is no longer.
    const auto spansOf = [&](const std::string& extra) {
        const TAnswer answer = Fetch(port, q + "format=json&cha=" + channel + extra);
        EXPECT_EQ(answer.Status, 200) << extra;
        const nlohmann::json json = nlohmann::json::parse(answer.Body, nullptr, false);
        EXPECT_FALSE(json.is_discarded()) << answer.Body;
        EXPECT_EQ(json["datasources"].size(), 1u) << answer.Body;
        const nlohmann::json& source = json["datasources"][0];
        EXPECT_EQ(source["network"], "XX");
        EXPECT_EQ(source["location"], "");
        EXPECT_EQ(source["samplerate"], 20.0);
        return source["timespans"];
    };
    EXPECT_EQ(
        spansOf("&start=2026-12-07T23:20:00&end=2026-12-07T23:50:00"),
        nlohmann::json::parse(R"([["2026-12-07T23:20:00.000000Z","2026-12-07T23:30:00.000000Z"],
                                        ["2026-12-07T23:40:00.000000Z","2026-12-07T23:50:00.000000Z"]])"));
    EXPECT_EQ(spansOf("&mergegaps=599.9").size(), 2u);
    EXPECT_EQ(spansOf("&mergegaps=600"),
              nlohmann::json::parse(
                  R"([["2026-12-07T23:00:00.000000Z","2026-12-08T01:00:00.000000Z"]])"));

    // The extent: one row per stream, its spans counted; limit and merge as asked.
    const TAnswer extent = Fetch(port, e + "merge=quality&limit=1");
    EXPECT_EQ(extent.Status, 200);
    EXPECT_EQ(extent.Body.substr(0, extent.Body.find('\n')),
              "#Network Station Location Channel SampleRate Earliest Latest Updated TimeSpans "
              "Restriction");
    EXPECT_NE(extent.Body.find("XX WEB1 -- " + channel +
                               " 20.0 2026-12-07T23:00:00.000000Z 2026-12-08T01:00:00.000000Z "),
              std::string::npos)
        << extent.Body;
    EXPECT_NE(extent.Body.find(" 2 OPEN\n"), std::string::npos) << extent.Body;
    EXPECT_EQ(std::count(extent.Body.begin(), extent.Body.end(), '\n'), 2);
    const TAnswer csv = Fetch(port, e + "format=geocsv&cha=" + channel);
    EXPECT_EQ(csv.Body.rfind("#dataset: GeoCSV 2.0\n#delimiter: |\n", 0), 0u) << csv.Body;
    EXPECT_NE(csv.Body.find("\nXX|WEB1||" + channel + "|D|20.0|"), std::string::npos) << csv.Body;

    // No data, refused parameters, the service's own version and description.
    EXPECT_EQ(Fetch(port, q + "net=YY").Status, 204);
    EXPECT_EQ(Fetch(port, q + "start=2026-12-07T23:31:00&end=2026-12-07T23:39:00").Status, 204);
    EXPECT_EQ(Fetch(port, e + "cha=HHZ&nodata=404").Status, 404);
    const TAnswer bad = Fetch(port, q + "merge=everything");
    EXPECT_EQ(bad.Status, 400);
    EXPECT_EQ(bad.Body.rfind("Error 400: Bad Request\n\nbad value of parameter 'merge'", 0), 0u)
        << bad.Body;
    EXPECT_NE(bad.Body.find("/fdsnws/availability/1/"), std::string::npos);
    EXPECT_NE(bad.Body.find(AvailabilityVersion), std::string::npos);
    EXPECT_EQ(Fetch(port, e + "mergegaps=1").Status, 400);
    EXPECT_EQ(Fetch(port, q, "--data x").Status, 405);
    EXPECT_EQ(Fetch(port, "/fdsnws/availability/1/version").Body, AvailabilityVersion);
    EXPECT_NE(Fetch(port, "/fdsnws/availability/1/application.wadl").Body.find("extent"),
              std::string::npos);
    EXPECT_EQ(Fetch(port, "/fdsnws/availability/1/other").Status, 404);
}
