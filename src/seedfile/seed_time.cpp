#include "seedfile/seed_time.h"

#include <cmath>
#include <limits>

namespace {

constexpr int64_t SecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

constexpr int MonthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int MonthLength(int year, int month) {
    return MonthLengths[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

}  // namespace

TSeedTime TSeedTime::PlusTicks(int64_t ticks) const {
    const int64_t total = int64_t{Ticks} + ticks;
    return {Seconds + total / TicksPerSecond, static_cast<int32_t>(total % TicksPerSecond)};
}

TSeedCivil CivilOf(TSeedTime time) {
    int64_t days = time.Seconds / SecondsPerDay;
    int64_t rest = time.Seconds % SecondsPerDay;
    if (rest < 0) {
        rest += SecondsPerDay;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    TSeedCivil civil;
    civil.Day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    civil.Month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    civil.Year = static_cast<int>(yearOfEra + era * 400 + (civil.Month <= 2));
    civil.Hour = static_cast<int>(rest / 3600);
    civil.Minute = static_cast<int>(rest / 60 % 60);
    civil.Second = static_cast<int>(rest % 60);
    civil.Ticks = time.Ticks;
    return civil;
}

std::optional<TSeedTime> SeedTimeOf(int year, int month, int day, int hour, int minute, int second,
                                    int ticks) {
    if (month < 1 || month > 12 || day < 1 || day > MonthLength(year, month) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ticks < 0 ||
        ticks >= TSeedTime::TicksPerSecond) {
        return std::nullopt;
    }
    return TSeedTime{
        DaysFromCivil(year, month, day) * SecondsPerDay + hour * 3600 + minute * 60 + second,
        ticks};
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DayOfYear(int year, int month, int day) {
    int sum = 0;
    for (int m = 1; m < month && m <= 12; ++m) {
        sum += MonthLength(year, m);
    }
    return sum + day;
}

int DayOfYear(TSeedTime time) {
    const TSeedCivil civil = CivilOf(time);
    return DayOfYear(civil.Year, civil.Month, civil.Day);
}

// The convergents of the continued fraction of `rate`, until one reads back as `rate`.
std::optional<TExactRate> ExactRateOf(double rate) {
    if (!(rate > 0) || !std::isfinite(rate)) {
        return std::nullopt;
    }
    constexpr int64_t Limit = 1000000000;
    int64_t h1 = 1, h2 = 0;  // numerators of the last two convergents
    int64_t k1 = 0, k2 = 1;  // their denominators
    TExactRate best{static_cast<int64_t>(std::llround(rate)), 1};
    double x = rate;
    for (int step = 0; step < 64; ++step) {
        const double whole = std::floor(x);
        if (whole > static_cast<double>(Limit)) {
            break;
        }
        const auto a = static_cast<int64_t>(whole);
        const int64_t h = a * h1 + h2;
        const int64_t k = a * k1 + k2;
        if (k > Limit || h > std::numeric_limits<int64_t>::max() / 100000) {
            break;
        }
        if (h > 0) {  // the first convergent of a rate below 1 is 0 / 1
            best = {h, k};
            if (static_cast<double>(h) / static_cast<double>(k) == rate) {
                return best;
            }
        }
        h2 = h1;
        h1 = h;
        k2 = k1;
        k1 = k;
        const double fraction = x - whole;
        if (fraction <= 0) {
            break;
        }
        x = 1 / fraction;
    }
    if (best.Numerator <= 0) {
        best = {1, std::min<int64_t>(Limit, static_cast<int64_t>(std::llround(1 / rate)))};
    }
    return best;
}

int64_t TicksForSamples(int64_t samples, TExactRate rate) {
    const __int128 ticks = static_cast<__int128>(samples) * TSeedTime::TicksPerSecond *
                           rate.Denominator / rate.Numerator;
    return static_cast<int64_t>(ticks);
}
