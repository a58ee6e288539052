// Block time: GPS time plus elapsed blocks, the clock fallback, exact one-second steps and
// the calendar.
#include "monitor/block_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

TGpsInfo Gps(int year, int month, int day, int hour, int minute, int second) {
    TGpsInfo gps;
    gps.Present = 1;
    gps.Year = int16_t(year);
    gps.Month = int16_t(month);
    gps.Day = int16_t(day);
    gps.Hour = int16_t(hour);
    gps.Minute = int16_t(minute);
    gps.Second = int16_t(second);
    return gps;
}

TBlockTime At(int year, int month, int day, int hour, int minute, int second) {
    return *TBlockTime::FromCivil(year, month, day, hour, minute, second);
}

}  // namespace

TEST(BlockTime, GpsTimePlusBlocksSinceTheLastValidFix) {
    const TBlockTime current = At(2020, 1, 1, 0, 0, 0);
    const TBlockTime now = At(2021, 1, 1, 0, 0, 0);
    const TGpsInfo gps = Gps(2024, 2, 28, 23, 59, 58);
    EXPECT_EQ(FormatBlockTime(UpdateBlockTime(current, gps, 105, 100, false, now)),
              "29/02/2024 00:00:03");
    EXPECT_EQ(UpdateBlockTime(current, gps, 105, 100, true, now), At(2024, 2, 29, 0, 0, 3));
    EXPECT_EQ(UpdateBlockTime(current, gps, 2, -1, false, now), At(2024, 2, 29, 0, 0, 1));
    EXPECT_EQ(UpdateBlockTime(current, gps, 95, 100, false, now), At(2024, 2, 28, 23, 59, 53));
    // The difference is signed 32-bit: block 0 after 4294967295 is one block later.
    EXPECT_EQ(UpdateBlockTime(current, gps, 0, -1, false, now), At(2024, 2, 28, 23, 59, 59));
    EXPECT_EQ(UpdateBlockTime(current, gps, 0x80000000u, 0, false, now),
              At(2024, 2, 28, 23, 59, 58) + -2147483648LL);
}

TEST(BlockTime, WithoutUsableGpsTheClockOrOneMoreSecond) {
    const TBlockTime current = At(2020, 12, 31, 23, 59, 59);
    const TBlockTime now = At(2021, 6, 1, 12, 0, 0);
    TGpsInfo absent = Gps(2024, 1, 1, 0, 0, 0);
    absent.Present = 0;
    EXPECT_EQ(UpdateBlockTime(current, absent, 5, 0, false, now), At(2021, 1, 1, 0, 0, 0));
    EXPECT_EQ(UpdateBlockTime(current, absent, 5, 0, true, now), now);
    for (const TGpsInfo& bad :
         {Gps(2024, 0, 1, 0, 0, 0), Gps(2023, 2, 29, 0, 0, 0), Gps(2024, 1, 0, 0, 0, 0),
          Gps(2024, 1, 1, 24, 0, 0), Gps(2024, 1, 1, 0, 60, 0), Gps(2024, 1, 1, 0, 0, 60),
          Gps(0, 1, 1, 0, 0, 0), Gps(2024, 13, 1, 0, 0, 0)}) {
        EXPECT_EQ(UpdateBlockTime(current, bad, 5, 0, false, now), current + 1);
        EXPECT_EQ(UpdateBlockTime(current, bad, 5, 0, true, now), now);
    }
}

TEST(BlockTime, OneSecondPerBlockNeverDrifts) {
    const TBlockTime start = At(2024, 1, 1, 0, 0, 0);
    const TGpsInfo absent;
    TBlockTime time = start;
    const int64_t blocks = 10'000'000;  // about 116 days
    for (int64_t i = 0; i < blocks; ++i) {
        time = UpdateBlockTime(time, absent, 0, 0, false, start);
    }
    EXPECT_EQ(time, start + blocks);
    EXPECT_EQ(FormatBlockTime(time), "25/04/2024 17:46:40");
}

TEST(BlockTime, Calendar) {
    EXPECT_TRUE(IsValidDate(2000, 2, 29));
    EXPECT_FALSE(IsValidDate(1900, 2, 29));
    EXPECT_TRUE(IsValidDate(2024, 2, 29));
    EXPECT_FALSE(IsValidDate(2024, 4, 31));
    EXPECT_TRUE(IsValidDate(1, 1, 1));
    EXPECT_TRUE(IsValidDate(9999, 12, 31));
    EXPECT_FALSE(IsValidDate(10000, 1, 1));
    EXPECT_FALSE(TBlockTime::FromCivil(2024, 2, 30, 0, 0, 0));

    EXPECT_EQ(At(1970, 1, 1, 0, 0, 1).Seconds, 1);
    EXPECT_EQ(At(2000, 3, 1, 0, 0, 0).Seconds, 951868800);
    EXPECT_EQ(FormatBlockTime(At(1, 1, 1, 0, 0, 0)), "01/01/0001 00:00:00");
    EXPECT_EQ(FormatBlockTime(At(1969, 12, 31, 23, 59, 59)), "31/12/1969 23:59:59");
    EXPECT_EQ(FormatBlockTime(At(9999, 12, 31, 23, 59, 59) + 1), "01/01/10000 00:00:00");
    // Every day of four centuries converts back to its own date.
    TBlockTime day = At(1900, 1, 1, 12, 34, 56);
    for (int i = 0; i < 146097; ++i, day = day + 86400) {
        const TCivilTime c = day.Civil();
        ASSERT_EQ(At(int(c.Year), c.Month, c.Day, c.Hour, c.Minute, c.Second), day) << i;
    }
    EXPECT_EQ(day, At(2300, 1, 1, 12, 34, 56));

    const TBlockTime now = TBlockTime::Now();
    EXPECT_TRUE(
        TBlockTime::FromCivil(int(now.Civil().Year), now.Civil().Month, now.Civil().Day, 0, 0, 0));
}

TEST(BlockTime, TheComputersClockIsTakenInUtcWhateverTheZone) {
    const std::string saved = std::getenv("TZ") ? std::getenv("TZ") : "";
    const bool had = std::getenv("TZ") != nullptr;
    for (const char* zone : {"UTC0", "XXX-5:30", "YYY+8"}) {
        setenv("TZ", zone, 1);
        tzset();
        const int64_t before = int64_t(std::time(nullptr));
        const TBlockTime now = TBlockTime::Now();
        const int64_t after = int64_t(std::time(nullptr));
        EXPECT_GE(now.Seconds, before) << zone;
        EXPECT_LE(now.Seconds, after) << zone;
    }
    if (had) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}
