// digitizer-station against digitizer-sim, both as programs: the counter signal across a
// year's end with a rate change, a pulled cable, a power cycle and a SIGHUP, stopped with
// SIGTERM, is in the archive sample for sample at its true time; killed with SIGKILL and started
// again, it loses at most --flush-seconds and leaves no damaged file; and SeedLink clients that
// disconnect, reconnect and outlive a restart of the station get every sample once, in order;
// a client of the peer SeedLink library resuming by sequence number through kills of the
// station gets every record of the ring once, and its FETCH and TIME windows end cleanly.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#ifdef HAVE_LIBSLINK
#include <libslink.h>
#endif

#include "datalink/datalink_test_server.h"
#include "seedfile/seed_time.h"
#include "seedlink/seedlink_client.h"
#include "sim/signals.h"
#include "station/status_file.h"
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

// Where two runs of samples part, for a readable failure.
std::string Difference(const TSamples& got, const TSamples& want) {
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) {
        ++i;
    }
    if (i == got.size() && i == want.size()) {
        return "none";
    }
    const auto at = [](const TSamples& s, size_t k) {
        return k < s.size() ? std::to_string(s[k].first) + "=" + std::to_string(s[k].second)
                            : std::string("(end)");
    };
    return "at sample " + std::to_string(i) + " of " + std::to_string(got.size()) + " archived / " +
           std::to_string(want.size()) + " sent: archived " + at(got, i) + ", sent " + at(want, i);
}

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

TEST_F(StationRun, ASecondStationOnTheSameDeviceOrStatusFileEndsNamingTheFirst) {
    const int64_t start = SeedTimeOf(2024, 12, 31, 23, 58, 0)->Seconds;
    auto sim = StartSim({"--speed", "10"});
    auto first = StartStation({"--baud", "19200"});
    ASSERT_TRUE(WaitForUnitTime(start + 5, 30s)) << first->Errors();
    const std::string pid = std::to_string(first->Pid());
    // The same device: refused at once, naming the station that holds it.
    auto second = StartStation({"--baud", "19200", "--status-file", Path("other.json")});
    EXPECT_EQ(second->Wait(10s), 1);
    EXPECT_NE(second->Errors().find("it is in use by process " + pid + " (digitizer-stati"),
              std::string::npos)
        << second->Errors();
    // Another device but the first one's status file: refused too.
    auto third = std::make_unique<TChild>(std::vector<std::string>{
        DIGITIZER_STATION, Path("no-such-device"), "--config", Path("station.ini"), "--archive",
        Path("archive"), "--status-file", Path("status.json")});
    EXPECT_EQ(third->Wait(10s), 1);
    EXPECT_NE(third->Errors().find("the status file " + Path("status.json") +
                                   " is written by process " + pid),
              std::string::npos)
        << third->Errors();
    first->Signal(SIGTERM);
    ASSERT_EQ(first->Wait(20s), 0) << first->Errors();
    EXPECT_EQ(first->Errors().find("busy"), std::string::npos) << first->Errors();
}

TEST_F(StationRun, ASecondUnitWithTheSameCodesIsRefusedAndNothingOfItIsArchived) {
    std::ofstream(Path("station.ini")) << "[Station]\nStation=ST01\n";
    const int64_t start = SeedTimeOf(2024, 12, 31, 23, 58, 0)->Seconds;
    auto simA = StartSim({"--speed", "10", "--serial", "UNITA001"});
    // The second unit's samples would be of another day, in files of their own.
    auto simB = std::make_unique<TChild>(std::vector<std::string>{
        DIGITIZER_SIM, "--signal", "counter", "--link", Path("devB"), "--start",
        "2025-06-01T00:00:00Z", "--speed", "10", "--serial", "UNITB002"});
    ASSERT_EQ(simB->ReadLines(1, 5s).size(), 1u) << simB->Errors();
    auto first = StartStation({"--baud", "19200"});
    ASSERT_TRUE(WaitForUnitTime(start + 5, 30s)) << first->Errors();
    auto second = std::make_unique<TChild>(std::vector<std::string>{
        DIGITIZER_STATION, Path("devB"), "--config", Path("station.ini"), "--archive",
        Path("archive"), "--status-file", Path("statusB.json"), "--baud", "19200"});
    // The frames carry the last four characters of the serial number.
    const std::string said =
        "refused: XX.ST01. in " + Path("archive") +
        " belongs to unit A001, not to this unit B002: nothing of this unit is recorded";
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (second->Errors().find(said) == std::string::npos &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_NE(second->Errors().find(said), std::string::npos) << second->Errors();
    std::this_thread::sleep_for(11s);  // a status file written after the refusal
    std::string error;
    const auto status = ReadStatusFile(Path("statusB.json"), error);
    ASSERT_TRUE(status) << error;
    EXPECT_EQ(status->LinkState, "refused: the codes are another unit's");
    EXPECT_NE(status->LastError.find("belongs to unit A001"), std::string::npos);
    second->Signal(SIGTERM);
    EXPECT_EQ(second->Wait(20s), 0) << second->Errors();
    first->Signal(SIGTERM);
    ASSERT_EQ(first->Wait(20s), 0) << first->Errors();
    // Only the first unit's samples, every one of them as it sent them.
    const auto archived = Archived();
    ASSERT_TRUE(archived.count("HHZ")) << first->Errors();
    const TSamples& hhz = archived.at("HHZ");
    EXPECT_LT(hhz.back().first, SeedTimeOf(2025, 1, 1, 1, 0, 0)->Seconds * 1000000);
    const auto sent = Sent(hhz.front().first / 1000000, hhz.back().first / 1000000);
    EXPECT_TRUE(hhz == sent.at("HHZ")) << Difference(hhz, sent.at("HHZ"));
    std::ifstream owners(Path("archive/.owners/XX.ST01."));
    std::string owner;
    std::getline(owners, owner);
    EXPECT_EQ(owner, "A001");
}

TEST_F(StationRun, OneUnitKeepsItsStationCodeWithEitherHeaderAndTwoSensorsTheirLocations) {
    // A broadband sensor on channels 1 to 3, an accelerometer on 4 to 6 under location 10; no
    // station code configured. The unit sends the short header (four characters of its serial
    // number), then, after a restart, the enhanced one (all eight).
    std::ofstream(Path("station.ini"))
        << "[Station]\nLocation=00\nChannelCodes=HHZ,HHN,HHE,10.HNZ,10.HNN,10.HNE\n";
    const int64_t start = SeedTimeOf(2024, 12, 31, 23, 58, 0)->Seconds;
    for (const bool enhanced : {false, true}) {
        SCOPED_TRACE(enhanced ? "enhanced header" : "short header");
        const std::string journal = Path(enhanced ? "journal2" : "journal");
        std::vector<std::string> args = {
            DIGITIZER_SIM,
            "--signal",
            "counter",
            "--link",
            Path("dev"),
            "--journal",
            journal,
            "--channels",
            "6",
            "--speed",
            "10",
            "--start",
            enhanced ? "2025-01-01T00:10:00Z" : "2024-12-31T23:58:00Z"};
        if (enhanced) {
            args.push_back("--mde");
        }
        TChild sim(args);
        ASSERT_EQ(sim.ReadLines(1, 5s).size(), 1u) << sim.Errors();
        auto station = StartStation({"--baud", "19200", "--flush-seconds", "5"});
        const int64_t from = enhanced ? start + 720 : start;
        ASSERT_TRUE(::WaitForUnitTime(journal, from + 25, 30s)) << station->Errors();
        station->Signal(SIGTERM);
        ASSERT_EQ(station->Wait(20s), 0) << station->Errors();
        EXPECT_EQ(station->Errors().find("refused"), std::string::npos) << station->Errors();
        sim.Signal(SIGTERM);
        sim.Wait();
    }
    // One station code in every record of both runs; channels 4 to 6 as 10.HN?; every record
    // with blockette 1001, the unit locked throughout.
    std::set<std::string> stations, streams;
    std::set<int> qualities;
    for (const auto& entry : fs::recursive_directory_iterator(Path("archive"))) {
        if (!entry.is_regular_file() || entry.path().string().find("/.") != std::string::npos) {
            continue;
        }
        const TMseedFile file = ReadMseedFile(entry.path().string());
        ASSERT_TRUE(file.Ok) << entry.path() << ": " << file.Error;
        for (const TMseedRecord& r : file.Records) {
            stations.insert(r.Station);
            streams.insert(r.Location + "." + r.Channel);
            qualities.insert(r.TimingQuality);
        }
    }
    EXPECT_EQ(stations, std::set<std::string>{"2345"});
    for (const char* stream : {"00.HHZ", "00.HHE", "10.HNZ", "10.HNN", "10.HNE", "00.LCF"}) {
        EXPECT_TRUE(streams.count(stream)) << stream;
    }
    EXPECT_FALSE(streams.count("00.HH1") || streams.count("10.HHZ"));
    EXPECT_EQ(qualities, std::set<int>{100});
    // Each run recorded: the first in the old year, the second in the new.
    EXPECT_TRUE(fs::exists(Path("archive/2024/XX/2345/HNZ.D/XX.2345.10.HNZ.D.2024.366")));
    EXPECT_TRUE(fs::exists(Path("archive/2025/XX/2345/HNZ.D/XX.2345.10.HNZ.D.2025.001")));
}

TEST_F(StationRun, KilledAndStartedAgainLosesAtMostTheFlushTime) {
    const int64_t start = SeedTimeOf(2024, 12, 31, 23, 58, 0)->Seconds;
    auto sim = StartSim({"--speed", "10"});
    auto station = StartStation({"--flush-seconds", "5", "--baud", "19200"});
    ASSERT_TRUE(WaitForUnitTime(start + 47, 30s)) << station->Errors();
    station->Signal(SIGKILL);
    station->Wait();
    // What the unit had sent when the station died, and what reached the disk.
    const auto frames = TSimJournalRead::Load(Path("journal")).Frames();
    const int64_t lastSent = frames.back().Time;
    const int64_t lastWritten = Span(Archived()).second / 1000000;
    EXPECT_LE(lastSent - lastWritten, 5 + 2) << "lost more than --flush-seconds";

    station = StartStation({"--flush-seconds", "5", "--baud", "19200"});
    ASSERT_TRUE(WaitForUnitTime(lastSent + 30, 30s)) << station->Errors();
    station->Signal(SIGTERM);
    ASSERT_EQ(station->Wait(20s), 0) << station->Errors();
    sim->Signal(SIGTERM);
    sim->Wait();
    // Both runs' records read back whole, and from the first block the restarted station took
    // nothing sent is missing (what the unit sent while no station listened is gone, as with
    // a real unit: how soon the station reads again depends on the machine's load).
    const auto archived = Archived();
    const int64_t end = Span(archived).second / 1000000;
    int64_t resumed = 0;
    for (const auto& sample : archived.at("HHZ")) {
        if (sample.first / 1000000 > lastSent) {
            resumed = sample.first / 1000000;
            break;
        }
    }
    ASSERT_GT(resumed, 0) << "nothing archived after the restart";
    EXPECT_LE(resumed - lastSent, 30) << "the restarted station took its first block late";
    const auto after = Sent(resumed, end);
    TSamples tail;
    for (const auto& sample : archived.at("HHZ")) {
        if (sample.first >= after.at("HHZ").front().first) {
            tail.push_back(sample);
        }
    }
    EXPECT_TRUE(tail == after.at("HHZ")) << Difference(tail, after.at("HHZ"));
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

#ifdef HAVE_LIBSLINK
namespace {

struct TPeerPacket {
    uint64_t Sequence;
    std::string Record;
    bool operator==(const TPeerPacket&) const = default;
};

std::mutex peerLogMutex;
std::string peerLog;
void PeerLog(const char* message) {
    std::lock_guard lock(peerLogMutex);
    peerLog += message;
}

// A connection of the peer library to the station in uni-station mode, the data channels only.
SLCD* PeerConnection(int port, uint64_t sequence = SL_UNSETSEQUENCE) {
    SLCD* connection = sl_initslcd("station_e2e_test", "1");
    sl_set_serveraddress(connection, ("127.0.0.1:" + std::to_string(port)).c_str());
    sl_set_protocol(connection, SLPROTO3X);
    sl_set_reconnectdelay(connection, 1);
    sl_set_allstation_params(connection, "HH?", sequence, nullptr);
    sl_loginit_r(connection, 1, PeerLog, nullptr, PeerLog, nullptr);
    return connection;
}

// Collects packets until the library ends the connection (a window's END) or `limit`.
// False when it had to be stopped.
bool CollectUntilEnd(SLCD* connection, std::vector<TPeerPacket>& packets,
                     std::chrono::seconds limit) {
    std::atomic<bool> ended{false}, stopped{false};
    std::thread watchdog([&] {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!ended && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(20ms);
        }
        if (!ended) {
            stopped = true;
            sl_terminate(connection);
        }
    });
    const SLpacketinfo* info = nullptr;
    char payload[16384];
    while (sl_collect(connection, &info, payload, sizeof payload) == SLPACKET) {
        packets.push_back({info->seqnum, std::string(payload, info->payloadlength)});
    }
    ended = true;
    watchdog.join();
    return !stopped;
}

}  // namespace
#endif

TEST_F(StationRun, APeerClientResumingBySequenceGetsEveryRecordOnceThroughKills) {
#ifndef HAVE_LIBSLINK
    GTEST_SKIP() << "the peer SeedLink client library's source (shared/peers) is not beside "
                    "the project";
#else
    const int64_t start = SeedTimeOf(2024, 12, 31, 23, 58, 0)->Seconds;
    const int port = FreeLoopbackPort();
    const std::vector<std::string> options = {"--baud",
                                              "19200",
                                              "--flush-seconds",
                                              "5",
                                              "--seedlink",
                                              "127.0.0.1:" + std::to_string(port),
                                              "--seedlink-ring-file",
                                              Path("seedlink.ring"),
                                              "--seedlink-flush",
                                              "2"};
    auto sim = StartSim({"--speed", "10"});
    auto station = StartStation(options);
    ASSERT_TRUE(WaitForUnitTime(start + 20, 30s)) << station->Errors();

    // A client that streams and, after each kill, reconnects and resumes from the sequence
    // number after the last it got.
    std::mutex mutex;
    std::vector<TPeerPacket> got;
    const auto count = [&] {
        std::lock_guard lock(mutex);
        return got.size();
    };
    SLCD* streaming = PeerConnection(port);
    std::thread reader([&] {
        const SLpacketinfo* info = nullptr;
        char payload[16384];
        while (sl_collect(streaming, &info, payload, sizeof payload) == SLPACKET) {
            std::lock_guard lock(mutex);
            got.push_back({info->seqnum, std::string(payload, info->payloadlength)});
        }
    });
    const auto waitForMore = [&](size_t than) {
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (count() <= than && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(20ms);
        }
        return count() > than;
    };
    ASSERT_TRUE(waitForMore(0)) << station->Errors() << peerLog;

    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (int kill = 0; kill < 3; ++kill) {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(500, 4000)(random)));
        station->Signal(SIGKILL);
        station->Wait();
        const size_t before = count();
        station = StartStation(options);
        ASSERT_TRUE(waitForMore(before)) << "seed " << seed << "\n" << station->Errors() << peerLog;
    }
    std::this_thread::sleep_for(2s);
    sl_terminate(streaming);
    reader.join();
    sl_freeslcd(streaming);

    std::vector<TPeerPacket> received;
    {
        std::lock_guard lock(mutex);
        received = got;
    }
    ASSERT_GT(received.size(), 10u);
    std::set<std::string> records;
    for (size_t k = 0; k < received.size(); ++k) {
        EXPECT_TRUE(k == 0 || received[k].Sequence > received[k - 1].Sequence)
            << "seed " << seed << ": sequence " << received[k].Sequence << " after "
            << received[k - 1].Sequence;
        EXPECT_TRUE(records.insert(received[k].Record).second)
            << "seed " << seed << ": the record of sequence " << received[k].Sequence
            << " came twice";
    }

    // The ring as it is now, fetched from the first number received: up to the last the
    // streaming client got, the very packets it got, each once. The window ends with END.
    // (The library asks for the number after the one it is given: the last it had.)
    SLCD* fetch = PeerConnection(port, received.front().Sequence - 1);
    sl_set_dialupmode(fetch, 1);
    std::vector<TPeerPacket> fetched;
    peerLog.clear();
    EXPECT_TRUE(CollectUntilEnd(fetch, fetched, 20s)) << "FETCH did not end";
    sl_freeslcd(fetch);
    EXPECT_NE(peerLog.find("End of selected time window or stream"), std::string::npos) << peerLog;
    std::erase_if(fetched,
                  [&](const TPeerPacket& p) { return p.Sequence > received.back().Sequence; });
    EXPECT_TRUE(fetched == received) << "seed " << seed << ": " << fetched.size()
                                     << " packets in the ring, " << received.size() << " received";

    // A TIME window of data long sent ends with END too, with only packets of the window.
    // (The library ends a window on END in its dial-up mode; otherwise it connects again.)
    SLCD* window = PeerConnection(port);
    sl_set_timewindow(window, "2024-12-31T23:58:05", "2024-12-31T23:58:15");
    sl_set_dialupmode(window, 1);
    std::vector<TPeerPacket> inWindow;
    peerLog.clear();
    EXPECT_TRUE(CollectUntilEnd(window, inWindow, 20s))
        << "TIME did not end after " << inWindow.size() << " packets\n"
        << peerLog << station->Errors();
    sl_freeslcd(window);
    EXPECT_NE(peerLog.find("End of selected time window or stream"), std::string::npos) << peerLog;
    EXPECT_FALSE(inWindow.empty()) << peerLog;
    for (const TPeerPacket& packet : inWindow) {
        const auto* record = reinterpret_cast<const uint8_t*>(packet.Record.data());
        const int second = record[26], minute = record[25];
        EXPECT_TRUE(minute == 58 && second < 15) << minute << ":" << second;
    }

    // BYE in the handshake closes at once (the idle timeout is a minute).
    TSeedLinkTestClient bye;
    ASSERT_TRUE(bye.Connect(port, 10s));
    ASSERT_TRUE(bye.Send("HELLO"));
    ASSERT_TRUE(bye.Send("BYE"));
    EXPECT_TRUE(bye.WaitClosed(2s));

    station->Signal(SIGTERM);
    EXPECT_EQ(station->Wait(20s), 0) << station->Errors();
    sim->Signal(SIGTERM);
    sim->Wait();
#endif
}
