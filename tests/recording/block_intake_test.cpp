// One sequence of blocks (frames lost, GPS coming and going, the computer's clock stepping, a
// format change, a unit counting from 0 again, a long silence, another unit) through the
// intake, the window's model and the station: every block gets the same time in both programs,
// and what each recorded, read back, has every sample at its true time.
#include "recording/block_intake.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "monitor/monitor_model.h"
#include "station/station.h"
#include "support/blocks.h"
#include "support/mseed_read.h"

namespace fs = std::filesystem;

namespace {

enum class TGps { None, Fix, NoFix, NoDate };  // NoDate: a fix reported with month 0

void SetGps(TDataBlock& block, TGps form, int64_t time, int32_t lastValidBlock) {
    if (form == TGps::None) {
        return;
    }
    const TCivilTime civil = CivilTimeOf(time);
    TGpsInfo& gps = *block.Gps;
    gps.Present = 1;
    gps.FixValid = form == TGps::Fix ? 1 : 0;
    gps.Year = int16_t(civil.Year);
    gps.Month = int16_t(civil.Month);
    gps.Day = int16_t(civil.Day);
    gps.Hour = int16_t(civil.Hour);
    gps.Minute = int16_t(civil.Minute);
    gps.Second = int16_t(civil.Second);
    if (form == TGps::NoDate) {
        gps.Month = 0;
    }
    block.Header->LastValidGpsBlock = lastValidBlock;
}

// The time in microseconds of every data sample recorded under `dir`, by its value.
std::map<int32_t, int64_t> SampleTimes(const fs::path& dir) {
    std::map<int32_t, int64_t> times;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        // .owners/ holds the station's owners files and metadata/ its metadata, not records.
        const std::string folder = entry.path().parent_path().filename().string();
        if (!entry.is_regular_file() || folder.starts_with(".") || folder == "metadata") {
            continue;
        }
        const TMseedFile file = ReadMseedFile(entry.path().string());
        EXPECT_TRUE(file.Ok) << entry.path() << ": " << file.Error;
        for (const TMseedRecord& record : file.Records) {
            for (size_t k = 0; k < record.Samples.size(); ++k) {
                const int64_t at =
                    record.StartMicroseconds + std::llround(double(k) * 1e6 / record.SampleRate);
                EXPECT_TRUE(times.emplace(record.Samples[k], at).second)
                    << "sample " << record.Samples[k] << " recorded twice";
            }
        }
    }
    return times;
}

}  // namespace

TEST(BlockIntake, BothProgramsTimeEveryBlockAlikeAndRecordItAtItsTrueTime) {
    const int64_t c0 = *SecondsOf(2026, 12, 7, 10, 0, 0);  // the computer's clock at the start
    const int64_t g = c0 + 7200;                           // GPS time at block 131
    const int64_t c1 = c0 + 10800;                         // after the power cycle
    const int64_t c2 = c1 + 200000;                        // after the long silence
    const int64_t c3 = c2 + 5000;                          // another unit
    struct TStep {
        uint32_t Count;
        int64_t Computer;
        TGps Gps = TGps::None;
        int64_t GpsTime = 0;  // that of block LastValid
        int32_t LastValid = -1;
        int Rate = 10;
        const char* Serial = "00012345";
        // Expected.
        int64_t Time = 0;
        bool Locked = false;
        bool Gap = false;
        uint32_t Lost = 0;
        bool FormatChanged = false;
        const char* Why = "";
    };
    const TStep steps[] = {
        {.Count = 100,
         .Computer = c0,
         .Time = c0,
         .FormatChanged = true,
         .Why = "the first block: the computer's clock"},
        {.Count = 101,
         .Computer = c0 + 500,
         .Time = c0 + 1,
         .Why = "the count runs on: a step of the computer's clock is not seen"},
        {.Count = 103,
         .Computer = c0 - 7200,
         .Time = c0 + 3,
         .Gap = true,
         .Lost = 1,
         .Why = "block 102 lost, the clock stepped back: a gap of one second"},
        {.Count = 104, .Computer = c0, .Time = c0 + 4},
        {.Count = 130,
         .Computer = c0,
         .Time = c0 + 30,
         .Gap = true,
         .Lost = 25,
         .Why = "25 frames lost: every one counted"},
        {.Count = 131,
         .Computer = c0,
         .Gps = TGps::Fix,
         .GpsTime = g,
         .LastValid = 131,
         .Time = g,
         .Locked = true,
         .Gap = true,
         .Why = "GPS with a fix"},
        {.Count = 132,
         .Computer = c0,
         .Gps = TGps::Fix,
         .GpsTime = g + 1,
         .LastValid = 132,
         .Time = g + 1,
         .Locked = true},
        {.Count = 133,
         .Computer = c0,
         .Gps = TGps::NoFix,
         .GpsTime = g + 1,
         .LastValid = 132,
         .Time = g + 2,
         .Why = "the fix lost: the last fix's time plus the blocks since, unlocked"},
        {.Count = 134,
         .Computer = c0,
         .Gps = TGps::NoDate,
         .GpsTime = g + 3,
         .LastValid = 134,
         .Time = g + 3,
         .Why = "GPS without a calendar date: the count runs on, unlocked"},
        {.Count = 135, .Computer = c0, .Time = g + 4, .Why = "GPS gone: the count runs on"},
        {.Count = 137,
         .Computer = c0,
         .Time = g + 6,
         .Gap = true,
         .Lost = 1,
         .Why = "a frame lost after GPS"},
        {.Count = 138,
         .Computer = c0,
         .Gps = TGps::Fix,
         .GpsTime = g + 7,
         .LastValid = 138,
         .Time = g + 7,
         .Locked = true,
         .Why = "the fix back"},
        {.Count = 139,
         .Computer = c1,
         .Rate = 20,
         .Time = g + 8,
         .FormatChanged = true,
         .Why = "a format change does not restart the clock"},
        {.Count = 140, .Computer = c1, .Rate = 20, .Time = g + 9},
        {.Count = 0,
         .Computer = c1,
         .Rate = 20,
         .Time = c1,
         .Gap = true,
         .Why = "the unit counts from 0 again (a power cycle): the computer's clock"},
        {.Count = 1, .Computer = c1 + 77, .Rate = 20, .Time = c1 + 1},
        {.Count = 1 + TBlockIntake::LongestRunOn + 1,
         .Computer = c2,
         .Rate = 20,
         .Time = c2,
         .Gap = true,
         .Why = "a step beyond the longest run-on: the computer's clock"},
        {.Count = 86403, .Computer = c2, .Rate = 20, .Time = c2 + 1},
        {.Count = 86403 + 3600,
         .Computer = c2,
         .Rate = 20,
         .Time = c2 + 3601,
         .Gap = true,
         .Lost = 3599,
         .Why = "an hour's silence within the run-on"},
        {.Count = 90004,
         .Computer = c3,
         .Rate = 20,
         .Serial = "00099999",
         .Time = c3,
         .Gap = true,
         .Why = "another unit: its count says nothing of the previous one's"},
        {.Count = 90005, .Computer = c3, .Rate = 20, .Serial = "00099999", .Time = c3 + 1},
    };

    const fs::path dir =
        fs::temp_directory_path() / ("block_intake_test_" + std::to_string(getpid()));
    fs::remove_all(dir);
    int64_t computer = c0;
    TBlockIntake intake([&] { return computer; });

    TSettings settings;
    settings.Enable = 1;
    settings.BaseDir = (dir / "window").string();
    settings.DurationMinutes = 60;
    TMonitorModel model(settings, {}, [&] { return TBlockTime{computer}; });

    TStationConfig config;
    config.Device = "/dev/null";
    config.Archive = (dir / "station").string();
    config.StatusFile = (dir / "status.json").string();
    config.Station = "TEST";
    config.Soh = false;
    TStation station(
        config, [](const std::string&) {}, [&] { return computer; });

    int64_t gaps = 0, lost = 0;
    for (size_t i = 0; i < std::size(steps); ++i) {
        const TStep& step = steps[i];
        SCOPED_TRACE(testing::Message() << "block " << i << ": " << step.Why);
        computer = step.Computer;
        TBlockShape shape{.Channels = 1, .Rate = step.Rate, .SerialNumber = step.Serial};
        shape.BlockCount = step.Count;
        shape.Counts = [i](int, int j) { return int32_t(100 * i) + j; };
        const TBlockPtr block = MakeOwnedBlock(shape);
        SetGps(*block, step.Gps, step.GpsTime, step.LastValid);

        const TIntakeBlock taken = intake.Take(*block, 19200);
        EXPECT_EQ(taken.Record.Time, step.Time);
        EXPECT_EQ(taken.Record.ClockLocked, step.Locked);
        EXPECT_EQ(taken.Gap, step.Gap);
        EXPECT_EQ(taken.FramesLost, step.Lost);
        EXPECT_EQ(taken.FormatChanged, step.FormatChanged);
        gaps += step.Gap ? 1 : 0;
        lost += step.Lost;

        const TBlockOutcome outcome = model.ProcessBlock(*block, 19200);
        EXPECT_EQ(model.BlockTime().Seconds, step.Time);
        EXPECT_EQ(outcome.FormatChanged, step.FormatChanged);
        station.TakeBlock(*block, 19200);
    }
    model.FlushDataFiles();
    model.WaitForRecorder();
    station.Stop();
    EXPECT_EQ(station.Status().Gaps, gaps);
    EXPECT_EQ(station.Status().DamagedFrames, lost);

    // Sample j of block i holds 100 i + j, taken at the block's time plus j / rate. The
    // station's archive codes belong to the first unit: the other unit's blocks are not there.
    for (const char* program : {"window", "station"}) {
        SCOPED_TRACE(program);
        const std::map<int32_t, int64_t> times = SampleTimes(dir / program);
        size_t samples = 0;
        for (size_t i = 0; i < std::size(steps); ++i) {
            if (std::string(program) == "station" &&
                std::string(steps[i].Serial) != steps[0].Serial) {
                EXPECT_EQ(times.count(int32_t(100 * i)), 0u) << "block " << i;
                continue;
            }
            for (int j = 0; j < steps[i].Rate; ++j, ++samples) {
                const auto found = times.find(int32_t(100 * i) + j);
                ASSERT_NE(found, times.end()) << "block " << i << " sample " << j;
                EXPECT_EQ(found->second, steps[i].Time * 1000000 + j * 1000000 / steps[i].Rate)
                    << "block " << i << " sample " << j;
            }
        }
        EXPECT_EQ(times.size(), samples);
    }
    fs::remove_all(dir);
}
