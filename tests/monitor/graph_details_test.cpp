// The Temperatures and FFT pages without a window: where readings and bins
// stand in a band, the figures and the mouse readouts.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "monitor/channel_details.h"
#include "monitor/fft_details.h"
#include "monitor/temperature_details.h"

namespace {

const TNumberSeparators English{",", "."};

}  // namespace

// 0 deg C stands on the dotted grid line at 40 % of the width, 20 deg C two
// divisions to its right; the conversions agree with their formulas written
// out with trunc, clamping included, over random bands, zooms and values.
TEST(TemperatureScale, ReadingsStandByTemperatureAcrossAndOffsetUpwards) {
    for (auto [width, celsius, x] : {std::tuple{1000, 0.0, 400},
                                     {1000, 20.0, 600},
                                     {620, 0.0, 248},
                                     {620, 20.0, 372},
                                     {620, -45.5, -34}}) {
        EXPECT_EQ(MakeTemperatureScale(width, 100, 1, 1).X(celsius), x) << width << " " << celsius;
    }
    EXPECT_EQ(TemperatureGridX(4, 620), 248);
    EXPECT_EQ(MakeTemperatureScale(620, 101, 10, 1024).Y(409.6), 50 - 25) << "a quarter up";

    std::mt19937_64 random(17);
    for (int trial = 0; trial < 20000; ++trial) {
        const int width = 1 + static_cast<int>(random() % 2000);
        const int height = 1 + static_cast<int>(random() % 500);
        const int32_t gain = trial % 2 ? 1 : 10;
        const double zoom = std::ldexp(1.0, static_cast<int>(random() % 24));
        const TTemperatureScale scale = MakeTemperatureScale(width, height, gain, zoom);
        const double t = (static_cast<double>(random() % 4000001) - 2000000) / 1000;
        const double o = std::ldexp(static_cast<double>(random() % 2001) - 1000,
                                    static_cast<int>(random() % 40) - 10);
        const double x =
            std::trunc(std::trunc(width / 999.0 * t * 10) + static_cast<int>(width * 0.4));
        ASSERT_EQ(scale.X(t), static_cast<int>(x)) << width << " " << t;
        const double range = 8388608 / (gain * zoom);
        const double y = static_cast<int>(height * 0.5) - std::trunc(height / (2 * range) * o);
        ASSERT_EQ(scale.Y(o), !(y > 0) ? 0 : static_cast<int>(std::min(y, height - 1.0)))
            << height << " " << zoom << " " << o;
    }
}

TEST(TemperatureDetails, FiguresAndReadout) {
    TChannelHistory history;
    for (int i = 0; i < 200; ++i) {
        history.Append(i * 256);
    }
    TChannelStats stats;
    stats.Offset = -1234.6;
    const TTemperatureDetailsTexts texts =
        TemperatureDetailsTexts(1, history, 100, stats, 23.46, 1, 2, English);
    EXPECT_EQ(texts.Range, "2: \u00b14.194 V, 100.000 \u00b5V");
    EXPECT_EQ(texts.Offset, "Offset = -1.235 mV");
    EXPECT_EQ(texts.Temperature, "Temperature = 23.5 deg C");

    // 100 degrees across the band from -40 deg C, the offset range at the
    // band's edges; bands of 1000 x 100.
    struct TCase {
        int x, y, item;
        int32_t gain;
        double zoom;
        const char* text;
    };
    for (const TCase& c : {TCase{635, 150, 1, 1, 1, "(23.5 deg C, 0.000 nV)"},
                           TCase{0, 100, 1, 1, 1, "(-40.0 deg C, 8.389 V)"},
                           TCase{1000, 125, 1, 10, 1, "(60.0 deg C, 419.430 mV)"},
                           TCase{400, 75, 0, 1, 8192, "(0.0 deg C, -512.000 \u00b5V)"}}) {
        EXPECT_EQ(TemperatureReadout(c.x, c.y, c.item, 1000, 100, c.gain, c.zoom, English), c.text);
    }
    const std::array<bool, MaxChannels> displayed{false, true, true, false, true, false};
    EXPECT_EQ(NthDisplayedChannel(displayed, 2), 4);
    EXPECT_EQ(NthDisplayedChannel(displayed, 3), -1);
}

TEST(FftDetails, BinsLevelsFiguresAndReadout) {
    // 1024 points on 600 pixels: 512 bins, W / 512 pixels apart; 0 dB on the
    // top row, -200 dB and below on the bottom one.
    const TFftScale scale = MakeFftScale(600, 200, 1024);
    EXPECT_EQ(scale.X(1), 1);
    EXPECT_EQ(scale.X(511), 598);
    for (auto [db, y] :
         {std::pair{12.0, 0}, {-6.02, 6}, {-100.0, 100}, {-200.0, 199}, {-250.0, 199}}) {
        EXPECT_EQ(scale.Y(db), y) << db;
    }
    const TFftDetailsTexts texts = FftDetailsTexts(0, 1024, 100, English);
    EXPECT_EQ(texts.Points, "Channel 1 : (1,024 Points)");
    EXPECT_EQ(texts.Frequency, "x : 0 -> 50.00 Hz");
    EXPECT_EQ(texts.Level, "y : 0 -> -200.00 dB");

    // Four bands of 100 pixels: the middle of the second reads -100 dB.
    EXPECT_EQ(FftReadout(300, 150, 1, 600, 100, 100, English), "x: 25.00 Hz, y: -100.00 dB");
    EXPECT_EQ(FftReadout(123, 225, 2, 600, 100, 100, English), "x: 10.25 Hz, y: -50.00 dB");
    EXPECT_EQ(FftReadout(599, 399, 3, 600, 100, 100, English), "x: 49.92 Hz, y: -198.00 dB");

    // The FFT page's figures: the shown channels in the first of its slots.
    const std::array<bool, MaxChannels> shown{false, true, false, false, true, false};
    const auto placements = LayOutDetailsSlots(300, shown, 3);
    EXPECT_TRUE(placements[1].Shown && placements[4].Shown && !placements[2].Shown);
    EXPECT_EQ(placements[4].BevelTop, 100);
}
