// digitizer-station against digitizer-sim, both as programs: the counter signal across a
// year's end with a rate change, a pulled cable, a power cycle and a SIGHUP, stopped with
// SIGTERM, is in the archive sample for sample at its true time; and SeedLink clients that
// disconnect, reconnect and outlive a restart of the station get every sample once, in order.
// The faults (a failing disk, kills, a second unit or station, silences of the line) are
// station_faults_e2e_test's.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "datalink/datalink_test_server.h"
#include "seedfile/seed_time.h"
#include "seedlink/seedlink_client.h"
#include "sim/signals.h"
#include "support/child_process.h"
#include "support/mseed_read.h"
#include "support/sim_journal.h"
#include "support/station_run.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using TSamples = TTimedSamples;

class StationRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("station_e2e_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "station.ini") << "[Station]\n";
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(dir_);
        }
    }

    std::unique_ptr<TChild> StartSim(std::vector<std::string> extra) {
        std::vector<std::string> args = {DIGITIZER_SIM,   "--signal",  "counter",
                                         "--link",        Path("dev"), "--journal",
                                         Path("journal"), "--start",   "2024-12-31T23:58:00Z"};
        args.insert(args.end(), extra.begin(), extra.end());
        auto sim = std::make_unique<TChild>(args);
        EXPECT_EQ(sim->ReadLines(1, 5s).size(), 1u) << sim->Errors();
        return sim;
    }
    std::unique_ptr<TChild> StartStation(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {DIGITIZER_STATION,   Path("dev"),        "--config",
                                         Path("station.ini"), "--archive",        Path("archive"),
                                         "--status-file",     Path("status.json")};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<TChild>(args);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    bool WaitForUnitTime(int64_t time, std::chrono::seconds timeout) {
        return ::WaitForUnitTime(Path("journal"), time, timeout);
    }
    std::map<std::string, TSamples> Archived() { return ArchivedSamples(Path("archive")); }
    std::map<std::string, TSamples> Sent(int64_t from, int64_t to) {
        return SentSamples(Path("journal"), from, to);
    }

    fs::path dir_;
};

// The first and last data sample the archive holds (µs).
std::pair<int64_t, int64_t> Span(const std::map<std::string, TSamples>& archived) {
    int64_t first = INT64_MAX;
    int64_t last = INT64_MIN;
    for (const auto& [code, samples] : archived) {
        if (code[0] != 'L' && !samples.empty()) {
            first = std::min(first, samples.front().first);
            last = std::max(last, samples.back().first);
        }
    }
    return {first, last};
}

}  // namespace

TEST_F(StationRun, AYearsEndWithARateChangeACablePullAndAPowerCycle) {
    const int64_t start = SeedTimeOf(2024, 12, 31, 23, 58, 0)->Seconds;
    auto sim = StartSim({"--speed", "25", "--mde", "--at", "70:rate=50", "--at", "130:reopen",
                         "--at", "200:power-cycle"});
    auto station = StartStation({"--flush-seconds", "10"});
    // SIGHUP on the way: the configuration read again and the files reopened, nothing lost.
    ASSERT_TRUE(WaitForUnitTime(start + 100, 60s)) << station->Errors();
    station->Signal(SIGHUP);
    ASSERT_TRUE(WaitForUnitTime(start + 260, 60s)) << station->Errors();
    station->Signal(SIGTERM);
    ASSERT_EQ(station->Wait(20s), 0) << station->Errors();
    sim->Signal(SIGTERM);
    sim->Wait();

    const auto archived = Archived();
    const auto [first, last] = Span(archived);
    ASSERT_LT(first, last);
    const auto sent = Sent(first / 1000000, last / 1000000);
    ASSERT_TRUE(sent.count("HHZ") && sent.count("BHZ"));
    for (const auto& [code, samples] : sent) {
        const TSamples got = archived.count(code) ? archived.at(code) : TSamples{};
        EXPECT_TRUE(got == samples) << code
                                    << ": every sample sent whole, once, in order, at its "
                                       "time; they part "
                                    << Difference(got, samples);
    }
    for (const char* day : {"2024/XX/2345/HHZ.D/XX.2345..HHZ.D.2024.366",
                            "2025/XX/2345/BHN.D/XX.2345..BHN.D.2025.001",
                            "2025/XX/2345/LK3.D/XX.2345..LK3.D.2025.001"}) {
        EXPECT_TRUE(fs::exists(dir_ / "archive" / day)) << day;
    }
    const std::string errors = station->Errors();
    EXPECT_NE(errors.find("stopped"), std::string::npos) << errors;
    EXPECT_NE(errors.find("configuration read again"), std::string::npos) << errors;
    std::ifstream status(Path("status.json"));
    const std::string text((std::istreambuf_iterator<char>(status)), {});
    EXPECT_NE(text.find("\"link_state\": \"stopped\""), std::string::npos) << text;
}

namespace {

// What SeedLink clients received: the packets' records in a file for libmseed, and their
// sequence numbers in the order they came.
struct TReceived {
    std::vector<uint32_t> Sequences;
    std::string Records;
};

// Reads data packets for `duration` (or until `until` says enough), keeping them.
void ReadFor(TSeedLinkTestClient& client, TReceived& received, std::chrono::milliseconds duration,
             const std::function<bool()>& until = nullptr) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end && !(until && until())) {
        const auto packet = client.ReadPacket(200ms);
        if (!packet) {
            ASSERT_FALSE(client.Garbled());
            continue;
        }
        if (packet->Info) {
            continue;
        }
        received.Sequences.push_back(packet->Sequence);
        received.Records.append(reinterpret_cast<const char*>(packet->Record.data()), 512);
    }
}

}  // namespace

TEST_F(StationRun, SeedLinkClientsGetEverySampleOnceAcrossReconnectsAndARestart) {
    const int64_t start = SeedTimeOf(2024, 12, 31, 23, 58, 0)->Seconds;
    const int port = FreeLoopbackPort();
    // The same records pushed over DataLink meanwhile.
    TDataLinkTestServer ring;
    ASSERT_TRUE(ring.Start());
    const std::vector<std::string> options = {"--baud",
                                              "19200",
                                              "--flush-seconds",
                                              "5",
                                              "--seedlink",
                                              "127.0.0.1:" + std::to_string(port),
                                              "--seedlink-ring-file",
                                              Path("seedlink.ring"),
                                              "--seedlink-flush",
                                              "3",
                                              "--datalink",
                                              "127.0.0.1:" + std::to_string(ring.Port())};
    auto sim = StartSim({"--speed", "10"});
    auto station = StartStation(options);
    ASSERT_TRUE(WaitForUnitTime(start + 20, 30s)) << station->Errors();
    TReceived received;

    // Uni-station: HELLO, the data channels only, DATA without a sequence number: new data,
    // at once, without OK.
    TSeedLinkTestClient uni;
    ASSERT_TRUE(uni.Connect(port, 10s));
    ASSERT_TRUE(uni.Send("HELLO"));
    const auto hello = uni.ReadLine(5s);
    ASSERT_TRUE(hello);
    EXPECT_NE(hello->find(":: SLPROTO:3.1"), std::string::npos) << *hello;
    EXPECT_TRUE(uni.ReadLine(5s));
    ASSERT_TRUE(uni.Send("SELECT HH?.D"));
    EXPECT_EQ(uni.ReadLine(5s), "OK");
    ASSERT_TRUE(uni.Send("DATA"));
    ReadFor(uni, received, 4s);
    ASSERT_FALSE(received.Sequences.empty()) << station->Errors();
    uni.Close();
    std::this_thread::sleep_for(1s);  // data goes on meanwhile

    // Multi-station, from the last sequence number + 1; the station found with CAT.
    TSeedLinkTestClient multi;
    ASSERT_TRUE(multi.Connect(port, 10s));
    ASSERT_TRUE(multi.Send("CAT"));
    // "XX SSSSS description": the station code the unit's serial number gives.
    const std::string listed = multi.ReadLine(5s).value_or("");
    ASSERT_EQ(listed.substr(0, 3), "XX ") << listed;
    const std::string stationCode = listed.substr(3, listed.find(' ', 3) - 3);
    ASSERT_FALSE(stationCode.empty());
    EXPECT_EQ(multi.ReadLine(5s), "END");
    ASSERT_TRUE(multi.Send("STATION " + stationCode + " XX"));
    EXPECT_EQ(multi.ReadLine(5s), "OK");
    ASSERT_TRUE(multi.Send("SELECT HH?"));
    EXPECT_EQ(multi.ReadLine(5s), "OK");
    char resume[16];
    std::snprintf(resume, sizeof resume, "DATA %06X", (received.Sequences.back() + 1) & 0xFFFFFF);
    ASSERT_TRUE(multi.Send(resume));
    EXPECT_EQ(multi.ReadLine(5s), "OK");
    ASSERT_TRUE(multi.Send("END"));
    ReadFor(multi, received, 4s);
    multi.Close();

    // The station stopped and started again on the same ring file: the numbers run on.
    station->Signal(SIGTERM);
    ASSERT_EQ(station->Wait(20s), 0) << station->Errors();
    EXPECT_NE(station->Errors().find("packet ring file " + Path("seedlink.ring") + " created"),
              std::string::npos)
        << station->Errors();
    const int64_t restartedAt = TSimJournalRead::Load(Path("journal")).Frames().back().Time;
    station = StartStation(options);
    ASSERT_TRUE(WaitForUnitTime(restartedAt + 20, 30s)) << station->Errors();
    EXPECT_NE(station->Errors().find("packet ring file " + Path("seedlink.ring") + " opened"),
              std::string::npos)
        << station->Errors();

    TSeedLinkTestClient again;
    ASSERT_TRUE(again.Connect(port, 10s));
    ASSERT_TRUE(again.Send("SELECT HH?"));
    EXPECT_EQ(again.ReadLine(5s), "OK");
    std::snprintf(resume, sizeof resume, "DATA %06X", (received.Sequences.back() + 1) & 0xFFFFFF);
    ASSERT_TRUE(again.Send(resume));
    const size_t beforeRestart = received.Records.size();
    // Until data from well after the restart has come.
    ReadFor(again, received, 30s, [&] {
        if (received.Records.size() == beforeRestart) {
            return false;
        }
        const std::string& last = received.Records;
        const uint8_t* record = reinterpret_cast<const uint8_t*>(last.data() + last.size() - 512);
        const TSeedTime time =
            *SeedTimeOf((record[20] << 8) | record[21], 1, 1, record[24], record[25], record[26]);
        const int64_t seconds = time.Seconds + (((record[22] << 8) | record[23]) - 1) * 86400;
        return seconds > restartedAt + 10;
    });
    again.Close();
    station->Signal(SIGTERM);
    ASSERT_EQ(station->Wait(20s), 0) << station->Errors();
    sim->Signal(SIGTERM);
    sim->Wait();

    // The last status has both: the ring's packets, the records the DataLink server took.
    std::ifstream statusFile(Path("status.json"));
    const std::string status((std::istreambuf_iterator<char>(statusFile)), {});
    EXPECT_NE(status.find("\"seedlink\": {\"listening\":false"), std::string::npos) << status;
    EXPECT_NE(status.find("\"datalink\": {\"server\":\"127.0.0.1:"), std::string::npos) << status;
    EXPECT_EQ(status.find("\"acknowledged\":0,"), std::string::npos) << status;
    // Every record a SeedLink client got was pushed over DataLink too, under its stream ID.
    std::set<std::string> pushed;
    for (const TDataLinkTestServer::TWrite& write : ring.Stored()) {
        pushed.insert(std::string(write.Bytes.begin(), write.Bytes.end()));
        EXPECT_EQ(write.StreamId.substr(0, 3), "XX_") << write.StreamId;
    }
    for (size_t k = 0; k < received.Sequences.size(); ++k) {
        EXPECT_TRUE(pushed.count(received.Records.substr(k * 512, 512)))
            << "packet " << received.Sequences[k] << " was not pushed";
    }

    // Sequence numbers only increase, across both reconnects and the restart.
    for (size_t k = 1; k < received.Sequences.size(); ++k) {
        ASSERT_GT(received.Sequences[k], received.Sequences[k - 1]) << "packet " << k;
    }
    // Every record reads with libmseed: 512 bytes, Steim-1, big-endian.
    std::ofstream(Path("received.mseed"), std::ios::binary) << received.Records;
    const TMseedFile file = ReadMseedFile(Path("received.mseed"));
    ASSERT_TRUE(file.Ok) << file.Error;
    EXPECT_EQ(file.Log, std::vector<std::string>{});
    ASSERT_EQ(file.Records.size(), received.Sequences.size());
    std::map<std::string, TSamples> live;
    for (const TMseedRecord& r : file.Records) {
        EXPECT_EQ(r.RecordLength, 512);
        EXPECT_EQ(r.Encoding, 10);
        EXPECT_EQ(r.ByteOrder, 1);
        EXPECT_EQ(r.Network + "." + r.Station, "XX." + stationCode);
        for (size_t i = 0; i < r.Samples.size(); ++i) {
            live[r.Channel].push_back(
                {r.StartMicroseconds + int64_t(double(i) * 1e6 / r.SampleRate), r.Samples[i]});
        }
    }
    // Per channel, the samples came once and in order, each the counter's value at its time
    // (the counter runs on while the station is down), and they are the archive's samples
    // over the same span, one for one.
    const auto archived = Archived();
    size_t dataChannels = 0;
    for (const auto& entry : archived) {
        dataChannels += entry.first.rfind("HH", 0) == 0 ? 1 : 0;
    }
    ASSERT_EQ(live.size(), dataChannels);
    ASSERT_GE(dataChannels, 3u);
    for (const auto& [code, samples] : live) {
        ASSERT_GT(samples.size(), 1000u) << code;
        const double rate = file.Records.front().SampleRate;
        for (size_t i = 1; i < samples.size(); ++i) {
            const int64_t step = samples[i].first - samples[i - 1].first;
            ASSERT_GT(step, 0) << code << " sample " << i;
            EXPECT_EQ(int64_t(samples[i].second) - samples[i - 1].second,
                      std::llround(double(step) * rate / 1e6))
                << code << " sample " << i;
        }
        TSamples span;
        for (const auto& sample : archived.at(code)) {
            if (sample.first >= samples.front().first && sample.first <= samples.back().first) {
                span.push_back(sample);
            }
        }
        EXPECT_TRUE(span == samples) << code << ": " << Difference(samples, span);
        EXPECT_LT(samples.front().first / 1000000, restartedAt) << code;
        EXPECT_GT(samples.back().first / 1000000, restartedAt + 5) << code;
    }
}
