// digitizer-station with --http and --seedlink against the simulator, read over HTTP from
// outside: the health turns 200 once the unit's frames come and the status API holds the
// status file's object; a dataselect answer for the whole run holds exactly the archive's
// samples; a WebSocket client at /seedlink is served the live packets of the same SeedLink
// server; the availability service shows the run as one span; and after SIGTERM nothing
// listens any more.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/child_process.h"
#include "support/mseed_read.h"
#include "support/station_run.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A port nothing listens on now.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// Standard output of `command`, and its exit status.
std::pair<std::string, int> Shell(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while (pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int status = pipe != nullptr ? pclose(pipe) : -1;
    return {out, status};
}

}  // namespace

TEST(StationWeb, TheStationServesItsArchiveStatusAndLiveDataOverHttp) {
    const fs::path dir =
        fs::temp_directory_path() / ("station_web_e2e_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "root");
    std::ofstream(dir / "station.ini") << "[Station]\n";
    std::ofstream(dir / "root" / "index.html") << "page\n";
    const auto path = [&](const char* name) { return (dir / name).string(); };

    TChild sim({DIGITIZER_SIM, "--signal", "counter", "--speed", "10", "--link", path("dev"),
                "--journal", path("journal"), "--start", "2026-12-07T23:59:00Z"});
    ASSERT_EQ(sim.ReadLines(1, 5s).size(), 1u) << sim.Errors();
    const int http = FreePort();
    const int seedlink = FreePort();
    const std::string base = "http://127.0.0.1:" + std::to_string(http);
    TChild station({DIGITIZER_STATION, path("dev"), "--config", path("station.ini"), "--archive",
                    path("archive"), "--status-file", path("status.json"), "--flush-seconds", "1",
                    "--seedlink", "127.0.0.1:" + std::to_string(seedlink), "--seedlink-ring-file",
                    path("ring"), "--http", std::to_string(http), "--http-root", path("root")});

    // Healthy once frames come (the status is rewritten every 10 s).
    std::string health;
    for (int k = 0; k < 300 && health.find("\"healthy\":true") == std::string::npos; ++k) {
        std::this_thread::sleep_for(100ms);
        health = Shell("curl -s " + base + "/api/health").first;
    }
    EXPECT_NE(health.find("\"healthy\":true"), std::string::npos) << health << station.Errors();
    const nlohmann::json status =
        nlohmann::json::parse(Shell("curl -s " + base + "/api/status").first, nullptr, false);
    EXPECT_EQ(status.value("program", ""), "digitizer-station") << status;
    EXPECT_EQ(status.value("link_state", ""), "receiving") << status;
    EXPECT_EQ(Shell("curl -s " + base + "/").first, "page\n");

    // Live packets over WebSocket from the station's SeedLink server.
    const auto [ws, wsStatus] = Shell(
        "node --experimental-websocket --no-warnings " + std::string(TEST_SOURCE_DIR) +
        "/seedlink_ws_client.mjs ws://127.0.0.1:" + std::to_string(http) + "/seedlink HHZ 3 2>&1");
    EXPECT_EQ(wsStatus, 0) << ws;
    // Hello, select, at least the 3 packets asked for (more may be on their way at BYE), closed.
    EXPECT_GE(std::count(ws.begin(), ws.end(), '\n'), 6) << ws;
    EXPECT_NE(ws.find("\"closed\":true"), std::string::npos) << ws;
    EXPECT_NE(ws.find("\"length\":520"), std::string::npos) << ws;
    EXPECT_NE(ws.find("\"channel\":\"HHZ\""), std::string::npos) << ws;

    // Past midnight of the unit's clock: a day boundary in the answer.
    ASSERT_TRUE(WaitForUnitTime(path("journal"), 1796688000 + 20, 30s));
    std::this_thread::sleep_for(1500ms);  // the last second's records flushed
    const auto [code, curlStatus] =
        Shell("curl -s -o " + path("answer.mseed") + " -w '%{http_code}' '" + base +
              "/fdsnws/dataselect/1/query?net=XX&cha=HH?&start=2026-12-07&end=2026-12-09'");
    EXPECT_EQ(code, "200");
    const TMseedFile answer = ReadMseedFile(path("answer.mseed"));
    ASSERT_TRUE(answer.Ok) << answer.Error;
    // The archive as read now, and the answer, sample for sample per channel: the answer was
    // read a moment before, so it may lack the archive's newest records but nothing else.
    const std::map<std::string, TTimedSamples> archived = ArchivedSamples(path("archive"));
    std::map<std::string, TTimedSamples> served;
    for (const TMseedRecord& r : answer.Records) {
        for (size_t k = 0; k < r.Samples.size(); ++k) {
            served[r.Channel].push_back(
                {r.StartMicroseconds + int64_t(k) * 1000000 / int64_t(r.SampleRate), r.Samples[k]});
        }
    }
    ASSERT_EQ(served.size(), 3u);
    for (const auto& [channel, samples] : served) {
        const TTimedSamples& all = archived.at(channel);
        ASSERT_LE(samples.size(), all.size()) << channel;
        EXPECT_GT(samples.size(), 60u * 100) << channel;  // a minute and more at 100 samples/s
        const auto parted = std::mismatch(samples.begin(), samples.end(), all.begin());
        EXPECT_TRUE(parted.first == samples.end())
            << channel << " parts at sample " << (parted.first - samples.begin()) << ": served "
            << parted.first->first << "=" << parted.first->second << ", archived "
            << parted.second->first << "=" << parted.second->second;
    }

    // The availability of a channel, kept as the station wrote: one span, across midnight.
    const nlohmann::json available = nlohmann::json::parse(
        Shell("curl -s '" + base + "/fdsnws/availability/1/query?cha=HHZ&format=json'").first,
        nullptr, false);
    ASSERT_EQ(available["datasources"].size(), 1u) << available;
    const nlohmann::json& spans = available["datasources"][0]["timespans"];
    ASSERT_EQ(spans.size(), 1u) << available;
    EXPECT_LT(spans[0][0].get<std::string>(), "2026-12-08T00:00:00") << available;
    EXPECT_GE(spans[0][1].get<std::string>(), "2026-12-08T00:00:20") << available;

    // The station service answers from the metadata the station keeps in its archive.
    const std::string channels =
        Shell("curl -s '" + base + "/fdsnws/station/1/query?level=channel&format=text&cha=HH?'")
            .first;
    EXPECT_EQ(channels.rfind("#Network|Station|Location|Channel|", 0), 0u) << channels;
    EXPECT_GE(std::count(channels.begin(), channels.end(), '\n'), 4) << channels;
    EXPECT_NE(channels.find("|HHZ|"), std::string::npos) << channels;

    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(20s), 0) << station.Errors();
    EXPECT_EQ(Shell("curl -s -o /dev/null -w '%{http_code}' " + base + "/api/health").first, "000");
    sim.Signal(SIGTERM);
    sim.Wait();
    fs::remove_all(dir);
}
