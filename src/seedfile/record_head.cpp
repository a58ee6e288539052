#include "seedfile/record_head.h"

#include "seedfile/seed_time.h"

namespace {

uint16_t Be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}

std::string Trimmed(const uint8_t* p, size_t n) {
    std::string text(reinterpret_cast<const char*>(p), n);
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::optional<TRecordHead> ReadRecordHead(std::span<const uint8_t> bytes) {
    if (bytes.size() < 48) {
        return std::nullopt;
    }
    const uint8_t* h = bytes.data();
    const char quality = char(h[6]);
    if (std::string("DRQM").find(quality) == std::string::npos) {
        return std::nullopt;
    }
    TRecordHead head;
    head.Station = Trimmed(h + 8, 5);
    head.Location = Trimmed(h + 13, 2);
    head.Channel = Trimmed(h + 15, 3);
    head.Network = Trimmed(h + 18, 2);
    const std::optional<TSeedTime> day = SeedTimeOf(Be16(h + 20), 1, 1, h[24], h[25], h[26]);
    const int doy = Be16(h + 22);
    if (!day || doy < 1 || doy > 366 || h[24] > 23 || h[25] > 59 || h[26] > 60 ||
        Be16(h + 28) > 9999) {
        return std::nullopt;
    }
    head.Start = (day->Seconds + int64_t{doy - 1} * 86400) * 1000000 + int64_t{Be16(h + 28)} * 100;
    const int samples = Be16(h + 30);
    const auto factor = int16_t(Be16(h + 32));
    const auto multiplier = int16_t(Be16(h + 34));
    double rate = 0;
    if (factor > 0) {
        rate = multiplier > 0   ? double(factor) * multiplier
               : multiplier < 0 ? -double(factor) / multiplier
                                : 0;
    } else if (factor < 0) {
        rate = multiplier > 0   ? -double(multiplier) / factor
               : multiplier < 0 ? 1.0 / (double(factor) * multiplier)
                                : 0;
    }
    head.Samples = samples;
    head.SampleRate = rate;
    head.End = head.Start + (rate > 0 ? int64_t(samples * 1e6 / rate) : 0);
    // The blockette chain, for blockette 1000's record length.
    size_t at = Be16(h + 46);
    for (int hops = 0; at >= 48 && at + 8 <= bytes.size() && hops < 16; ++hops) {
        if (Be16(h + at) == 1000) {
            const int exponent = h[at + 6];
            if (exponent < 8 || exponent > 20) {
                return std::nullopt;
            }
            head.Length = size_t{1} << exponent;
            return head;
        }
        const size_t next = Be16(h + at + 2);
        if (next <= at) {
            break;
        }
        at = next;
    }
    return std::nullopt;
}
