// The station's counting of what the line brought, block by block: the blocks the unit counted
// and never sent, its count starting again, and changes of the stream's format. The same on the
// real line, with silences, is a row of station_faults_e2e_test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "station/station.h"
#include "station/status_file.h"
#include "support/blocks.h"

namespace fs = std::filesystem;

namespace {

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
