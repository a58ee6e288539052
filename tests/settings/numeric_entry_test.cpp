// The numeric fields' key filter and the DC time constant field's text.
#include <gtest/gtest.h>

#include "settings/numeric_entry.h"

TEST(NumericEntry, FilterNumericKeyTakesWhatANumberCanHold) {
    // Control characters (backspace, Ctrl+V) pass into any field.
    EXPECT_TRUE(FilterNumericKey(U'\b', U"12", false, false));
    EXPECT_TRUE(FilterNumericKey(22, U"", false, false));
    // Digits pass everywhere, anything else that is not allowed is rejected.
    for (char32_t digit = U'0'; digit <= U'9'; ++digit) {
        EXPECT_TRUE(FilterNumericKey(digit, U"3.1", false, true));
        EXPECT_TRUE(FilterNumericKey(digit, U"", false, false));
    }
    for (char32_t key : {U'x', U'X', U' ', U'+', U'e', U',', U'\u00b5', U'/', U':'}) {
        EXPECT_FALSE(FilterNumericKey(key, U"", true, true)) << static_cast<int>(key);
    }
    // A minus only into an empty field, and only where allowed.
    EXPECT_TRUE(FilterNumericKey(U'-', U"", true, false));
    EXPECT_FALSE(FilterNumericKey(U'-', U"1", true, true));
    EXPECT_FALSE(FilterNumericKey(U'-', U"", false, true));
    // One point, where allowed; the point is the user's decimal separator.
    EXPECT_TRUE(FilterNumericKey(U'.', U"0", false, true));
    EXPECT_TRUE(FilterNumericKey(U'.', U"", false, true));
    EXPECT_FALSE(FilterNumericKey(U'.', U"0.5", false, true));
    EXPECT_FALSE(FilterNumericKey(U'.', U"0", false, false));
    EXPECT_TRUE(FilterNumericKey(U',', U"0", false, true, U','));
    EXPECT_FALSE(FilterNumericKey(U',', U"0,5", false, true, U','));
    EXPECT_FALSE(FilterNumericKey(U'.', U"0", false, true, U','));
}

TEST(NumericEntry, DcTimeConstTakesZeroToOneAndRevertsOtherwise) {
    EXPECT_EQ(DcTimeConstFromText("0.5", "."), 0.5);
    EXPECT_EQ(DcTimeConstFromText("0.", "."), 0.0);
    EXPECT_EQ(DcTimeConstFromText("1", "."), 1.0);
    EXPECT_EQ(DcTimeConstFromText("0,003", ","), 0.003);
    EXPECT_EQ(DcTimeConstFromText("1e-05", "."), 1e-05) << "as the shortest form writes it";
    // Text that is not a number counts as 0.
    EXPECT_EQ(DcTimeConstFromText(".", "."), 0.0);
    EXPECT_EQ(DcTimeConstFromText("abc", "."), 0.0);
    EXPECT_EQ(DcTimeConstFromText("0.5", ","), 0.0) << "a point in a decimal-comma locale";
    // Empty, below 0 or above 1: the field shows the value in force again.
    EXPECT_EQ(DcTimeConstFromText("", "."), std::nullopt);
    EXPECT_EQ(DcTimeConstFromText("1.5", "."), std::nullopt);
    EXPECT_EQ(DcTimeConstFromText("1.0000001", "."), std::nullopt);
    EXPECT_EQ(DcTimeConstFromText("-0.1", "."), std::nullopt);
}
