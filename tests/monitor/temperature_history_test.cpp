// Temperature histories: the bound of StoredHours hours and where each reading comes from.
#include "monitor/temperature_history.h"

#include <gtest/gtest.h>

TEST(TemperatureHistory, HoldsAtMostOneReadingMoreThanTheLimit) {
    TTemperatureHistories histories;
    std::array<double, MaxChannels> offsets{};
    std::array<double, MaxChannels> temperatures{};
    TBlockHeader h;
    for (int block = 0; block < 4000; ++block) {
        h.SensorTemp = block;
        offsets[1] = -block;
        StoreTemperatures(histories, h, 3, 1, offsets, temperatures);
    }
    for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(histories[size_t(c)].size(), 3601u) << c;
        EXPECT_EQ(histories[size_t(c)].front().Temperature, 4000 - 3601);  // the oldest went
        EXPECT_EQ(histories[size_t(c)].back().Temperature, 3999);
    }
    EXPECT_EQ(histories[1].back().Offset, -3999);
    EXPECT_TRUE(histories[3].empty());

    // A smaller limit trims at the next block; a channel count beyond six is bounded.
    StoreTemperatures(histories, h, 7, 0, offsets, temperatures);
    EXPECT_EQ(histories[0].size(), 1u);
    EXPECT_EQ(histories[5].size(), 1u);
    ClearTemperatureHistories(histories);
    for (const TTemperatureHistory& history : histories) {
        EXPECT_TRUE(history.empty());
    }
}

TEST(TemperatureHistory, ModuleTemperaturesWithMde) {
    TTemperatureHistories histories;
    std::array<double, MaxChannels> temperatures{};
    TBlockHeader h;
    h.SensorTemp = 20;
    for (int c = 0; c < MaxChannels; ++c) {
        h.ModuleTemp[c] = 30 + c;
    }
    StoreTemperatures(histories, h, 2, 1, {}, temperatures);
    EXPECT_EQ(temperatures, (std::array<double, MaxChannels>{20, 20, 0, 0, 0, 0}));
    h.HasMde = 1;
    StoreTemperatures(histories, h, 6, 1, {}, temperatures);
    EXPECT_EQ(temperatures, (std::array<double, MaxChannels>{30, 31, 32, 33, 34, 35}));
    EXPECT_EQ(histories[1].front().Temperature, 20);
    EXPECT_EQ(histories[1].back().Temperature, 31);
}
