// The channel model fed block by block: offset, AC RMS and dB values, the
// smoothing factors, the history's length cycle and the order of a reset.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>

#include "monitor/channel_stats.h"

namespace {

using TGains = std::array<int32_t, MaxChannels>;
const TGains LowGain = {1, 1, 1, 1, 1, 1};

TSampleSet Block(int channels, int perBlock, const std::function<int32_t(int, int)>& raw) {
    TSampleSet set;
    set.DatLength = channels * perBlock * 3;
    for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < perBlock; ++i) {
            set.Channel[c].push_back(raw(c, i));
        }
    }
    return set;
}

TSampleSet Ramp(int channels, int perBlock, int from) {
    return Block(channels, perBlock, [from](int, int i) { return (from + i) * 256; });
}

TEST(ChannelStats, FirstBlockIsTakenAboutZeroThenAboutTheOffset) {
    TChannelModel model;
    // 1000 counts on channel 0 at gain 1, -1000 on channel 1 at gain 10.
    const auto block = Block(2, 2, [](int c, int) { return (c == 0 ? 1000 : -1000) * 256; });
    model.UpdateChannelStatistics(block, 2, 2, 100, TGains{1, 10, 1, 1, 1, 1});
    const TChannelStats first = model.ChannelStats(0);
    EXPECT_DOUBLE_EQ(first.Offset, 1000);
    EXPECT_DOUBLE_EQ(first.AcRms, 1000);
    EXPECT_NEAR(first.RmsDb, -75.46, 0.005);
    EXPECT_EQ(first.AvRmsDb, first.RmsDb);
    EXPECT_DOUBLE_EQ(model.ChannelStats(1).Offset, -100);
    EXPECT_EQ(model.ChannelStats(1).RmsDb, first.RmsDb);  // the gain is multiplied back
    EXPECT_EQ(model.ChannelHistory(2).Size(), 0u);

    model.UpdateChannelStatistics(block, 2, 2, 100, TGains{1, 10, 1, 1, 1, 1});
    EXPECT_DOUBLE_EQ(model.ChannelStats(0).Offset, 1000);
    EXPECT_EQ(model.ChannelStats(0).AcRms, 0);
    EXPECT_EQ(model.ChannelStats(0).RmsDb, 0);
    EXPECT_DOUBLE_EQ(model.ChannelStats(0).AvRmsDb, first.RmsDb * 0.1);  // AverageAlpha 0.9

    // Blocks without samples: DatLength 0 changes nothing at all; a set with
    // no sample per channel divides nothing and keeps the statistics.
    TSampleSet empty = Ramp(2, 5, 0);
    empty.DatLength = 0;
    const double alpha = model.AverageAlpha();
    model.UpdateChannelStatistics(empty, 2, 5, 100, LowGain);
    EXPECT_EQ(model.AverageAlpha(), alpha);
    EXPECT_EQ(model.FftRing(0).Count(), 4);
    TSampleSet none;
    none.DatLength = 2;
    model.UpdateChannelStatistics(none, 2, 0, 100, LowGain);
    EXPECT_DOUBLE_EQ(model.ChannelStats(0).AvRmsDb, first.RmsDb * 0.1);
}

TEST(ChannelStats, FullScaleSineIsZeroDbAtEitherGain) {
    TChannelModel model;
    // Peak 8388607 counts (the largest 24-bit value), two whole periods per block.
    const auto sine = Block(2, 100, [](int, int i) {
        return static_cast<int32_t>(std::lround(8388607 * std::sin(std::numbers::pi * i / 25))) *
               256;
    });
    model.UpdateChannelStatistics(sine, 2, 100, 100, TGains{1, 10, 1, 1, 1, 1});
    EXPECT_NEAR(model.ChannelStats(0).RmsDb, 0, 1e-3);
    EXPECT_NEAR(model.ChannelStats(1).RmsDb, 0, 1e-3);
}

TEST(ChannelStats, HistoryRestartsWhenTheNextBlockWouldNotFit) {
    TChannelModel model;
    model.SetStoredSeconds(30);
    for (int b = 1; b <= 31; ++b) {
        model.UpdateChannelStatistics(Ramp(1, 100, b * 100), 1, 100, 100, LowGain);
        ASSERT_EQ(model.ChannelHistory(0).Size(), b <= 30 ? 100u * b : 100u);
    }
    EXPECT_EQ(model.ChannelHistory(0)[0], 3100 * 256);  // the newest block
    EXPECT_EQ(model.FftRing(0).Count(), 3100);

    // Rate 0: a limit of 0, so the history holds exactly the latest block.
    model.UpdateChannelStatistics(Ramp(1, 50, 7), 1, 50, 0, LowGain);
    EXPECT_EQ(model.ChannelHistory(0).Size(), 50u);
    model.SetStoredSeconds(7);
    EXPECT_EQ(model.StoredSampleLimit(100 / 3.0), 233);  // truncated
}

TEST(ChannelStats, SmoothingFactors) {
    // DCTimeConst 1: the offset is each block's last sample, AvRmsDb is RmsDb.
    // DCTimeConst 0: the offset keeps the first block's last sample and
    // AverageAlpha shrinks by 0.9 per block for ever.
    TChannelModel one;
    TChannelModel zero;
    one.SetDcTimeConst(1);
    zero.SetDcTimeConst(0);
    zero.ResetChannelStatistics();
    double expected = 1;
    for (int b = 0; b < 80; ++b) {
        const auto block = Ramp(1, 10, b * 7);
        one.UpdateChannelStatistics(block, 1, 10, 10, LowGain);
        zero.UpdateChannelStatistics(block, 1, 10, 10, LowGain);
        expected *= 0.9;
        ASSERT_DOUBLE_EQ(one.ChannelStats(0).Offset, b * 7 + 9);
        ASSERT_EQ(one.AverageAlpha(), 1.0);
        ASSERT_EQ(one.ChannelStats(0).AvRmsDb, one.ChannelStats(0).RmsDb);
        ASSERT_DOUBLE_EQ(zero.ChannelStats(0).Offset, 9);
        ASSERT_DOUBLE_EQ(zero.AverageAlpha(), expected);
    }

    // The default 0.003: AverageAlpha stops at 0.9^56; a new DCTimeConst takes
    // effect at once and leaves AverageAlpha alone.
    TChannelModel standard;
    for (int b = 0; b < 60; ++b) {
        standard.UpdateChannelStatistics(Ramp(1, 10, 0), 1, 10, 10, LowGain);
    }
    const double settled = standard.AverageAlpha();
    EXPECT_NEAR(settled, std::pow(0.9, 56), 1e-12);
    standard.SetDcTimeConst(0.5);
    EXPECT_EQ(standard.OffsetAlpha(), 0.5);
    EXPECT_EQ(standard.AverageAlpha(), settled);
}

TEST(ChannelStats, ResetRunsTheCallersStepBeforeTheRings) {
    TChannelModel model;
    model.UpdateChannelStatistics(Ramp(3, 20, 40), 3, 20, 20, LowGain);
    model.ClearChannelHistories();  // "clear traces": statistics and rings stay
    EXPECT_EQ(model.ChannelHistory(1).Size(), 0u);
    EXPECT_NE(model.ChannelStats(1).Offset, 0);
    model.UpdateChannelStatistics(Ramp(3, 20, 40), 3, 20, 20, LowGain);

    bool ran = false;
    model.ResetChannelHistories([&] {
        ran = true;
        EXPECT_EQ(model.ChannelStats(2).Offset, 0);
        EXPECT_EQ(model.ChannelStats(2).AvRmsDb, 0);
        EXPECT_EQ(model.OffsetAlpha(), 1.0);
        EXPECT_EQ(model.AverageAlpha(), 1.0);
        EXPECT_EQ(model.ChannelHistory(2).Size(), 0u);
        EXPECT_EQ(model.FftRing(2).Count(), 40);
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(model.FftRing(2).Count(), 0);
    EXPECT_EQ(model.FftRing(2).Get(0), 0);
}

}  // namespace
