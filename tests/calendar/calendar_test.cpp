// The one calendar through both front ends: a year's ends and leap days give the same seconds,
// dates and days of the year, and years beyond the standard library's (+-32767) run on.
#include "calendar/calendar.h"

#include <gtest/gtest.h>

#include <tuple>

#include "monitor/block_time.h"
#include "seedfile/seed_time.h"

TEST(Calendar, YearEndsAndLeapDaysAlikeThroughBothFrontEnds) {
    struct TDay {
        int Year, Month, Day;
        int64_t Seconds;  // at 23:59:59
        int DayOfYear;
    };
    const TDay days[] = {
        {1969, 12, 31, -1, 365},           {1970, 1, 1, 86399, 1},
        {1900, 2, 28, -2203891201, 59},    {1900, 3, 1, -2203804801, 60},
        {2000, 2, 29, 951868799, 60},      {2024, 12, 31, 1735689599, 366},
        {2100, 3, 1, 4107628799, 60},      {1, 1, 1, -62135510401, 1},
        {9999, 12, 31, 253402300799, 365}, {0, 2, 29, -62162035201, 60},
        {-400, 2, 29, -74784816001, 60},   {32768, 1, 1, 971891049599, 1},
        {40000, 2, 29, 1200116044799, 60}, {-40000, 3, 1, -1324440028801, 61},
    };
    for (const TDay& d : days) {
        const std::optional<TSeedTime> seed = SeedTimeOf(d.Year, d.Month, d.Day, 23, 59, 59);
        ASSERT_TRUE(seed) << d.Year;
        EXPECT_EQ(seed->Seconds, d.Seconds) << d.Year;
        EXPECT_EQ(DayOfYear(*seed), d.DayOfYear) << d.Year;
        const TSeedCivil c = CivilOf(*seed);
        EXPECT_EQ(std::tuple(c.Year, c.Month, c.Day, c.Hour),
                  std::tuple(d.Year, d.Month, d.Day, 23));
        const std::optional<TBlockTime> block =
            TBlockTime::FromCivil(d.Year, d.Month, d.Day, 23, 59, 59);
        EXPECT_EQ(block.has_value(), d.Year >= 1 && d.Year <= 9999) << d.Year;
        EXPECT_EQ(block.value_or(TBlockTime{d.Seconds}).Seconds, d.Seconds) << d.Year;
        const TCivilTime civil = TBlockTime{d.Seconds}.Civil();
        EXPECT_EQ(std::tuple(civil.Year, civil.Month, civil.Day, civil.Second),
                  std::tuple(int64_t{d.Year}, d.Month, d.Day, 59));
    }
    EXPECT_FALSE(SeedTimeOf(-100, 2, 29));
    EXPECT_TRUE(SeedTimeOf(-96, 2, 29));
    EXPECT_FALSE(SeedTimeOf(40100, 2, 29));
}
