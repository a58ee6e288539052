#include "seedfile/seed_time.h"

#include <cmath>
#include <limits>

TSeedTime TSeedTime::PlusTicks(int64_t ticks) const {
    const int64_t total = int64_t{Ticks} + ticks;
    return {Seconds + total / TicksPerSecond, static_cast<int32_t>(total % TicksPerSecond)};
}

TSeedCivil CivilOf(TSeedTime time) {
    const TCivilTime c = CivilTimeOf(time.Seconds);
    return {static_cast<int>(c.Year), c.Month, c.Day, c.Hour, c.Minute, c.Second, time.Ticks};
}

std::optional<TSeedTime> SeedTimeOf(int year, int month, int day, int hour, int minute, int second,
                                    int ticks) {
    const std::optional<int64_t> seconds = SecondsOf(year, month, day, hour, minute, second);
    if (!seconds || ticks < 0 || ticks >= TSeedTime::TicksPerSecond) {
        return std::nullopt;
    }
    return TSeedTime{*seconds, ticks};
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
