#include "monitor/block_time.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t SecondsPerDay = 86400;

// Days since 01/01/1970 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
    static constexpr int DaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) {
        return false;
    }
    return day <= DaysInMonth[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool IsValidTime(int hour, int minute, int second) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

std::optional<TBlockTime> TBlockTime::FromCivil(int year, int month, int day, int hour, int minute,
                                                int second) {
    if (!IsValidDate(year, month, day) || !IsValidTime(hour, minute, second)) {
        return std::nullopt;
    }
    return TBlockTime{DaysFromCivil(year, month, day) * SecondsPerDay + hour * 3600 + minute * 60 +
                      second};
}

TBlockTime TBlockTime::Now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    const int second = utc.tm_sec > 59 ? 59 : utc.tm_sec;
    const auto time =
        FromCivil(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, second);
    return time.value_or(TBlockTime{});
}

TCivilTime TBlockTime::Civil() const {
    int64_t days = Seconds / SecondsPerDay;
    int64_t rest = Seconds % SecondsPerDay;
    if (rest < 0) {
        rest += SecondsPerDay;
        --days;
    }
    // Inverse of DaysFromCivil.
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    TCivilTime civil;
    civil.Day = int(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    civil.Month = int(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    civil.Year = yearOfEra + era * 400 + (civil.Month <= 2);
    civil.Hour = int(rest / 3600);
    civil.Minute = int(rest / 60 % 60);
    civil.Second = int(rest % 60);
    return civil;
}

TBlockTime UpdateBlockTime(TBlockTime current, const TGpsInfo& gps, uint32_t blockCount,
                           int32_t lastValidGpsBlock, bool reset, TBlockTime now) {
    if (gps.Present != 0) {
        const auto fix =
            TBlockTime::FromCivil(gps.Year, gps.Month, gps.Day, gps.Hour, gps.Minute, gps.Second);
        if (fix) {
            const auto elapsed = int32_t(blockCount - uint32_t(lastValidGpsBlock));
            return *fix + elapsed;
        }
    }
    return reset ? now : current + 1;
}

bool IsGpsTime(const TGpsInfo& gps) {
    return gps.Present != 0 &&
           TBlockTime::FromCivil(gps.Year, gps.Month, gps.Day, gps.Hour, gps.Minute, gps.Second);
}

std::string FormatBlockTime(TBlockTime time) {
    const TCivilTime c = time.Civil();
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04lld %02d:%02d:%02d", c.Day, c.Month,
                  static_cast<long long>(c.Year), c.Hour, c.Minute, c.Second);
    return text;
}
