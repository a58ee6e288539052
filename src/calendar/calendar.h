// The proleptic Gregorian calendar on UTC seconds since 1970-01-01 00:00:00 (no leap seconds),
// for any year: the standard library's calendar within 400-year cycles, which repeat exactly.
#pragma once

#include <cstdint>
#include <optional>

struct TCivilTime {
    int64_t Year = 1970;
    int Month = 1;   // 1..12
    int Day = 1;     // 1..31
    int Hour = 0;    // 0..23
    int Minute = 0;  // 0..59
    int Second = 0;  // 0..59
};

// The calendar date and time of day of `seconds`.
TCivilTime CivilTimeOf(int64_t seconds);
// The seconds of a calendar date and time of day; nothing for a date that does not exist or a
// time that IsValidTime rejects.
std::optional<int64_t> SecondsOf(int64_t year, int month, int day, int hour = 0, int minute = 0,
                                 int second = 0);

// Gregorian: every fourth year, but not centuries unless divisible by 400.
bool IsLeapYear(int64_t year);
// The lengths of the months before `month` plus `day`: 1 to 366 for a date.
int DayOfYear(int64_t year, int month, int day);
// 0..23, 0..59, 0..59.
bool IsValidTime(int hour, int minute, int second);
