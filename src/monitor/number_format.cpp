#include "monitor/number_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The digits of |value| rounded to `decimals` places, halves away from zero,
// as the "n" conversion rounds: taken from the 18 significant decimal digits of
// the double, not from its exact binary value (so 1.25 gives 1.3, 0.5 gives 1).
// Returns the integer digits and the decimals.
void RoundedDigits(double magnitude, int decimals, std::string& whole, std::string& fraction) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17e", magnitude);  // d.ddddddddddddddddde±x
    std::string digits;
    const char* p = text;
    for (; *p != 'e' && *p != 0; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits += *p;
        }
    }
    int integerDigits = (*p == 'e' ? std::atoi(p + 1) : 0) + 1;
    if (integerDigits <= 0) {
        digits.insert(0, static_cast<size_t>(1 - integerDigits), '0');
        integerDigits = 1;
    }
    const size_t keep = static_cast<size_t>(integerDigits + decimals);
    if (keep < digits.size()) {
        const bool up = digits[keep] >= '5';
        digits.resize(keep);
        for (size_t i = keep; up && i-- > 0;) {
            if (digits[i] == '9') {
                digits[i] = '0';
                if (i == 0) {
                    digits.insert(0, 1, '1');
                    ++integerDigits;
                }
            } else {
                ++digits[i];
                break;
            }
        }
    } else {
        digits.append(keep - digits.size(), '0');
    }
    whole = digits.substr(0, static_cast<size_t>(integerDigits));
    fraction = digits.substr(static_cast<size_t>(integerDigits));
    // Leading zeros of the integer part, but one.
    const size_t first = whole.find_first_not_of('0');
    whole = first == std::string::npos ? "0" : whole.substr(first);
}

}  // namespace

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
    std::string whole;
    std::string fraction;
    RoundedDigits(std::fabs(value), decimals, whole, fraction);
    const bool zero = whole == "0" && fraction.find_first_not_of('0') == std::string::npos;
    std::string out = value < 0 && !zero ? "-" : "";
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) {
            out += separators.Thousands;
        }
        out += whole[i];
    }
    if (decimals > 0) {
        out += separators.Decimal;
        out += fraction;
    }
    return out;
}
