#include "digitizer/protocol.h"

#include <cmath>

namespace {

constexpr int32_t SearchFallbackBaud = 19200;
constexpr double OtherRate = 75;  // the row used for a rate outside the table

}  // namespace

int BaudRateIndex(int32_t baud) {
    for (size_t i = 0; i < BaudRates.size(); ++i) {
        if (BaudRates[i] == baud) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int32_t BaudCycleNext(int32_t currentBaud) {
    const int index = BaudRateIndex(currentBaud);
    if (index < 0) {
        return SearchFallbackBaud;
    }
    return BaudRates[static_cast<size_t>(index + 1) % BaudRates.size()];
}

int SampleRateIndex(double rate) {
    const double scaled = rate * 10;
    if (!(std::fabs(scaled) < 1e9)) {  // also NaN
        return -1;
    }
    const auto code = static_cast<int32_t>(std::trunc(scaled));
    for (size_t i = 0; i < SampleRates.size(); ++i) {
        if (SampleRates[i].Code == code) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::vector<uint8_t> SampleRateFactors(double rate) {
    int index = SampleRateIndex(rate);
    if (index < 0) {
        index = SampleRateIndex(OtherRate);
    }
    const TSampleRate& row = SampleRates[static_cast<size_t>(index)];
    return std::vector<uint8_t>(row.Factors.begin(), row.Factors.begin() + row.FactorCount);
}

uint16_t ChannelFlags(std::span<const bool, MaxChannels> enabled,
                      std::span<const bool, MaxChannels> highGain) {
    uint16_t flags = 0;
    for (int i = 0; i < MaxChannels; ++i) {
        const int base = i < 3 ? i : 8 + (i - 3);
        if (enabled[static_cast<size_t>(i)]) {
            flags |= static_cast<uint16_t>(1u << base);
        }
        if (highGain[static_cast<size_t>(i)]) {
            flags |= static_cast<uint16_t>(1u << (base + 3));
        }
    }
    return flags;
}

uint16_t LineOutputFlags(bool enabled, bool at75Hz) {
    if (!enabled) {
        return 0;
    }
    return at75Hz ? 3 : 1;
}

uint16_t PowerSupplyFlags(bool gpsSupply, bool sensorSupply) {
    return static_cast<uint16_t>((gpsSupply ? 1 : 0) | (sensorSupply ? 2 : 0));
}

int FilterTypeArgument(int filterCode) {
    switch (filterCode) {
        case 0:
            return 2;
        case 1:
            return 0;
        default:
            return -1;
    }
}
