// Raw sample words as microvolts, and voltages as the pages print them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "digitizer/stream_format.h"
#include "monitor/number_format.h"

// prefix followed by the value with three decimals in V, mV, µV or nV. The
// unit is chosen from the unrounded value (inclusive limits of 1000000, 1000
// and 1 µV), so 999.9996 µV prints as "1,000.000 µV".
std::string FormatVoltage(std::string_view prefix, double microvolts,
                          const TNumberSeparators& separators);
