// The station's block times: from GPS when the block has it, else running on by the unit's
// block count, and from the computer's clock only where the data does not follow.
#include "station/block_clock.h"

#include <gtest/gtest.h>

TEST(BlockClock, GpsThenTheBlockCountThenTheComputersClock) {
    int64_t computer = 5000;
    TBlockClock clock([&] { return computer; });
    struct TStep {
        uint32_t BlockCount;
        bool Gps;          // 2024-02-29 12:00:00 at block 100
        int64_t Computer;  // the computer's clock, which may step
        int64_t Time;      // expected
        bool Locked;
        const char* Why;
    };
    const int64_t fix = 1709208000;  // 2024-02-29 12:00:00 UTC
    const TStep steps[] = {
        {7, false, 5000, 5000, false, "the first block without GPS: the computer's clock"},
        {8, false, 9999, 5001, false,
         "the data runs on: a step of the computer's clock is not seen"},
        {12, false, 9999, 5005, false, "three frames lost: a gap of three seconds"},
        {100, true, 9999, fix, true, "GPS"},
        {103, true, 1, fix + 3, true, "GPS plus the blocks since its time"},
        {104, false, 1, fix + 4, false, "GPS gone: running on"},
        {0, false, 7000, 7000, false, "the unit counts from 0 again: the computer's clock"},
        {1, false, 7000, 7001, false, "and runs on from there"},
    };
    for (const TStep& step : steps) {
        computer = step.Computer;
        TBlockHeader header;
        header.BlockCount = step.BlockCount;
        header.LastValidGpsBlock = 100;
        TGpsInfo gps;
        if (step.Gps) {
            gps.Present = 1;
            gps.FixValid = 1;
            gps.Year = 2024;
            gps.Month = 2;
            gps.Day = 29;
            gps.Hour = 12;
        }
        const TBlockTiming timing = clock.Next(header, gps);
        EXPECT_EQ(timing.Time, step.Time) << step.Why;
        EXPECT_EQ(timing.Locked, step.Locked) << step.Why;
    }
}
