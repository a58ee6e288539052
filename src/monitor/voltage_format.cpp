#include "monitor/voltage_format.h"

std::string FormatVoltage(std::string_view prefix, double microvolts,
                          const TNumberSeparators& separators) {
    double value = microvolts * 1000;
    const char* unit = " nV";
    if (microvolts >= 1000000 || microvolts <= -1000000) {
        value = microvolts * 0.000001;
        unit = " V";
    } else if (microvolts >= 1000 || microvolts <= -1000) {
        value = microvolts * 0.001;
        unit = " mV";
    } else if (microvolts >= 1 || microvolts <= -1) {
        value = microvolts;
        unit = " \u00b5V";
    }
    std::string text(prefix);
    text += FormatNumber(value, 3, separators);
    text += unit;
    return text;
}
