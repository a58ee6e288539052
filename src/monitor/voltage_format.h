// Raw sample words as microvolts, and voltages as the pages print them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/number_format.h"

// One converter count is one microvolt at gain factor 1; a raw word holds the
// count shifted left by 8 bits: raw x 0.00390625 / gainFactor, in double.
inline double SampleToMicrovolts(int32_t raw, int gainFactor) {
    return raw * 0.00390625 / gainFactor;
}

// prefix followed by the value with three decimals in V, mV, µV or nV. The
// unit is chosen from the unrounded value (inclusive limits of 1000000, 1000
// and 1 µV), so 999.9996 µV prints as "1,000.000 µV".
std::string FormatVoltage(std::string_view prefix, double microvolts,
                          const TNumberSeparators& separators);
