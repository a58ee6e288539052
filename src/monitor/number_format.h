// Numbers as the pages show them: fixed decimals with the user's thousands and
// decimal separators (the "n" conversion: "%.0n" is 1,234,567, "%.3n" 8,388.608).
#pragma once

#include <string>

struct TNumberSeparators {
    std::string Thousands = ",";
    std::string Decimal = ".";
};

// `value` rounded to `decimals` places, its integer digits grouped by three.
// A result that rounds to zero carries no minus sign; NaN and infinities are
// written as "NaN", "INF" and "-INF".
std::string FormatNumber(double value, int decimals, const TNumberSeparators& separators);
