// The Temperatures and FFT bands drawn into small images, checked pixel by
// pixel; the quick drawing of many readings against drawing every dot.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "fft/fft_channel.h"
#include "main/fft_trace.h"
#include "main/graph_resources.h"
#include "main/temperature_plot.h"
#include "monitor/settings.h"
#include "monitor/temperature_details.h"

namespace {

const QColor Background(32, 32, 32);
const QColor Dot(0, 255, 0);
const QColor Trace(0, 255, 255);
const QColor Frame(200, 200, 200);
const QColor Grid(96, 96, 96);
const QColor Dotted(192, 192, 192);

TSettings Colours() {
    TSettings settings;
    settings.TemperaturesBgdCol = 0x202020;
    settings.TemperaturesFgdCol = 0x00FF00;
    settings.FftBgdCol = 0x202020;
    settings.FftFgdCol = 0xFFFF00;
    return settings;
}

std::vector<int> Rows(const QImage& image, int x, const QColor& colour) {
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixelColor(x, y) == colour) {
            rows.push_back(y);
        }
    }
    return rows;
}

std::vector<int> Columns(const QImage& image, int y, const QColor& colour) {
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixelColor(x, y) == colour) {
            columns.push_back(x);
        }
    }
    return columns;
}

// Range +-100 uV at gain 1.
TTemperatureDraw Draw(size_t start, bool newBand) {
    return {.Start = start, .NewBand = newBand, .GainFactor = 1, .Zoom = 8388608.0 / 100};
}

class BandDrawingTest : public ::testing::Test {
  protected:
    TGraphResources resources_{Colours()};
};

}  // namespace

TEST_F(BandDrawingTest, TemperatureBandGridAndDotsAtZeroAndTwentyDegrees) {
    constexpr int W = 200;
    constexpr int H = 41;  // centre row 20
    QImage image(W, H, QImage::Format_RGB32);
    TTemperatureHistory history;
    DrawTemperatureTrace(image, resources_, history, Draw(0, true));
    EXPECT_EQ(Columns(image, 0, Frame).size(), static_cast<size_t>(W)) << "the top line";
    for (int j = 0; j < 10; ++j) {
        // Grid lines from row 1 down; the fifth, 0 deg C, dotted.
        const size_t rows = Rows(image, j * W / 10, j == 4 ? Dotted : Grid).size();
        EXPECT_TRUE(j == 4 ? rows > 5 && rows < H - 5u : rows == H - 1u) << j << ": " << rows;
    }
    EXPECT_GT(Columns(image, H / 2, Dotted).size(), W / 4u) << "the dotted centre line";

    // 0 deg C, 0 uV: a dot on the 0 deg C line at the centre line; 20 deg C,
    // +50 uV: two divisions right, a quarter band up; -40 deg C (column 0)
    // and colder are left out.
    history = {{0, 0}, {20, 50}, {-40, 0}, {-41, -50}};
    DrawTemperatureTrace(image, resources_, history, Draw(0, true));
    const int x0 = static_cast<int>(W * 0.4);
    const int x20 = MakeTemperatureScale(W, H, 1, 8388608.0 / 100).X(20);
    EXPECT_EQ(x0, 80);
    EXPECT_EQ(x20, 120);
    EXPECT_EQ(Rows(image, x0, Dot), (std::vector<int>{18, 19, 20, 21, 22}));
    EXPECT_EQ(Rows(image, x0 - 2, Dot), (std::vector<int>{19, 20, 21}));
    EXPECT_TRUE(Rows(image, x0 - 3, Dot).empty());
    EXPECT_EQ(Rows(image, x20, Dot), (std::vector<int>{8, 9, 10, 11, 12}));
    EXPECT_EQ(Rows(image, x20 + 2, Dot), (std::vector<int>{9, 10, 11}));
    EXPECT_TRUE(Rows(image, 0, Dot).empty() && Rows(image, 2, Dot).empty());

    // The next block adds its reading only: a dot at 10 deg C.
    history.push_back({10, -100});
    DrawTemperatureTrace(image, resources_, history, Draw(history.size() - 1, false));
    EXPECT_EQ(Rows(image, 100, Dot), (std::vector<int>{38, 39, 40}));
    EXPECT_EQ(Rows(image, x0, Dot).size(), 5u) << "the earlier dots stay";
}

// A band full of readings drawn by places and stamps is the band of drawing
// every reading as its own ellipse: random bands, zooms and readings, dots
// at and beyond every edge, whole and in part.
TEST_F(BandDrawingTest, TemperatureDotsByPlaceGiveThePixelsOfEveryDot) {
    std::mt19937_64 random(11);
    for (int trial = 0; trial < 200; ++trial) {
        const int width = 1 + static_cast<int>(random() % 300);
        const int height = 1 + static_cast<int>(random() % 120);
        const size_t size = random() % 4000;
        TTemperatureHistory history;
        double temperature = static_cast<double>(random() % 1400) / 10 - 60;
        double offset = 0;
        const double spread = std::ldexp(1.0, static_cast<int>(random() % 24));
        for (size_t i = 0; i < size; ++i) {
            if (random() % 4 == 0) {
                temperature =
                    std::round((temperature + static_cast<double>(random() % 21) / 10 - 1) * 10) /
                    10;
            }
            offset += (static_cast<double>(random() % 2001) - 1000) / 1000 * spread;
            if (trial % 5 == 0) {
                temperature = static_cast<double>(random() % 1400) / 10 - 60;  // scattered
            }
            history.push_back({temperature, offset});
        }
        TTemperatureDraw draw;
        draw.GainFactor = trial % 3 ? 1 : 10;
        draw.Zoom = std::ldexp(1.0, static_cast<int>(random() % 24));
        draw.NewBand = true;
        draw.Start = size > 0 ? random() % (size + 1) : 0;

        QImage quick(width, height, QImage::Format_RGB32);
        QImage every(width, height, QImage::Format_RGB32);
        DrawTemperatureTrace(quick, resources_, history, draw);
        draw.EveryDot = true;
        DrawTemperatureTrace(every, resources_, history, draw);
        ASSERT_EQ(quick, every) << "trial " << trial << ": " << width << "x" << height << ", "
                                << size << " readings from " << draw.Start;
        // Then block by block: one more reading each.
        draw.NewBand = false;
        for (int more = 0; more < 5; ++more) {
            history.push_back({static_cast<double>(random() % 1400) / 10 - 60, offset});
            draw.Start = history.size() - 1;
            draw.EveryDot = false;
            DrawTemperatureTrace(quick, resources_, history, draw);
            draw.EveryDot = true;
            DrawTemperatureTrace(every, resources_, history, draw);
        }
        ASSERT_EQ(quick, every) << "trial " << trial << " block by block";
    }
}

TEST_F(BandDrawingTest, FftBandGridAndSpectrum) {
    // 1024 points on 512 columns: bin l in column l. A full-scale sine on bin
    // 16: -6.02 dB, row 6 of 200; the other bins on the bottom row, the
    // mirror bin 1008 not drawn.
    constexpr int W = 512;
    constexpr int H = 200;
    std::vector<int32_t> words(1024);
    for (size_t i = 0; i < words.size(); ++i) {
        words[i] = static_cast<int32_t>(std::lround(
            2147483647.0 * std::sin(2 * std::numbers::pi * 16 * static_cast<double>(i) / 1024)));
    }
    TSpectrum sine;
    sine.Compute(words, {}, TFftWindow::None);
    TSpectrum silence;
    silence.Compute(std::vector<int32_t>(1024, 0), {}, TFftWindow::None);
    QImage image(W, H, QImage::Format_RGB32);
    DrawFftTrace(image, resources_, sine, false);
    EXPECT_EQ(image.pixelColor(3, 0), Frame);
    for (int j = 1; j <= 9; ++j) {
        EXPECT_GT(Rows(image, j * W / 10, Dotted).size(), 20u) << "frequency division " << j;
    }
    for (int k = 1; k <= 19; ++k) {
        EXPECT_GT(Columns(image, k * H / 20, k % 5 ? Grid : Dotted).size(), W / 4u) << k;
    }
    for (int x : {15, 16, 17}) {
        EXPECT_EQ(Rows(image, x, Trace).front(), 6) << "the segments into and out of bin 16";
    }
    EXPECT_EQ(Rows(image, 16, Trace).back(), H - 1);
    EXPECT_EQ(Rows(image, W - 1, Trace), (std::vector<int>{H - 1}));

    // Fewer bins than columns: lines, bin 16 in column 32. Overlay keeps the
    // old spectrum; without it the band is erased first.
    QImage wide(2 * W, H, QImage::Format_RGB32);
    DrawFftTrace(wide, resources_, sine, false);
    EXPECT_EQ(Rows(wide, 32, Trace).front(), 6);
    DrawFftTrace(wide, resources_, silence, true);
    EXPECT_EQ(Rows(wide, 32, Trace).front(), 6);
    DrawFftTrace(wide, resources_, silence, false);
    EXPECT_EQ(Rows(wide, 32, Trace), (std::vector<int>{H - 1}));
}
