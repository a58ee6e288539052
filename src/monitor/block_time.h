// The date and time of a block as the window shows it: UTC counted in whole seconds (the
// intake times the blocks, recording/block_intake.h). GPS times are UTC, and a block time taken
// from the computer's clock is its UTC time too: SEED record times are UTC, and a recording
// that gains or loses GPS must not jump by the zone offset.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

#include "calendar/calendar.h"

struct TBlockTime {
    // Seconds since 01/01/1970 00:00:00 UTC.
    int64_t Seconds = 0;

    // The given date and time; nothing when IsValidDate or IsValidTime rejects them.
    static std::optional<TBlockTime> FromCivil(int year, int month, int day, int hour, int minute,
                                               int second);
    // The computer's clock in UTC, milliseconds dropped (SystemUtcSeconds).
    static TBlockTime Now();

    TCivilTime Civil() const;
    TBlockTime operator+(int64_t seconds) const { return {Seconds + seconds}; }
    auto operator<=>(const TBlockTime&) const = default;
};

// Year 1..9999, month 1..12, day within the month (leap years of the Gregorian calendar).
bool IsValidDate(int year, int month, int day);

// "dd/mm/yyyy hh:nn:ss".
std::string FormatBlockTime(TBlockTime time);
