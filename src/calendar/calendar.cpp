#include "calendar/calendar.h"

#include <algorithm>
#include <chrono>

namespace {

namespace chr = std::chrono;

constexpr int64_t SecondsPerDay = 86400;
constexpr int64_t YearsPerCycle = 400;
constexpr int64_t DaysPerCycle = 146097;

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

// The year of the standard calendar in the cycle of `year` (0..399) that has the same days.
chr::year YearInCycle(int64_t year) {
    return chr::year(static_cast<int>(year - FloorDiv(year, YearsPerCycle) * YearsPerCycle));
}

// Days since 1970 of the first of month `month` (1..13, 13 the next January) of `year`.
int64_t DaysOfMonth(int64_t year, int month) {
    const chr::year_month first = YearInCycle(year) / chr::January + chr::months(month - 1);
    return chr::sys_days(first / 1).time_since_epoch().count() +
           FloorDiv(year, YearsPerCycle) * DaysPerCycle;
}

}  // namespace

TCivilTime CivilTimeOf(int64_t seconds) {
    const int64_t days = FloorDiv(seconds, SecondsPerDay);
    const int64_t cycles = FloorDiv(days, DaysPerCycle);
    const chr::year_month_day date{chr::sys_days(chr::days(days - cycles * DaysPerCycle))};
    const chr::hh_mm_ss time{chr::seconds(seconds - days * SecondsPerDay)};
    return {int(date.year()) + cycles * YearsPerCycle,
            int(unsigned(date.month())),
            int(unsigned(date.day())),
            int(time.hours().count()),
            int(time.minutes().count()),
            int(time.seconds().count())};
}

std::optional<int64_t> SecondsOf(int64_t year, int month, int day, int hour, int minute,
                                 int second) {
    if (month < 1 || month > 12 || day < 1 || day > 31 || !(YearInCycle(year) / month / day).ok() ||
        !IsValidTime(hour, minute, second)) {
        return std::nullopt;
    }
    return (DaysOfMonth(year, month) + day - 1) * SecondsPerDay + hour * 3600 + minute * 60 +
           second;
}

bool IsLeapYear(int64_t year) {
    return YearInCycle(year).is_leap();
}

int DayOfYear(int64_t year, int month, int day) {
    return int(DaysOfMonth(year, std::clamp(month, 1, 13)) - DaysOfMonth(year, 1)) + day;
}

bool IsValidTime(int hour, int minute, int second) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}
