// Raw words to microvolts, and voltage texts: the unit rows, their inclusive
// limits on both signs, the unrounded choice of unit and the separators.
#include <gtest/gtest.h>

#include "monitor/voltage_format.h"

namespace {

const TNumberSeparators English;

TEST(VoltageFormat, RowsAndLimits) {
    EXPECT_EQ(FormatVoltage("Offset = ", 1000000, English), "Offset = 1.000 V");
    EXPECT_EQ(FormatVoltage("AC = ", -1500, English), "AC = -1.500 mV");
    EXPECT_EQ(FormatVoltage(" ", 0.5, English), " 500.000 nV");
    EXPECT_EQ(FormatVoltage(" ", 0, English), " 0.000 nV");
    EXPECT_EQ(FormatVoltage("\u00b1", 8388608, English), "\u00b18.389 V");

    // The unit comes from the unrounded value: just below a limit stays in the
    // smaller unit and may print as 1,000.000 of it.
    EXPECT_EQ(FormatVoltage(" ", 999.9996, English), " 1,000.000 \u00b5V");
    EXPECT_EQ(FormatVoltage(" ", -999999.9996, English), " -1,000.000 mV");
    EXPECT_EQ(FormatVoltage(" ", 0.9999996, English), " 1,000.000 nV");
    EXPECT_EQ(FormatVoltage(" ", -1000, English), " -1.000 mV");
    EXPECT_EQ(FormatVoltage(" ", -1, English), " -1.000 \u00b5V");
    EXPECT_EQ(FormatVoltage(" ", -0.0001, English), " -0.100 nV");

    const TNumberSeparators german{".", ","};
    EXPECT_EQ(FormatVoltage("", 8388.608, german), "8,389 mV");
    EXPECT_EQ(FormatVoltage("", -1234567, german), "-1,235 V");
    EXPECT_EQ(FormatVoltage("", 999.9996, german), "1.000,000 \u00b5V");
}

TEST(VoltageFormat, SampleToMicrovolts) {
    EXPECT_EQ(SampleToMicrovolts(1000 * 256, 1), 1000.0);
    EXPECT_EQ(SampleToMicrovolts(1000 * 256, 10), 100.0);
    EXPECT_EQ(SampleToMicrovolts(1, 1), 0.00390625);
    EXPECT_EQ(SampleToMicrovolts(INT32_MIN, 1), -8388608.0);
}

}  // namespace
