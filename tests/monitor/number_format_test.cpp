#include "monitor/number_format.h"

#include <gtest/gtest.h>

#include <cfloat>

TEST(NumberFormat, GroupsThousandsWithTheGivenSeparators) {
    const TNumberSeparators comma;
    EXPECT_EQ(FormatNumber(1234567, 0, comma), "1,234,567");
    EXPECT_EQ(FormatNumber(4294967295.0, 0, comma), "4,294,967,295");
    EXPECT_EQ(FormatNumber(-1, 0, comma), "-1");
    EXPECT_EQ(FormatNumber(999, 0, comma), "999");
    EXPECT_EQ(FormatNumber(-1000, 0, comma), "-1,000");
    EXPECT_EQ(FormatNumber(8388.608, 3, comma), "8,388.608");
    EXPECT_EQ(FormatNumber(0.003, 3, comma), "0.003");
    EXPECT_EQ(FormatNumber(1e21, 0, comma), "1,000,000,000,000,000,000,000");
    const TNumberSeparators european{".", ","};
    EXPECT_EQ(FormatNumber(-1234.5678, 3, european), "-1.234,568");
    const TNumberSeparators narrowSpace{"\u202f", ","};
    EXPECT_EQ(FormatNumber(1234567.25, 1, narrowSpace), "1\u202f234\u202f567,3");
}

TEST(NumberFormat, RoundsHalvesAwayFromZeroAndNeverShowsMinusZero) {
    const TNumberSeparators comma;
    EXPECT_EQ(FormatNumber(0.5, 0, comma), "1");
    EXPECT_EQ(FormatNumber(2.5, 0, comma), "3");
    EXPECT_EQ(FormatNumber(1.25, 1, comma), "1.3");
    EXPECT_EQ(FormatNumber(-0.25, 1, comma), "-0.3");
    EXPECT_EQ(FormatNumber(999.9996, 3, comma), "1,000.000");
    EXPECT_EQ(FormatNumber(99999.5, 0, comma), "100,000");
    EXPECT_EQ(FormatNumber(0.1, 0, comma), "0");
    EXPECT_EQ(FormatNumber(100.0 / 3, 0, comma), "33");
    EXPECT_EQ(FormatNumber(-0.0004, 3, comma), "0.000");
    EXPECT_EQ(FormatNumber(-0.0, 1, comma), "0.0");
    EXPECT_EQ(FormatNumber(DBL_MIN, 4, comma), "0.0000");
    EXPECT_EQ(FormatNumber(5e-5, 4, comma), "0.0001");
}
