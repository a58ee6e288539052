// The transform against a direct evaluation of its own definition, the bit
// reversal, the windows, and spectra of known signals in dB.
#include "fft/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "fft/fft_channel.h"
#include "fft/fft_windows.h"

namespace {

// X[k] = scale x sum of x[n] exp(sign 2 pi i k n / N): +1 and 1/N forward,
// -1 and 1 inverse.
std::vector<std::complex<double>> DirectDft(const std::vector<std::complex<double>>& x,
                                            bool inverse) {
    const size_t n = x.size();
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; ++k) {
        for (size_t j = 0; j < n; ++j) {
            const double turn = static_cast<double>((k * j) % n) / static_cast<double>(n);
            out[k] += x[j] * std::polar(1.0, (inverse ? -2 : 2) * std::numbers::pi * turn);
        }
        out[k] /= inverse ? 1.0 : static_cast<double>(n);
    }
    return out;
}

// n raw words of a sine on bin `bin`, `amplitude` of full scale.
std::vector<int32_t> SineWords(int n, double bin, double amplitude) {
    std::vector<int32_t> words(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        words[static_cast<size_t>(i)] = static_cast<int32_t>(
            std::lround(amplitude * 2147483647.0 * std::sin(2 * std::numbers::pi * bin * i / n)));
    }
    return words;
}

TSpectrum SpectrumOf(const std::vector<int32_t>& words, TFftWindow window) {
    TSpectrum spectrum;
    spectrum.Compute(words, {}, window);
    return spectrum;
}

}  // namespace

TEST(Fft, BitReverseTakesTheLowestBitsInReverseOrder) {
    const unsigned cases[][3] = {{1, 10, 512},          {6, 3, 3},        {0, 13, 0},
                                 {0b1011, 6, 0b110100}, {8191, 13, 8191}, {5, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(BitReverse(c[0], static_cast<int>(c[1])), c[2]) << c[0] << " " << c[1];
    }
    EXPECT_EQ(BitsFor(1), 0);
    EXPECT_EQ(BitsFor(3), 2);
    EXPECT_EQ(BitsFor(8192), 13);
}

// Every bin of both directions on random complex input, and the way back.
TEST(Fft, MatchesTheDirectTransformInBothDirectionsAndInverts) {
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> value(-1, 1);
    for (size_t n : {1u, 2u, 8u, 64u, 1024u}) {
        std::vector<std::complex<double>> x(n);
        std::vector<double> re(n);
        std::vector<double> im(n);
        for (size_t i = 0; i < n; ++i) {
            x[i] = {value(random), value(random)};
            re[i] = x[i].real();
            im[i] = x[i].imag();
        }
        for (bool inverse : {false, true}) {
            std::vector<double> r = re;
            std::vector<double> m = im;
            Fft(r, m, inverse);
            const auto expected = DirectDft(x, inverse);
            const double tolerance = (inverse ? static_cast<double>(n) : 1.0) * 1e-12;
            for (size_t k = 0; k < n; ++k) {
                ASSERT_NEAR(r[k], expected[k].real(), tolerance) << n << " " << k << " " << inverse;
                ASSERT_NEAR(m[k], expected[k].imag(), tolerance) << n << " " << k << " " << inverse;
            }
            if (!inverse) {
                Fft(r, m, true);
                for (size_t k = 0; k < n; ++k) {
                    ASSERT_NEAR(r[k], re[k], 1e-12) << n << " " << k;
                    ASSERT_NEAR(m[k], im[k], 1e-12) << n << " " << k;
                }
            }
        }
    }
}

TEST(Fft, KnownSignalsGiveTheirLevelsInDecibels) {
    // A full-scale sine on bin 16 of 1024 points: -6.02 dB there and at its
    // mirror 1008, nothing elsewhere.
    const TSpectrum sine = SpectrumOf(SineWords(1024, 16, 1), TFftWindow::None);
    for (int k = 0; k < 1024; ++k) {
        if (k == 16 || k == 1008) {
            EXPECT_NEAR(sine.Level(k), -6.0206, 1e-3);
        } else {
            ASSERT_LT(sine.Level(k), -150) << k;
        }
    }
    // An eighth of full scale as DC: bin 0 at its level, every other bin
    // without magnitude on the floor.
    const TSpectrum dc = SpectrumOf(std::vector<int32_t>(2048, 1 << 28), TFftWindow::None);
    EXPECT_NEAR(dc.Level(0), 20 * std::log10(0.125), 1e-9);
    for (int k = 1; k < 2048; ++k) {
        ASSERT_EQ(dc.Level(k), SpectrumFloorDb) << k;
    }
    // Between two bins, windowed or not, the peak is at the nearest bin;
    // Blackman-Harris keeps far bins much lower.
    const std::vector<int32_t> between = SineWords(4096, 100.4, 0.5);
    const TSpectrum plain = SpectrumOf(between, TFftWindow::None);
    const TSpectrum blackman = SpectrumOf(between, TFftWindow::BlackmanHarris);
    for (const TSpectrum* spectrum : {&plain, &blackman}) {
        for (int k = 0; k < 2048; ++k) {
            ASSERT_LE(spectrum->Level(k), spectrum->Level(100)) << k;
        }
    }
    EXPECT_LT(blackman.Level(400), plain.Level(400) - 60);
}

TEST(FftWindows, WeightsAtKnownPointsAndTheArraysTheyScale) {
    const double edge = std::pow(0.35875 - 0.48829 + 0.14128 - 0.01168, 2);
    const double quarter = std::pow(0.35875 - 0.14128, 2);
    struct TCase {
        int i;
        int n;
        double hanning;
        double blackman;
    };
    for (const TCase& c : {TCase{0, 1024, 0, edge}, TCase{512, 1024, 2, 1},
                           TCase{256, 1024, 1, quarter}, TCase{2048, 8192, 1, quarter}}) {
        EXPECT_NEAR(HanningWeight(c.i, c.n), c.hanning, 1e-12) << c.i << "/" << c.n;
        EXPECT_NEAR(BlackmanHarrisWeight(c.i, c.n), c.blackman, 1e-12) << c.i << "/" << c.n;
    }
    // Hanning scales both arrays; Blackman-Harris the real one with a gain of
    // 4; None nothing. The weights computed once give the same numbers.
    constexpr int N = 16;
    for (TFftWindow window : {TFftWindow::Hanning, TFftWindow::BlackmanHarris, TFftWindow::None}) {
        std::vector<double> re(N, 0.5), im(N, -0.25), tableRe(N, 0.5), tableIm(N, -0.25);
        if (window == TFftWindow::Hanning) {
            HanningWindow(re, im, N);
        } else if (window == TFftWindow::BlackmanHarris) {
            BlackmanHarrisWindow(re, im, N);
        }
        TWindowTable table;
        table.Prepare(window, N);
        table.Apply(tableRe, tableIm);
        for (int i = 0; i < N; ++i) {
            const size_t k = static_cast<size_t>(i);
            const double hanning = window == TFftWindow::Hanning ? HanningWeight(i, N) : 1;
            const double blackman =
                window == TFftWindow::BlackmanHarris ? BlackmanHarrisWeight(i, N) * 4 : 1;
            EXPECT_EQ(re[k], 0.5 * hanning * blackman) << FftWindowName(window) << " " << i;
            EXPECT_EQ(im[k], -0.25 * hanning) << FftWindowName(window) << " " << i;
            EXPECT_EQ(tableRe[k], re[k]);
            EXPECT_EQ(tableIm[k], im[k]);
        }
    }
    EXPECT_EQ(FftWindowFromName("hanning"), TFftWindow::BlackmanHarris) << "names are exact";
    EXPECT_EQ(FftWindowFromIndex(2), TFftWindow::None);
}

TEST(FftSpectrum, InputAtFullScaleInTwoRunsAndTheBufferKeptWhileNStays) {
    TFftBuffer buffer;
    PrepareFftInput(buffer, std::vector<int32_t>{INT32_MIN, 1 << 30},
                    std::vector<int32_t>{0, -(1 << 30)});
    EXPECT_EQ(buffer.Real, (std::vector<double>{-1, 0.5, 0, -0.5}));
    EXPECT_EQ(buffer.Imag, (std::vector<double>(4, 0)));

    const std::vector<int32_t> words = SineWords(1024, 5, 0.5);
    const TSpectrum once = SpectrumOf(words, TFftWindow::Hanning);
    TSpectrum split;
    split.Compute(std::span(words).first(700), std::span(words).subspan(700), TFftWindow::Hanning);
    const double* arrays = split.Buffer().Real.data();
    EXPECT_EQ(split.Buffer().Real, once.Buffer().Real);
    split.Compute(words, {}, TFftWindow::Hanning);
    EXPECT_EQ(split.Buffer().Real.data(), arrays) << "the same N keeps the buffer";
    EXPECT_EQ(split.Buffer().Real, once.Buffer().Real);
    split.Compute(SineWords(2048, 5, 0.5), {}, TFftWindow::Hanning);
    EXPECT_EQ(split.Points(), 2048);
}
