// The Spectrogram page's columns without a window: a sine in its bin at its density, columns
// every half transform whatever the blocks' lengths, the rings read after each block, the span
// and the rate, the auto range, and how pixels show columns and bins.
#include "monitor/time_frequency.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "monitor/channel_stats.h"
#include "support/blocks.h"

namespace {

// `count` samples of a sine of `amplitude` x full scale at `frequency` Hz, left-justified
// 24-bit words, from sample `first` on.
std::vector<int32_t> Sine(int count, double frequency, double rate, double amplitude,
                          int64_t first = 0) {
    std::vector<int32_t> words;
    for (int64_t i = first; i < first + count; ++i) {
        const double x = amplitude * 8388607 *
                         std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate);
        words.push_back(static_cast<int32_t>(std::lround(x)) * 256);
    }
    return words;
}

int PeakBin(std::span<const int16_t> levels) {
    return static_cast<int>(std::max_element(levels.begin(), levels.end()) - levels.begin());
}

constexpr std::array<bool, MaxChannels> AllChannels{true, true, true, true, true, true};

}  // namespace

// A sine's power A^2 / 2 falls in its bin of width rate / N x the Hanning window's noise
// bandwidth of 1.5 bins: 10 log10(A^2 N / (3 rate)) dBFS/Hz.
TEST(Spectrogram, ASineShowsInItsBinAtItsDensity) {
    struct TCase {
        int Points;
        double Rate;
        double Bin;  // the sine's frequency in bins
        double Amplitude;
        double Tolerance;  // dB: Hanning loses up to 1.42 dB between bins
    };
    const TCase cases[] = {
        {256, 100, 10, 1.0, 0.01},      {1024, 500, 41, 0.1, 0.01},  {4096, 200, 1000, 0.01, 0.01},
        {512, 250, 200.3, 0.5, 1.45},   {2048, 100, 3, 0.001, 0.05}, {1024, 40, 511, 0.25, 0.01},
        {256, 500, 64.25, 0.0316, 0.9},
    };
    for (const TCase& c : cases) {
        TSpectrogram spectrogram(c.Points, 10);
        const double frequency = c.Bin * c.Rate / c.Points;
        // A DC offset of a tenth of full scale (where it fits) is taken off with each column's
        // mean.
        std::vector<int32_t> words = Sine(c.Points * 3, frequency, c.Rate, c.Amplitude);
        for (int32_t& word : words) {
            word += c.Amplitude < 0.8 ? 838860 * 256 : 0;
        }
        EXPECT_EQ(spectrogram.Take(0, words, 1000, c.Rate), 5) << c.Points;
        const TSpectrogramColumns& columns = spectrogram.Columns(0);
        ASSERT_EQ(columns.Total(), 5);
        for (int64_t n = 0; n < columns.Total(); ++n) {
            const std::span<const int16_t> levels = columns.Levels(n);
            ASSERT_EQ(levels.size(), static_cast<size_t>(c.Points / 2 + 1));
            EXPECT_EQ(PeakBin(levels), std::lround(c.Bin)) << c.Points << " " << c.Bin;
            const double expected =
                20 * std::log10(c.Amplitude) + 10 * std::log10(c.Points / (3 * c.Rate));
            const double level = DbFromLevel(levels[static_cast<size_t>(PeakBin(levels))]);
            EXPECT_LE(level, expected + 0.03) << c.Points << " " << c.Bin;
            EXPECT_GE(level, expected - c.Tolerance) << c.Points << " " << c.Bin;
            EXPECT_EQ(columns.Peak(n), levels[static_cast<size_t>(PeakBin(levels))]);
            // Far from a line on its bin only rounding: 60 dB down at least.
            for (size_t k = 0; k < levels.size() && c.Tolerance < 0.1; ++k) {
                if (std::abs(static_cast<double>(k) - c.Bin) > 4) {
                    EXPECT_LT(DbFromLevel(levels[k]), expected - 60) << c.Points << " bin " << k;
                }
            }
        }
    }
}

TEST(Spectrogram, ColumnsEveryHalfTransformWhateverTheBlockLengths) {
    const double rate = 100;
    const int points = 256;
    const int total = 5000;
    // Noise so that every column differs; one piece as the reference.
    std::mt19937 random(7);
    std::vector<int32_t> words;
    for (int i = 0; i < total; ++i) {
        words.push_back((static_cast<int32_t>(random() % 2000001) - 1000000) * 256);
    }
    TSpectrogram whole(points, 60);
    ASSERT_EQ(whole.Take(2, words, 5000, rate), (total - points) / (points / 2) + 1);
    const TSpectrogramColumns& reference = whole.Columns(2);
    ASSERT_EQ(reference.Total(), 38);
    for (int64_t n = 0; n < reference.Total(); ++n) {
        // Column n takes samples n x 128 ... n x 128 + 255; its time that of sample n x 128 + 128.
        EXPECT_DOUBLE_EQ(reference.Time(n), 5000 + static_cast<double>(n * 128 + 128) / rate);
    }

    for (const std::vector<int>& lengths :
         {std::vector<int>{1}, {7, 250, 3}, {100}, {128}, {255, 1, 256, 257}, {3000, 2000}}) {
        TSpectrogram pieces(points, 60);
        int64_t taken = 0;
        int made = 0;
        for (size_t i = 0; taken < total; ++i) {
            const int length =
                std::min<int>(lengths[i % lengths.size()], total - static_cast<int>(taken));
            made += pieces.Take(2, std::span<const int32_t>(words).subspan(taken, length),
                                5000 + static_cast<double>(taken) / rate, rate);
            taken += length;
            // Never a column before its last sample has come.
            EXPECT_EQ(pieces.Columns(2).Total(),
                      taken < points ? 0 : (taken - points) / (points / 2) + 1);
        }
        EXPECT_EQ(made, 38);
        const TSpectrogramColumns& columns = pieces.Columns(2);
        ASSERT_EQ(columns.Total(), reference.Total()) << lengths[0];
        for (int64_t n = 0; n < columns.Total(); ++n) {
            EXPECT_DOUBLE_EQ(columns.Time(n), reference.Time(n)) << lengths[0] << " column " << n;
            EXPECT_TRUE(std::equal(columns.Levels(n).begin(), columns.Levels(n).end(),
                                   reference.Levels(n).begin(), reference.Levels(n).end()))
                << lengths[0] << " column " << n;
        }
    }
}

// The rings of the window's model, read after each block: every sample once, a block without
// samples adds none, and a rate change starts again.
TEST(Spectrogram, TakesEachBlockFromTheRingsOnceAndFollowsRateAndSpan) {
    TChannelModel channels;
    TSpectrogram spectrogram(512, 1);
    const std::array<int32_t, MaxChannels> gains{1, 1, 1, 1, 1, 1};
    const auto block = [&](int perBlock, int index, double rate) {
        const TSampleSet samples = MakeSamples(3, perBlock, [&](int c, int j) {
            return static_cast<int32_t>(
                std::lround(400000 * (c + 1) *
                            std::sin(2 * std::numbers::pi * 25 * (index * perBlock + j) / rate)));
        });
        channels.UpdateChannelStatistics(samples, 3, perBlock, rate, gains);
        spectrogram.TakeNewSamples(channels, 3, rate, 1.0e9 + index);
    };
    for (int b = 0; b < 30; ++b) {
        block(200, b, 200);
        if (b == 10) {
            // A frame without samples leaves the rings, and so the columns, as they were.
            channels.UpdateChannelStatistics(TSampleSet{}, 3, 200, 200, gains);
            spectrogram.TakeNewSamples(channels, 3, 200, 1.0e9 + b);
        }
    }
    // 6000 samples: (6000 - 512) / 256 + 1 columns on each channel; 25 Hz in bin 64.
    for (int c = 0; c < 3; ++c) {
        const TSpectrogramColumns& columns = spectrogram.Columns(c);
        EXPECT_EQ(columns.Total(), 22) << c;
        EXPECT_EQ(PeakBin(columns.Levels(columns.Total() - 1)), 64);
        EXPECT_NEAR(columns.Time(0), 1.0e9 + 256 / 200.0, 1e-6);
        EXPECT_NEAR(columns.Time(21), 1.0e9 + (21 * 256 + 256) / 200.0, 1e-6);
    }
    EXPECT_EQ(spectrogram.Columns(3).Total(), 0);
    // One minute at 1.28 s per column: 47 columns, and the spare ones.
    EXPECT_EQ(spectrogram.SpanColumns(), 47);
    EXPECT_EQ(spectrogram.Columns(0).Capacity(), 47 + TSpectrogram::SpareColumns);
    for (int b = 30; b < 200; ++b) {
        block(200, b, 200);
    }
    EXPECT_EQ(spectrogram.Columns(0).Total(), 155);
    EXPECT_EQ(spectrogram.Columns(0).Count(), 47 + TSpectrogram::SpareColumns);
    const double newest = spectrogram.Columns(0).Time(154);
    // A shorter span keeps the newest columns, a longer one makes room.
    spectrogram.SetSpanMinutes(0);
    EXPECT_EQ(spectrogram.SpanMinutes(), 1);
    spectrogram.SetSpanMinutes(-5);
    EXPECT_EQ(spectrogram.Columns(0).Count(), 47 + TSpectrogram::SpareColumns);
    spectrogram.SetSpanMinutes(60);
    EXPECT_EQ(spectrogram.SpanColumns(), 2813);
    EXPECT_EQ(spectrogram.Columns(0).Count(), 47 + TSpectrogram::SpareColumns);
    EXPECT_EQ(spectrogram.Columns(0).Time(154), newest);
    EXPECT_EQ(PeakBin(spectrogram.Columns(0).Levels(154)), 64);

    // Another rate: every channel starts again.
    block(100, 0, 100);
    EXPECT_EQ(spectrogram.Rate(), 100);
    EXPECT_EQ(spectrogram.Columns(1).Total(), 0);
    // After a reset (the window's format change, which also empties the rings) the rings are
    // read from their start.
    channels.ResetFftRings();
    spectrogram.Reset();
    for (int b = 0; b < 6; ++b) {
        block(100, b, 100);
    }
    EXPECT_EQ(spectrogram.Columns(1).Total(), 1);
    // A new length empties the columns.
    spectrogram.SetPoints(300);
    EXPECT_EQ(spectrogram.Points(), 512);
    spectrogram.SetPoints(256);
    EXPECT_EQ(spectrogram.Columns(1).Total(), 0);
    EXPECT_EQ(spectrogram.Bins(), 129);
}

TEST(Spectrogram, AutoRangeFromTheNoiseFloorToTheHighestLevel) {
    TSpectrogram spectrogram(1024, 10);
    std::array<bool, MaxChannels> none{};
    EXPECT_EQ(spectrogram.AutoRange(AllChannels), std::nullopt);
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 100);             // counts: about -125 dB per bin
    std::vector<int32_t> words = Sine(20000, 12.5, 500, 0.02);  // -34 dB
    for (int32_t& word : words) {
        word += static_cast<int32_t>(std::lround(noise(random))) * 256;
    }
    spectrogram.Take(1, words, 0, 500);
    EXPECT_EQ(spectrogram.AutoRange(none), std::nullopt);
    const std::optional<TDbRange> range = spectrogram.AutoRange(AllChannels);
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->Max, -30);
    EXPECT_LE(range->Min, -130);
    EXPECT_GE(range->Min, -150);
    EXPECT_EQ(std::fmod(range->Min, 10), 0);

    // What is shown next: no change for a wavering of up to 10 dB, a higher top at once.
    const TDbRange shown{-140, -30};
    const std::pair<TDbRange, TDbRange> steps[] = {
        {{-140, -30}, {-140, -30}},   {{-130, -40}, {-140, -30}}, {{-150, -20}, {-140, -20}},
        {{-160, -50}, {-160, -50}},   {{-120, -30}, {-120, -30}}, {{-40, -20}, {-40, -20}},
        {{-150, -130}, {-150, -130}},  // the top falls, the bottom stays: too narrow, so fresh
    };
    for (const auto& [fresh, next] : steps) {
        EXPECT_EQ(TSpectrogram::SteadyRange(shown, fresh), next) << fresh.Min << " " << fresh.Max;
    }
}

// A rate far beyond the digitizer's (a damaged header) gets no more than MaxLevelBytes of
// levels per channel; the band then shows only the newest part of the span.
TEST(Spectrogram, AnExtremeRateStaysWithinTheMemoryLimit) {
    TSpectrogram spectrogram(256, 60);
    EXPECT_EQ(spectrogram.Take(0, Sine(3000, 1000, 32000, 0.5), 0, 32000), 22);
    EXPECT_EQ(spectrogram.SpanColumns(), 900000);
    EXPECT_EQ(spectrogram.Columns(0).Capacity(),
              static_cast<int>(TSpectrogram::MaxLevelBytes / (2 * 129)));
    EXPECT_LT(spectrogram.MemoryBytes(), TSpectrogram::MaxLevelBytes * 5 / 4);
    EXPECT_EQ(spectrogram.Take(1, Sine(300, 1, 32000, 0.5), 0, std::nan("")), 0);
    EXPECT_EQ(spectrogram.Take(1, Sine(300, 1, 32000, 0.5), 0, -1), 0);
    EXPECT_EQ(spectrogram.Take(6, Sine(300, 1, 32000, 0.5), 0, 32000), 0);
    EXPECT_EQ(spectrogram.Columns(0).Total(), 22) << "bad calls change nothing";
}

// Every column is shown by exactly one pixel when there are more columns than pixels, every
// pixel shows one column when there are fewer, and the newest complete pixel is at the edge.
TEST(Spectrogram, PixelsShowEveryColumnOnceAndRowsEveryBin) {
    for (const auto& [width, span] :
         std::vector<std::pair<int, int>>{{600, 586}, {100, 2813}, {700, 47}, {333, 333}}) {
        TSpectrogramRaster raster;
        raster.Layout(width, 50, 1024, 0.5, false, span);
        int64_t next = 0;
        for (int64_t p = 0; p < 3 * width; ++p) {
            const TSpectrogramRaster::TRange columns = raster.PixelColumns(p);
            ASSERT_LE(columns.First, columns.Last) << width << " " << span << " " << p;
            if (columns.First == next - 1 && columns.Last == next - 1) {
                continue;  // a column stretched over more than one pixel
            }
            ASSERT_EQ(columns.First, next) << width << " " << span << " " << p;
            next = columns.Last + 1;
        }
        for (int64_t total = 0; total < 3 * span; total += 7) {
            const int64_t last = raster.LastPixel(total);
            EXPECT_LE(raster.PixelColumns(last).Last, total - 1);
            EXPECT_GE(raster.PixelColumns(last + 1).Last, total);
        }
        // The span's columns fill the band's width.
        EXPECT_NEAR(static_cast<double>(raster.LastPixel(span) + 1), width, 1) << width;
    }

    for (const bool log : {false, true}) {
        for (const int height : {40, 129, 300, 1000}) {
            TSpectrogramRaster raster;
            raster.Layout(100, height, 256, 0.5, log, 100);
            // From the top row (half the rate) down to bin 0 (linear) or bin 1 (logarithmic),
            // each row's bins at or below the ones above.
            EXPECT_EQ(raster.RowBins(0).Last, 128);
            EXPECT_EQ(raster.RowBins(height - 1).First, log ? 1 : 0);
            for (int y = 1; y < height; ++y) {
                const auto above = raster.RowBins(y - 1);
                const auto row = raster.RowBins(y);
                EXPECT_LE(row.Last, above.First) << log << " " << height << " " << y;
                EXPECT_GE(row.Last + 1, above.First) << "no bin left out";
            }
            // A bin's frequency lies in the row that shows it.
            for (const int bin : {1, 10, 64, 127}) {
                const std::optional<double> y = raster.FrequencyY(bin * 0.5);
                ASSERT_TRUE(y.has_value());
                const int row = std::clamp(static_cast<int>(*y), 0, height - 1);
                EXPECT_LE(raster.RowBins(row).First, bin + 1) << log << " " << height << " " << bin;
                EXPECT_GE(raster.RowBins(row).Last, bin - 1) << log << " " << height << " " << bin;
                EXPECT_NEAR(raster.RowFrequency(row), bin * 0.5,
                            log ? bin * 0.5 * 0.1 : 64.5 / height + 0.3);
            }
            EXPECT_EQ(raster.FrequencyY(64.5), std::nullopt);
        }
    }
}

// White noise of RMS s x full scale reads 10 log10(2 s^2 / rate) dBFS/Hz whatever the FFT
// length, and, a pixel showing the mean power of its columns and bins, as much at the top of
// a logarithmic axis (many bins a row) as at its foot (one bin a row), below a top frequency
// too; a line in one of a row's bins is diluted by the row's bins.
TEST(Spectrogram, DensityOfWhiteNoiseIsTheSameAtAnyLengthAndOnEveryRow) {
    struct TCase {
        int Points;
        double Rate;
        double Rms;    // x full scale
        bool Log;      // the axis
        double MaxHz;  // its top; 0: half the rate
    };
    const TCase cases[] = {
        {256, 100, 0.01, true, 0},    {1024, 100, 0.01, true, 0}, {4096, 100, 0.01, false, 0},
        {1024, 500, 0.001, true, 25}, {2048, 40, 0.1, false, 10}, {512, 200, 0.003, true, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Points << " points at " << c.Rate << " Hz");
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0, c.Rms * 8388607);
        std::vector<int32_t> words(static_cast<size_t>(c.Points) * 101);
        for (int32_t& word : words) {
            word = static_cast<int32_t>(std::lround(noise(random))) * 256;
        }
        TSpectrogram spectrogram(c.Points, 60);
        ASSERT_EQ(spectrogram.Take(0, words, 0, c.Rate), 201);
        const TSpectrogramColumns& columns = spectrogram.Columns(0);
        const double expected = 10 * std::log10(2 * c.Rms * c.Rms / c.Rate);
        // The mean power over the columns and the inner bins.
        double sum = 0;
        int count = 0;
        for (int64_t n = 0; n < columns.Total(); ++n) {
            const std::span<const int16_t> levels = columns.Levels(n);
            for (size_t k = 1; k + 1 < levels.size(); ++k) {
                sum += std::pow(10.0, DbFromLevel(levels[k]) / 10);
                ++count;
            }
        }
        EXPECT_NEAR(10 * std::log10(sum / count), expected, 0.2);

        // One pixel per column across 201 pixels; 40 rows.
        TSpectrogramRaster raster;
        raster.Layout(201, 40, c.Points, spectrogram.BinWidth(), c.Log, 201, c.MaxHz);
        EXPECT_NEAR(raster.TopFrequency(), c.MaxHz > 0 ? c.MaxHz : c.Rate / 2,
                    spectrogram.BinWidth());
        std::vector<int16_t> rows(40);
        std::vector<double> rowPower(40, 0);
        for (int64_t p = 0; p < 201; ++p) {
            ASSERT_TRUE(raster.PixelLevels(columns, p, rows));
            for (size_t y = 0; y < rows.size(); ++y) {
                rowPower[y] += std::pow(10.0, DbFromLevel(rows[y]) / 10) / 201;
            }
        }
        EXPECT_GT(raster.RowBins(0).Last - raster.RowBins(0).First, 2) << "a top row of bins";
        EXPECT_NEAR(10 * std::log10(rowPower[0]), expected, 0.5);
        // Bin 1 alone at the foot of a logarithmic axis, a little lower: the column's mean
        // taken off takes some of it.
        EXPECT_NEAR(10 * std::log10(rowPower[39]), expected, 1.5);
    }

    // A line in bin 64 of a row of four or five bins: the row's level is their mean, not the
    // line's.
    TSpectrogram spectrogram(256, 1);
    spectrogram.Take(0, Sine(256, 25, 100, 0.5), 0, 100);
    const TSpectrogramColumns& columns = spectrogram.Columns(0);
    ASSERT_EQ(columns.Total(), 1);
    TSpectrogramRaster raster;
    raster.Layout(1, 129, 256, spectrogram.BinWidth(), false, 1);
    TSpectrogramRaster coarse;
    coarse.Layout(1, 33, 256, spectrogram.BinWidth(), false, 1);
    const int fine = static_cast<int>(*raster.FrequencyY(25));
    const int wide = static_cast<int>(*coarse.FrequencyY(25));
    ASSERT_EQ(raster.RowBins(fine).First, 64);
    const TSpectrogramRaster::TRange bins = coarse.RowBins(wide);
    ASSERT_GE(bins.Last - bins.First, 3);
    double power = 0;
    for (int64_t k = bins.First; k <= bins.Last; ++k) {
        power += std::pow(10.0, DbFromLevel(columns.Levels(0)[static_cast<size_t>(k)]) / 10) /
                 static_cast<double>(bins.Last - bins.First + 1);
    }
    EXPECT_NEAR(DbFromLevel(*coarse.PixelLevel(columns, 0, wide)), 10 * std::log10(power), 0.02);
    EXPECT_LT(DbFromLevel(*coarse.PixelLevel(columns, 0, wide)),
              DbFromLevel(*raster.PixelLevel(columns, 0, fine)) - 3);
    EXPECT_EQ(coarse.PixelLevel(columns, 1, wide), std::nullopt) << "column 1 is not made yet";
    EXPECT_EQ(coarse.PixelLevel(columns, -1, 5), std::nullopt);
}

TEST(Spectrogram, ColoursGetLighterAlongTheScale) {
    const std::array<uint32_t, 256>& colours = SpectrogramColours();
    // CIE lightness L* of an sRGB colour.
    const auto lightness = [](uint32_t rgb) {
        const auto linear = [](uint32_t byte) {
            const double c = byte / 255.0;
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        const double y = 0.2126 * linear((rgb >> 16) & 255) + 0.7152 * linear((rgb >> 8) & 255) +
                         0.0722 * linear(rgb & 255);
        return y > 0.008856 ? 116 * std::cbrt(y) - 16 : 903.3 * y;
    };
    for (size_t i = 1; i < colours.size(); ++i) {
        EXPECT_GT(lightness(colours[i]), lightness(colours[i - 1]) - 0.05) << i;
        if (i >= 4) {
            EXPECT_GT(lightness(colours[i]), lightness(colours[i - 4])) << i;
        }
        EXPECT_EQ(colours[i] >> 24, 0xffu);
    }
    EXPECT_GT(lightness(colours[255]) - lightness(colours[0]), 70);
    const TDbRange range{-100, -20};
    EXPECT_EQ(ColourIndex(LevelFromDb(-150), range), 0);
    EXPECT_EQ(ColourIndex(LevelFromDb(-100), range), 0);
    EXPECT_EQ(ColourIndex(LevelFromDb(-60), range), 128);
    EXPECT_EQ(ColourIndex(LevelFromDb(-20.01), range), 255);
    EXPECT_EQ(ColourIndex(LevelFromDb(0), range), 255);
    EXPECT_EQ(LevelFromDb(std::nan("")), LevelFromDb(-1000));
    EXPECT_EQ(DbFromLevel(LevelFromDb(1000)), SpectrogramCeilingDb);
}

TEST(Spectrogram, AxisStepsAndTexts) {
    EXPECT_EQ(TimeTickStep(1.024, 80), 120);
    EXPECT_EQ(TimeTickStep(0.1, 80), 10);
    EXPECT_EQ(TimeTickStep(6, 80), 600);
    EXPECT_EQ(TimeTickStep(100, 80), 10800);
    EXPECT_EQ(FrequencyTickStep(0.5, 20), 10);
    EXPECT_EQ(FrequencyTickStep(0.02, 20), 0.5);
    EXPECT_EQ(FrequencyTickStep(2.6, 20), 100);
    const TNumberSeparators comma{".", ","};
    EXPECT_EQ(TimeTickText(1.0e9 + 0.4, 30), "01:46:40");
    EXPECT_EQ(TimeTickText(1.0e9 - 40, 120), "01:46");
    EXPECT_EQ(FrequencyTickText(0, comma), "0");
    EXPECT_EQ(FrequencyTickText(0.5, comma), "0,5");
    EXPECT_EQ(FrequencyTickText(0.05, comma), "0,05");
    EXPECT_EQ(FrequencyTickText(250, comma), "250");
    EXPECT_EQ(FrequencyTickText(1500, comma), "1,5k");
    EXPECT_EQ(SpectrogramReadout(1, 1.0e9 + 0.9, 12.5, -87.34, comma),
              "Channel 2  2001-09-09 01:46:40 UTC  12,50 Hz  -87,3 dBFS/Hz");
}
