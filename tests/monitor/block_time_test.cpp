// Block time: the calendar, the computer's clock in UTC and the text the window shows.
#include "monitor/block_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

TBlockTime At(int year, int month, int day, int hour, int minute, int second) {
    return *TBlockTime::FromCivil(year, month, day, hour, minute, second);
}

}  // namespace

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
        // Read with the same clock: time() is the coarse clock, which can lag a second
        // behind at the turn of one.
        const auto seconds = [] {
            return int64_t(std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count());
        };
        const int64_t before = seconds();
        const TBlockTime now = TBlockTime::Now();
        const int64_t after = seconds();
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
