// digitizer-station against digitizer-sim, both as programs: the counter signal across a
// year's end with a rate change, a pulled cable, a power cycle and a SIGHUP, stopped with
// SIGTERM, is in the archive sample for sample at its true time; killed with SIGKILL and started
// again, it loses at most --flush-seconds and leaves no damaged file.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "seedfile/seed_time.h"
#include "sim/signals.h"
#include "support/child_process.h"
#include "support/mseed_read.h"
#include "support/sim_journal.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using TSamples = std::vector<std::pair<int64_t, int32_t>>;  // (time in µs, value)

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

    // Waits until the unit has sent a frame of `time` or later.
    bool WaitForUnitTime(int64_t time, std::chrono::seconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            const auto frames = TSimJournalRead::Load(Path("journal")).Frames();
            if (!frames.empty() && frames.back().Time >= time) {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // Every archived sample per channel code, at the time its record gives it; every file
    // read without a word from libmseed, each record in the file of its own day, and none
    // across midnight.
    std::map<std::string, TSamples> Archived() {
        std::map<std::string, TSamples> archived;
        for (const auto& entry : fs::recursive_directory_iterator(dir_ / "archive")) {
            if (!entry.is_regular_file()) {
                continue;
            }
            const std::string name = entry.path().filename().string();
            const TMseedFile file = ReadMseedFile(entry.path().string());
            EXPECT_TRUE(file.Ok) << name << ": " << file.Error;
            EXPECT_EQ(file.Log, std::vector<std::string>{}) << name;
            for (const TMseedRecord& r : file.Records) {
                const int64_t first = r.StartMicroseconds;
                const int64_t last =
                    first + int64_t(double(r.SampleCount - 1) * 1e6 / r.SampleRate);
                const TSeedCivil day = CivilOf({first / 1000000, 0});
                char suffix[16];
                std::snprintf(suffix, sizeof suffix, ".%04d.%03d", day.Year,
                              DayOfYear(day.Year, day.Month, day.Day));
                EXPECT_TRUE(name.ends_with(suffix)) << name << " holds a record of " << suffix;
                EXPECT_EQ(first / 86400000000, last / 86400000000) << name;
                for (size_t i = 0; i < r.Samples.size(); ++i) {
                    archived[r.Channel].push_back(
                        {first + int64_t(double(i) * 1e6 / r.SampleRate), r.Samples[i]});
                }
            }
        }
        for (auto& [code, samples] : archived) {
            std::sort(samples.begin(), samples.end());
        }
        return archived;
    }

    // What the journal says the unit sent whole, per channel code, from the frame of
    // `from` up to the frame of `to`.
    std::map<std::string, TSamples> Sent(int64_t from, int64_t to) {
        std::map<std::string, TSamples> sent;
        for (const auto& f : TSimJournalRead::Load(Path("journal")).Frames()) {
            if (!f.Intact || f.Time < from || f.Time > to) {
                continue;
            }
            const char band = f.Rate >= 80 ? 'H' : f.Rate >= 10 ? 'B' : 'M';
            for (int c = 0; c < f.Channels; ++c) {
                const std::string code = std::string(1, band) + "H" + "ZNE123"[c];
                for (int j = 0; j < f.Samples; ++j) {
                    const int64_t t = f.Time * 1000000 + int64_t(double(j) * 1e6 / f.Rate);
                    sent[code].push_back(
                        {t, CounterValue(c, f.First[size_t(c)] + uint64_t(j), f.Bytes)});
                }
            }
        }
        return sent;
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
    for (const char* day : {"2024/XX/12345/HHZ.D/XX.12345..HHZ.D.2024.366",
                            "2025/XX/12345/BHN.D/XX.12345..BHN.D.2025.001",
                            "2025/XX/12345/LK3.D/XX.12345..LK3.D.2025.001"}) {
        EXPECT_TRUE(fs::exists(dir_ / "archive" / day)) << day;
    }
    const std::string errors = station->Errors();
    EXPECT_NE(errors.find("stopped"), std::string::npos) << errors;
    EXPECT_NE(errors.find("configuration read again"), std::string::npos) << errors;
    std::ifstream status(Path("status.json"));
    const std::string text((std::istreambuf_iterator<char>(status)), {});
    EXPECT_NE(text.find("\"link_state\": \"stopped\""), std::string::npos) << text;
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
    // Both runs' records read back whole, and after the restart nothing sent is missing.
    const auto archived = Archived();
    const int64_t end = Span(archived).second / 1000000;
    const auto after = Sent(lastSent + 3, end);
    TSamples tail;
    for (const auto& sample : archived.at("HHZ")) {
        if (sample.first >= after.at("HHZ").front().first) {
            tail.push_back(sample);
        }
    }
    EXPECT_TRUE(tail == after.at("HHZ")) << Difference(tail, after.at("HHZ"));
}
