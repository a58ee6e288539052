#include "sim/event_signal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <random>

#include "sim/signals.h"
#include "sim/sim_options.h"

namespace {

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && !text.empty();
}

// "1+3", "2-4+6": bit n for channel n + 1; false for anything else.
bool ParseChannels(std::string_view text, uint32_t& mask) {
    mask = 0;
    while (true) {
        const size_t plus = text.find('+');
        const std::string_view part = text.substr(0, plus);
        const size_t dash = part.find('-');
        int first = 0, last = 0;
        if (!ParseNumber(part.substr(0, dash), first)) {
            return false;
        }
        last = first;
        if (dash != std::string_view::npos && !ParseNumber(part.substr(dash + 1), last)) {
            return false;
        }
        if (first < 1 || last > 6 || first > last) {
            return false;
        }
        for (int c = first; c <= last; ++c) {
            mask |= 1u << (c - 1);
        }
        if (plus == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(plus + 1);
    }
}

// Three sine waves of one phase, their weights summing to 1.
struct TOscillation {
    double Frequency[3] = {};
    double Phase[3] = {};
    double Weight[3] = {};

    double At(double t) const {
        double sum = 0;
        for (int i = 0; i < 3; ++i) {
            sum += Weight[i] * std::sin(2 * std::numbers::pi * Frequency[i] * t + Phase[i]);
        }
        return sum;
    }
};

struct TWave {
    TOscillation P;
    TOscillation S;
};

double Uniform(std::mt19937_64& rng) {
    return static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

TOscillation Draw(std::mt19937_64& rng, double lowHz, double highHz, double rate) {
    TOscillation o;
    double total = 0;
    for (int i = 0; i < 3; ++i) {
        o.Frequency[i] = std::min(lowHz + (highHz - lowHz) * Uniform(rng), 0.3 * rate);
        o.Phase[i] = 2 * std::numbers::pi * Uniform(rng);
        o.Weight[i] = 0.5 + Uniform(rng);
        total += o.Weight[i];
    }
    for (double& w : o.Weight) {
        w /= total;
    }
    return o;
}

TWave MakeWave(size_t index, uint64_t seed, int channel, double rate) {
    std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ULL + (index + 1) * 0xBF58476D1CE4E5B9ULL +
                        static_cast<uint64_t>(channel) * 0x94D049BB133111EBULL);
    TWave wave;
    wave.P = Draw(rng, 4, 8, rate);
    wave.S = Draw(rng, 1.5, 4, rate);
    return wave;
}

double WaveCounts(const TSimEvent& e, const TWave& wave, double t) {
    if (!(t >= 0) || t >= e.Duration) {
        return 0;
    }
    constexpr double Rise = 0.05;  // seconds: the onsets are sharp
    const double sp = SMinusP(e);
    double value =
        0.35 * e.Amplitude * (1 - std::exp(-t / Rise)) * std::exp(-t / sp) * wave.P.At(t);
    if (t >= sp) {
        const double s = t - sp;
        // The coda falls to a fiftieth of the peak by the end.
        const double decay = std::max(e.Duration - sp, 0.1) / std::log(50.0);
        value +=
            e.Amplitude * (1 - std::exp(-s / (2 * Rise))) * std::exp(-s / decay) * wave.S.At(t);
    }
    // The last tenth tapers to nothing.
    const double tail = (e.Duration - t) / (0.1 * e.Duration);
    if (tail < 1) {
        value *= std::sin(std::numbers::pi / 2 * tail) * std::sin(std::numbers::pi / 2 * tail);
    }
    return value;
}

}  // namespace

double SMinusP(const TSimEvent& event) {
    return std::clamp(0.15 * event.Duration, 0.5, 8.0);
}

std::string ParseSimEvent(std::string_view text, TSimEvent& event) {
    const std::string usage =
        "needs AT,DURATION,AMPLITUDE[,CHANNELS]: AT a second of the unit's clock (0 or more) or a "
        "UTC time such as 2024-12-31T23:59:30Z, DURATION seconds above 0 up to 3600, AMPLITUDE "
        "counts above 0, CHANNELS channels 1 to 6 joined by + (ranges such as 1-3 allowed)";
    std::string_view fields[4];
    size_t count = 0;
    for (std::string_view rest = text;; ++count) {
        if (count == 4) {
            return usage;
        }
        const size_t comma = rest.find(',');
        fields[count] = rest.substr(0, comma);
        if (comma == std::string_view::npos) {
            ++count;
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (count < 3) {
        return usage;
    }
    TSimEvent e;
    if (ParseNumber(fields[0], e.At)) {
        if (!(e.At >= 0 && e.At <= 1e12)) {
            return usage;
        }
    } else if (ParseUtcTime(fields[0], e.AtUtcSeconds)) {
        e.AtUtc = true;
    } else {
        return usage;
    }
    if (!ParseNumber(fields[1], e.Duration) ||
        !(e.Duration > 0 && e.Duration <= MaxEventDuration)) {
        return "DURATION must be seconds above 0, at most 3600, not '" + std::string(fields[1]) +
               "'";
    }
    if (!ParseNumber(fields[2], e.Amplitude) ||
        !(e.Amplitude > 0 && e.Amplitude <= MaxEventAmplitude)) {
        return "AMPLITUDE must be counts above 0, at most 2147483647, not '" +
               std::string(fields[2]) + "'";
    }
    if (count == 4 && !ParseChannels(fields[3], e.Channels)) {
        return "CHANNELS must be channels 1 to 6 joined by +, each one channel or a "
               "range such as 1-3, not '" +
               std::string(fields[3]) + "'";
    }
    event = e;
    return {};
}

double EventCounts(const TSimEvent& event, size_t index, uint64_t seed, int channel, double t,
                   double rate) {
    if (channel < 0 || channel > 5 || (event.Channels >> channel & 1u) == 0) {
        return 0;
    }
    return WaveCounts(event, MakeWave(index, seed, channel, rate), t);
}

void AddEvents(const std::vector<TSimEvent>& events, uint64_t seed, const TEventFrame& frame,
               std::vector<int32_t> (&samples)[6]) {
    if (!(frame.Rate > 0)) {
        return;
    }
    const int bytes = std::clamp(frame.BytesPerSample, 1, 4);
    const double countsPerUnit = bytes >= 4 ? 1 : std::pow(256.0, 3 - bytes);
    for (size_t i = 0; i < events.size(); ++i) {
        const TSimEvent& e = events[i];
        // Seconds from the onset to the frame's first sample.
        const double first = e.AtUtc ? static_cast<double>(frame.Time - e.AtUtcSeconds)
                                     : static_cast<double>(frame.UnitSecond) - e.At;
        for (int c = 0; c < std::min(frame.Channels, 6); ++c) {
            std::vector<int32_t>& channel = samples[c];
            const double span = static_cast<double>(channel.size()) / frame.Rate;
            if ((e.Channels >> c & 1u) == 0 || first + span < 0 || first >= e.Duration) {
                continue;
            }
            const TWave wave = MakeWave(i, seed, c, frame.Rate);
            for (size_t j = 0; j < channel.size(); ++j) {
                const double counts =
                    WaveCounts(e, wave, first + static_cast<double>(j) / frame.Rate);
                if (counts != 0) {
                    channel[j] =
                        ClampToWidth(channel[j] + std::llround(counts / countsPerUnit), bytes);
                }
            }
        }
    }
}
