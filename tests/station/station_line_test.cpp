// digitizer-station against digitizer-sim, both as programs, at a fixed line rate: silences of
// the line and a rate change. The frames before and after each silence are kept
// (every block the unit counted and never sent is counted as damaged, and nothing more), and
// the status counts the power cycles and format changes. The unit sends two frames a second,
// so its seconds (--at, silence=N) pass at twice the wall's pace.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "station/station.h"
#include "station/status_file.h"
#include "support/blocks.h"
#include "support/child_process.h"
#include "support/sim_journal.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct TLineCase {
    const char* Name;
    std::vector<std::string> Actions;  // --at arguments
    int Seconds;                       // the unit's run, in its seconds
    int64_t Lost;                      // blocks counted and never received
    int64_t Gaps;
    int64_t PowerCycles;
    int64_t FormatChanges;
    std::string LostLine;  // in the station's log: the block after a silence came
};

void PrintTo(const TLineCase& c, std::ostream* os) {
    *os << c.Name;
}

class StationLine : public ::testing::TestWithParam<TLineCase> {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("station_line_" + std::to_string(getpid()) + "_" + GetParam().Name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "station.ini") << "[Station]\n";
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(dir_);
        }
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_P(StationLine, CountsEveryMissingBlockAndKeepsTheRest) {
    const TLineCase& c = GetParam();
    // The station waits for the device; the unit comes a moment later, so the station
    // hears it from its first frame on.
    TChild station({DIGITIZER_STATION, Path("dev"), "--config", Path("station.ini"), "--archive",
                    Path("archive"), "--status-file", Path("status.json"), "--baud", "38400"});
    std::vector<std::string> args = {DIGITIZER_SIM,
                                     "--signal",
                                     "counter",
                                     "--link",
                                     Path("dev"),
                                     "--baud",
                                     "38400",
                                     "--speed",
                                     "2",
                                     "--seconds",
                                     std::to_string(c.Seconds / 2),
                                     "--journal",
                                     Path("journal")};
    for (const std::string& action : c.Actions) {
        args.insert(args.end(), {"--at", action});
    }
    TChild sim(args);
    ASSERT_EQ(sim.Wait(std::chrono::seconds(c.Seconds / 2 + 10)), 0) << sim.Errors();
    std::this_thread::sleep_for(2s);  // the last frame, decoded as the device hangs up
    station.Signal(SIGTERM);
    ASSERT_EQ(station.Wait(), 0) << station.Errors();

    std::string error;
    const std::optional<TStationStatus> status = ReadStatusFile(Path("status.json"), error);
    ASSERT_TRUE(status) << error;
    const auto frames = TSimJournalRead::Load(Path("journal")).Frames();
    ASSERT_FALSE(frames.empty());
    const std::string log = station.Errors();
    EXPECT_EQ(status->DamagedFrames, c.Lost) << log;
    EXPECT_EQ(status->Gaps, c.Gaps) << log;
    EXPECT_EQ(status->PowerCycles, c.PowerCycles) << log;
    EXPECT_EQ(status->FormatChanges, c.FormatChanges) << log;
    if (!c.LostLine.empty()) {
        EXPECT_NE(log.find(c.LostLine), std::string::npos) << log;
    }
    // Every frame the unit sent whole was received, bar those sent before the station's first
    // tick after the device appeared.
    int64_t intact = 0;
    for (const auto& frame : frames) {
        intact += frame.Intact ? 1 : 0;
    }
    EXPECT_GE(status->BlocksReceived, intact - 3) << log;
    EXPECT_LE(status->BlocksReceived, intact) << log;
}

// The unit's second T has the block count T + 1: silence=N at T leaves out the blocks T + 1
// to T + N, and the first after it is T + N + 1.
INSTANTIATE_TEST_SUITE_P(
    Cases, StationLine,
    ::testing::Values(
        TLineCase{"Silence2s", {"10:silence=2"}, 24, 2, 1, 0, 0, "2 blocks lost before block 13"},
        // Long enough for the watchdog to restart the link several times.
        TLineCase{
            "Silence10s", {"10:silence=10"}, 32, 10, 1, 0, 0, "10 blocks lost before block 21"},
        TLineCase{
            "Silence30sLong", {"10:silence=30"}, 52, 30, 1, 0, 0, "30 blocks lost before block 41"},
        // A new sample rate is one format change; no block is lost to it.
        TLineCase{
            "RateChange", {"14:rate=50"}, 30, 0, 0, 0, 1, "stream format now 3 channels, 50 sps"}),
    [](const auto& info) { return std::string(info.param.Name); });

// The station's own counting, block by block: lost blocks by the unit's count, the count
// starting again (a power cycle), format changes (rate, channels, line rate).
struct TCountStep {
    uint32_t Count;
    int Rate = 100;
    int Channels = 1;
    uint32_t Baud = 38400;
};

struct TCountCase {
    const char* Name;
    std::vector<TCountStep> Steps;
    int64_t Lost, Gaps, PowerCycles, FormatChanges;
};

void PrintTo(const TCountCase& c, std::ostream* os) {
    *os << c.Name;
}

class StationCounts : public ::testing::TestWithParam<TCountCase> {};

TEST_P(StationCounts, CountsWhatTheBlocksSay) {
    const TCountCase& c = GetParam();
    const fs::path dir =
        fs::temp_directory_path() / ("station_counts_" + std::to_string(getpid()) + c.Name);
    fs::remove_all(dir);
    TStationConfig config;
    config.Device = "/dev/null";
    config.Archive = (dir / "archive").string();
    config.StatusFile = (dir / "status.json").string();
    config.Station = "TEST";
    config.Soh = false;
    int64_t computer = 1700000000;
    std::vector<std::string> log;
    {
        TStation station(
            config, [&](const std::string& line) { log.push_back(line); },
            [&] { return computer; });
        for (const TCountStep& step : c.Steps) {
            ++computer;
            TBlockShape shape{.Channels = step.Channels, .Rate = step.Rate};
            shape.BlockCount = step.Count;
            const TBlockPtr block = MakeOwnedBlock(shape);
            station.TakeBlock(*block, step.Baud);
        }
        const TStationStatus status = station.Status();
        std::string all;
        for (const std::string& line : log) {
            all += line + "\n";
        }
        EXPECT_EQ(status.DamagedFrames, c.Lost) << all;
        EXPECT_EQ(status.Gaps, c.Gaps) << all;
        EXPECT_EQ(status.PowerCycles, c.PowerCycles) << all;
        EXPECT_EQ(status.FormatChanges, c.FormatChanges) << all;
        station.Stop();
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StationCounts,
    ::testing::Values(TCountCase{"Steady", {{5}, {6}, {7}}, 0, 0, 0, 0},
                      // An unplug that cost eleven frames counts eleven.
                      TCountCase{"ElevenLost", {{5}, {6}, {18}, {19}}, 11, 1, 0, 0},
                      // Timed by the computer's clock, which runs on a second a block: no gap.
                      TCountCase{"CountsAgainFromOne", {{5}, {6}, {1}, {2}}, 0, 0, 1, 0},
                      TCountCase{"CountStandsStill", {{5}, {6}, {6}, {7}}, 0, 0, 1, 0},
                      TCountCase{"RateChannelsAndLineRate",
                                 {{5}, {6, 50}, {7, 50, 2}, {8, 50, 2, 19200}, {9, 50, 2, 19200}},
                                 0,
                                 0,
                                 0,
                                 3}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
