// Times and sample rates as SEED data records carry them: UTC to the ten-thousandth of a
// second (the resolution of a BTIME), and sample rates as exact fractions, so that the start
// time of every record of a file is the file's start plus its samples over the rate, computed
// with integers and never drifting.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>

#include "calendar/calendar.h"

struct TSeedTime {
    static constexpr int32_t TicksPerSecond = 10000;

    int64_t Seconds = 0;  // since 1970-01-01 00:00:00 UTC
    int32_t Ticks = 0;    // ten-thousandths of a second, 0 to 9999

    // The time `ticks` ten-thousandths of a second later (not negative).
    TSeedTime PlusTicks(int64_t ticks) const;
    auto operator<=>(const TSeedTime&) const = default;
};

struct TSeedCivil {
    int Year = 1970;
    int Month = 1;  // 1..12
    int Day = 1;    // 1..31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Ticks = 0;  // ten-thousandths of a second
};

// The calendar date and time of day of `time` (proleptic Gregorian calendar).
TSeedCivil CivilOf(TSeedTime time);
// The time of a calendar date and time of day; nothing for a date or time that does not exist.
std::optional<TSeedTime> SeedTimeOf(int year, int month, int day, int hour = 0, int minute = 0,
                                    int second = 0, int ticks = 0);
// The day of the year of `time`, 1 to 366 (DayOfYear of a date and IsLeapYear: calendar.h).
int DayOfYear(TSeedTime time);

// A sample rate as the fraction Numerator / Denominator samples per second, both positive.
struct TExactRate {
    int64_t Numerator = 0;
    int64_t Denominator = 1;
};

// The fraction with the smallest denominator (at most 10^9) that gives `rate` back exactly as
// a double: 100 / 3 for 33.333..., 1 / 10 for 0.1. Rates of the digitizer (a whole total rate
// over 1 to 6 channels, or its reciprocal) always have one; any other positive rate gets the
// nearest such fraction. Nothing for a rate that is not positive and finite.
std::optional<TExactRate> ExactRateOf(double rate);

// Ten-thousandths of a second that `samples` samples take at `rate`, rounded down:
// floor(samples x 10000 x Denominator / Numerator), in integers.
int64_t TicksForSamples(int64_t samples, TExactRate rate);
