// The timing quality the records carry in blockette 1001, from the GPS state of a block: the
// rule as one table, and the age of the last fix as a block's header gives it.
#include "recording/record_block.h"

#include <gtest/gtest.h>

#include "support/blocks.h"

TEST(TimingQuality, FromTheLockTheSatellitesAndTheAgeOfTheLastFix) {
    struct TCase {
        bool Locked;
        int32_t Satellites;
        int32_t FixAge;
        int Quality;
        const char* Why;
    };
    const TCase cases[] = {
        {true, 9, 0, 100, "locked, many satellites"},
        {true, 4, 0, 100, "locked, four satellites"},
        {true, 0, 0, 100, "locked, the sentence says nothing of satellites"},
        {true, 3, 0, 90, "locked on three"},
        {true, 2, 0, 80, "locked on fewer"},
        {true, 9, 1, 100, "the fix of the block before"},
        {true, 9, 2, 90, "a fix flag with an older last fix: running on from it"},
        {false, 9, 0, 90, "not locked though the fix is this block's"},
        {false, 0, 59, 90, "first minute after the fix"},
        {false, 0, 60, 89, "one whole minute"},
        {false, 0, 3599, 31, "59 whole minutes"},
        {false, 0, 4800, 10, "80 minutes: the floor"},
        {false, 0, 86400 * 30, 10, "a month: still a clock that was once set"},
        {false, 0, -1, 0, "never a fix"},
        {true, 9, -1, 0, "a time from the GPS but never a fix in the header"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(TimingQuality(c.Locked, c.Satellites, c.FixAge), c.Quality) << c.Why;
    }
}

TEST(TimingQuality, TheAgeOfTheLastFixIsTheBlocksCountedSinceItsBlock) {
    struct TCase {
        uint32_t BlockCount;
        int32_t LastValid;
        bool Gps;  // the block carries a GPS record
        int32_t Age;
    };
    const TCase cases[] = {
        {500, 500, true, 0},
        {500, 380, true, 120},
        {500, -1, true, -1},                // none since the unit started
        {5, int32_t(0xFFFFFFFE), true, 7},  // the count wrapped since the fix
        {500, 380, false, -1},              // no GPS record at all
    };
    for (const TCase& c : cases) {
        TBlockShape shape;
        shape.BlockCount = c.BlockCount;
        const TBlockPtr block = MakeOwnedBlock(shape);
        block->Header->LastValidGpsBlock = c.LastValid;
        if (!c.Gps) {
            block->Gps.reset();
        }
        const TRecordBlock r = MakeRecordBlock(*block, 0, false, 3, 100, 3, 100);
        EXPECT_EQ(r.Soh.GpsFixAge, c.Age) << c.BlockCount << " " << c.LastValid;
    }
}
