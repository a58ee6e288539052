#include "main/model/number_format.h"

#include <cmath>
#include <cstdio>

std::string FormatNumber(double value, int decimals, const TNumberSeparators& separators) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "INF" : "-INF";
    }
    if (decimals < 0) {
        decimals = 0;
    } else if (decimals > 18) {
        decimals = 18;
    }
    char digits[400];
    std::snprintf(digits, sizeof digits, "%.*f", decimals, std::fabs(value));
    const std::string plain = digits;
    const size_t point = plain.find('.');
    const std::string whole = plain.substr(0, point);
    bool zero = true;
    for (char c : plain) {
        zero = zero && (c == '0' || c == '.');
    }
    std::string out = value < 0 && !zero ? "-" : "";
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) {
            out += separators.Thousands;
        }
        out += whole[i];
    }
    if (point != std::string::npos) {
        out += separators.Decimal;
        out += plain.substr(point + 1);
    }
    return out;
}
