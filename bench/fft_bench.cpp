// The FFT page's numeric work on 8192 points: the transform alone, for
// comparison the same transform by FFTW (when the build found it; a
// benchmark-only dependency), one channel's whole spectrum (input, Blackman-
// Harris window, transform, dB) and six channels' spectra as RecomputeSpectra
// does them after a block. Times are also given as a fraction of the
// one-second block period ("of_block_period" = seconds per iteration).
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "fft/fft.h"
#include "fft/fft_channel.h"
#include "monitor/monitor_model.h"
#include "support/blocks.h"

#if HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

constexpr int Points = 8192;

// A sine on noise, as raw words: the input of every benchmark here.
std::vector<int32_t> Words() {
    std::mt19937 random(5);
    std::vector<int32_t> words(Points);
    for (int i = 0; i < Points; ++i) {
        const double sine = 1e8 * std::sin(2 * std::numbers::pi * 123.4 * i / Points);
        words[static_cast<size_t>(i)] =
            static_cast<int32_t>(sine + static_cast<double>(random() % 2000001) - 1e6);
    }
    return words;
}

void ReportPeriodFraction(benchmark::State& state) {
    state.counters["of_block_period"] =
        benchmark::Counter(static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The transform in place: the input copied in, then Fft forward.
void BM_Fft(benchmark::State& state) {
    const std::vector<int32_t> words = Words();
    TFftBuffer buffer(Points);
    for (auto _ : state) {
        PrepareFftInput(buffer, words, {});
        Fft(buffer, false);
        benchmark::DoNotOptimize(buffer.Real.data());
    }
    ReportPeriodFraction(state);
}

#if HAVE_FFTW
// FFTW on the same complex input (imaginary part 0), planned once with
// FFTW_MEASURE; the input copied in each time as for Fft.
void BM_Fftw(benchmark::State& state) {
    const std::vector<int32_t> words = Words();
    fftw_complex* in = fftw_alloc_complex(Points);
    fftw_complex* out = fftw_alloc_complex(Points);
    fftw_plan plan = fftw_plan_dft_1d(Points, in, out, FFTW_BACKWARD, FFTW_MEASURE);
    for (auto _ : state) {
        for (int i = 0; i < Points; ++i) {
            in[i][0] = words[static_cast<size_t>(i)] * RawWordScale;
            in[i][1] = 0;
        }
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    // The same numbers as Fft, but for the 1/N Fft applies.
    TFftBuffer buffer(Points);
    PrepareFftInput(buffer, words, {});
    Fft(buffer, false);
    double error = 0;
    for (int i = 0; i < Points; ++i) {
        error = std::max(error, std::abs(out[i][0] / Points - buffer.Real[static_cast<size_t>(i)]));
        error = std::max(error, std::abs(out[i][1] / Points - buffer.Imag[static_cast<size_t>(i)]));
    }
    state.counters["max_difference"] = error;
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
    ReportPeriodFraction(state);
}
BENCHMARK(BM_Fftw)->Unit(benchmark::kMicrosecond);
#endif

// One channel's spectrum: input, window, transform, dB.
void BM_Spectrum(benchmark::State& state) {
    const std::vector<int32_t> words = Words();
    TSpectrum spectrum;
    for (auto _ : state) {
        spectrum.Compute(words, {}, TFftWindow::BlackmanHarris);
        benchmark::DoNotOptimize(spectrum.Level(0));
    }
    ReportPeriodFraction(state);
}

// RecomputeSpectra: six channels of full rings.
void BM_RecomputeSixSpectra(benchmark::State& state) {
    TSettings settings;
    settings.Points = Points;
    settings.AutoCalc = 0;  // recomputed by the benchmark only
    TMonitorModel model(settings, TNumberSeparators{});
    std::mt19937 random(9);
    for (int b = 0; b < 90; ++b) {
        model.ProcessBlock(
            *MakeOwnedBlock({.Channels = 6,
                             .Counts =
                                 [&random](int, int) {
                                     return static_cast<int32_t>(random() % 2000001) - 1000000;
                                 }}),
            115200);
    }
    for (auto _ : state) {
        model.RecomputeSpectra();
    }
    ReportPeriodFraction(state);
}

BENCHMARK(BM_Fft)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Spectrum)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecomputeSixSpectra)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
