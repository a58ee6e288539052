#include "monitor/block_time.h"

#include <cstdio>

#include "recording/block_intake.h"

std::optional<TBlockTime> TBlockTime::FromCivil(int year, int month, int day, int hour, int minute,
                                                int second) {
    const std::optional<int64_t> seconds = SecondsOf(year, month, day, hour, minute, second);
    if (!seconds || year < 1 || year > 9999) {
        return std::nullopt;
    }
    return TBlockTime{*seconds};
}

bool IsValidDate(int year, int month, int day) {
    return TBlockTime::FromCivil(year, month, day, 0, 0, 0).has_value();
}

TBlockTime TBlockTime::Now() {
    return TBlockTime{SystemUtcSeconds()};
}

TCivilTime TBlockTime::Civil() const {
    return CivilTimeOf(Seconds);
}

std::string FormatBlockTime(TBlockTime time) {
    const TCivilTime c = time.Civil();
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04lld %02d:%02d:%02d", c.Day, c.Month,
                  static_cast<long long>(c.Year), c.Hour, c.Minute, c.Second);
    return text;
}
