// The Channels page's figures: where they stand and what they say.
#include <gtest/gtest.h>

#include "monitor/channel_details.h"
#include "monitor/zoom_steps.h"

namespace {

constexpr std::array<bool, MaxChannels> All = {true, true, true, true, true, true};

}  // namespace

TEST(ChannelDetails, DisplayedChannelsShareThePanelInEqualSlots) {
    auto placements = LayOutChannelDetails(433, All, 3);
    EXPECT_EQ(placements[0].BevelTop, 0);
    EXPECT_EQ(placements[1].BevelTop, 144);
    EXPECT_EQ(placements[2].BevelTop, 288);
    EXPECT_EQ(placements[0].LabelTops, (std::array<int, 5>{4, 18, 32, 46, 60}));
    EXPECT_EQ(placements[2].LabelTops, (std::array<int, 5>{292, 306, 320, 334, 348}));
    for (int c = 0; c < MaxChannels; ++c) {
        EXPECT_EQ(placements[c].Shown, c < 3) << c;
    }

    // Channel 2 not displayed: channels 1 and 3 in two slots.
    const std::array<bool, MaxChannels> without2 = {true, false, true, true, true, true};
    placements = LayOutChannelDetails(433, without2, 3);
    EXPECT_TRUE(placements[0].Shown);
    EXPECT_FALSE(placements[1].Shown);
    EXPECT_TRUE(placements[2].Shown);
    EXPECT_EQ(placements[0].BevelTop, 0);
    EXPECT_EQ(placements[2].BevelTop, 216);
    EXPECT_EQ(placements[2].LabelTops[0], 220);

    // Six channels: the height times the slot is taken before the division.
    placements = LayOutChannelDetails(100, All, 6);
    EXPECT_EQ(placements[5].BevelTop, 83);

    // Nothing before the first block, nor when no channel is displayed.
    for (const auto& placement : LayOutChannelDetails(433, All, 0)) {
        EXPECT_FALSE(placement.Shown);
    }
    for (const auto& placement : LayOutChannelDetails(433, std::array<bool, 6>{}, 6)) {
        EXPECT_FALSE(placement.Shown);
    }
}

TEST(ChannelDetails, TextsGiveTheRangeTheNewestBlocksFirstSampleAndTheLevels) {
    TNumberSeparators separators;
    TChannelHistory history;
    for (int32_t counts : {5, 6, 1234, 8, 9, 10}) {
        history.Append(counts * 256);
    }
    TChannelStats stats;
    stats.Offset = 1000000;
    stats.AcRms = -1500;
    stats.RmsDb = -75.4567;
    stats.AvRmsDb = -1234.5;
    // The newest block of 4 samples begins with 1234 counts.
    TChannelDetailsTexts texts = ChannelDetailsTexts(0, history, 4, stats, 1, 1, separators);
    EXPECT_EQ(texts.Range, "1: \u00b18.389 V, 1.234 mV");
    EXPECT_EQ(texts.Offset, "Offset = 1.000 V");
    EXPECT_EQ(texts.Ac, "AC = -1.500 mV");
    EXPECT_EQ(texts.Rms, "RMS = -75.457 dB");
    EXPECT_EQ(texts.AvRms, "Av RMS = -1,234.500 dB");

    // High gain divides the range and the sample; zoom divides the range.
    texts = ChannelDetailsTexts(2, history, 4, stats, 10, 2, separators);
    EXPECT_EQ(texts.Range, "3: \u00b1419.430 mV, 123.400 \u00b5V");
    texts = ChannelDetailsTexts(0, history, 4, stats, 1, MaxZoom, separators);
    EXPECT_EQ(texts.Range, "1: \u00b11.000 \u00b5V, 1.234 mV");

    // A history shorter than a block (or no block size) shows 0 for the sample.
    texts = ChannelDetailsTexts(0, history, 7, stats, 1, 1, separators);
    EXPECT_EQ(texts.Range, "1: \u00b18.389 V, 0.000 nV");
    texts = ChannelDetailsTexts(0, history, 0, stats, 1, 1, separators);
    EXPECT_EQ(texts.Range, "1: \u00b18.389 V, 0.000 nV");

    // The user's separators.
    separators.Thousands = ".";
    separators.Decimal = ",";
    texts = ChannelDetailsTexts(0, history, 4, stats, 1, 1, separators);
    EXPECT_EQ(texts.Range, "1: \u00b18,389 V, 1,234 mV");
    EXPECT_EQ(texts.AvRms, "Av RMS = -1.234,500 dB");
}
