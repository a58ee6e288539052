#include "monitor/temperature_history.h"

#include <algorithm>
#include <cstdint>

void StoreTemperatures(TTemperatureHistories& histories, const TBlockHeader& header,
                       int channelCount, int storedHours,
                       const std::array<double, MaxChannels>& offsets,
                       std::array<double, MaxChannels>& channelTemperature) {
    const auto limit = size_t(std::max<int64_t>(0, int64_t(storedHours) * 3600));
    const int channels = std::clamp(channelCount, 0, MaxChannels);
    for (int c = 0; c < channels; ++c) {
        TTemperatureHistory& history = histories[size_t(c)];
        if (history.size() > limit) {
            history.erase(history.begin(), history.end() - long(limit));
        }
        channelTemperature[size_t(c)] = header.HasMde ? header.ModuleTemp[c] : header.SensorTemp;
        history.push_back({channelTemperature[size_t(c)], offsets[size_t(c)]});
    }
}

void ClearTemperatureHistories(TTemperatureHistories& histories) {
    for (TTemperatureHistory& history : histories) {
        history.clear();
    }
}
