// The Spectrogram page's cost per block at six channels of 500 samples per second (the
// highest rate six channels reach), noise with a sine on each:
// - BM_SpectrogramColumns: the core alone (TSpectrogram::TakeNewSamples after the model's
//   rings took the block), as it runs after every block whether the page is shown or not;
//   "columns" is the columns made per block, "column_bytes" the memory of all six rings;
// - BM_SpectrogramPage: the page shown alone at the window's size, BlockArrived (columns,
//   scroll, the new pixels, the time labels) and its repaint; with whole = 1 every band is
//   drawn again (as after a change of range, axis or span);
// - BM_WindowBlockWithSpectrogram: the whole window with the Spectrogram tab visible (every
//   page fed, the FFT page's spectra included), as pages_block_bench measures the others.
// Arguments: FFT points, span in minutes (and whole).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <random>

#include "main/main_form.h"
#include "main/time_frequency_page.h"
#include "monitor/channel_stats.h"
#include "monitor/monitor_model.h"
#include "monitor/time_frequency.h"
#include "support/blocks.h"

namespace {

constexpr int Rate = 500;
constexpr int Channels = 6;

// Blocks of noise on a sine per channel, made in turn.
class TBlockSource {
  public:
    TDataBlock* Make() {
        const uint32_t block = ++count_;
        return MakeBlock(
            {.Channels = Channels,
             .Rate = Rate,
             .BlockCount = block,
             .Counts = [this, block](int c, int j) {
                 const double t = (static_cast<double>(block) * Rate + j) / Rate;
                 const double sine = 200000 * std::sin(2 * std::numbers::pi * 10 * (c + 1) * t);
                 return static_cast<int32_t>(sine) + static_cast<int32_t>(random_() % 2001) - 1000;
             }});
    }

  private:
    uint32_t count_ = 0;
    std::mt19937 random_{5};
};

TSettings BenchSettings(int points, int minutes) {
    TSettings settings;
    settings.AutoCalc = 0;  // the FFT page's spectra are not the page's cost
    settings.SpectrogramPoints = points;
    settings.SpectrogramMinutes = minutes;
    return settings;
}

// The first span filled, so that the rings are full and the auto range sees them all.
template <typename Feed>
void FillSpan(int minutes, Feed feed) {
    for (int b = 0; b < minutes * 60 + 10; ++b) {
        feed();
    }
}

void BM_SpectrogramColumns(benchmark::State& state) {
    const int points = static_cast<int>(state.range(0));
    const int minutes = static_cast<int>(state.range(1));
    TBlockSource source;
    TChannelModel channels;
    TSpectrogram spectrogram(points, minutes);
    const std::array<int32_t, MaxChannels> gains{1, 1, 1, 1, 1, 1};
    double start = 1.0e9;
    const auto feed = [&] {
        TBlockPtr block(source.Make());
        channels.UpdateChannelStatistics(*block->Samples, Channels, Rate, Rate, gains);
        spectrogram.TakeNewSamples(channels, Channels, Rate, start);
        start += 1;
    };
    FillSpan(minutes, feed);
    const int64_t before = spectrogram.Columns(0).Total();
    for (auto _ : state) {
        state.PauseTiming();
        TBlockPtr block(source.Make());
        channels.UpdateChannelStatistics(*block->Samples, Channels, Rate, Rate, gains);
        state.ResumeTiming();
        spectrogram.TakeNewSamples(channels, Channels, Rate, start);
        start += 1;
    }
    state.counters["columns"] = static_cast<double>(spectrogram.Columns(0).Total() - before) /
                                static_cast<double>(state.iterations());
    state.counters["column_bytes"] = static_cast<double>(spectrogram.MemoryBytes());
}

void BM_SpectrogramPage(benchmark::State& state) {
    const int points = static_cast<int>(state.range(0));
    const int minutes = static_cast<int>(state.range(1));
    const bool whole = state.range(2) != 0;
    TBlockSource source;
    TMonitorModel model(BenchSettings(points, minutes));
    TTimeFrequencyPage page(model, [] {});
    page.resize(761, 470);  // the page's size in the window at its design size
    page.show();
    QApplication::processEvents();
    const auto feed = [&] {
        TBlockPtr block(source.Make());
        const TBlockOutcome outcome = model.ProcessBlock(*block, std::nullopt);
        if (outcome.FormatChanged) {
            page.FormatChanged();
        }
        page.BlockArrived(false);
    };
    FillSpan(minutes, feed);
    page.View()->repaint();
    for (auto _ : state) {
        state.PauseTiming();
        TBlockPtr block(source.Make());
        model.ProcessBlock(*block, std::nullopt);
        state.ResumeTiming();
        page.BlockArrived(whole);
        page.View()->repaint();
    }
    state.counters["column_bytes"] = static_cast<double>(page.Spectrogram().MemoryBytes());
}

void BM_WindowBlockWithSpectrogram(benchmark::State& state) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "spectrogrambench.XXXXXX").string();
    const std::string dir = mkdtemp(pattern.data());
    std::ofstream(dir + "/kestrel32.ini")
        << "[Spectrogram]\nPoints=" << state.range(0) << "\nMinutes=" << state.range(1) << "\n";
    TStartOptions options;
    options.SettingsPath = dir + "/kestrel32.ini";
    options.Device = dir + "/no-such-device";
    TBlockSource source;
    {
        TMainForm form(options);
        form.Prompts().SetMessageSink([](const QString&) {});
        form.Timer()->stop();
        form.show();
        form.PageControl()->setCurrentIndex(TMainForm::SpectrogramTab);
        QApplication::processEvents();
        FillSpan(static_cast<int>(state.range(1)), [&] { form.ProcessBlock(source.Make()); });
        QApplication::processEvents();
        for (auto _ : state) {
            state.PauseTiming();
            TDataBlock* block = source.Make();
            state.ResumeTiming();
            form.ProcessBlock(block);
            QApplication::processEvents();  // the visible page's repaint
        }
    }
    std::filesystem::remove_all(dir);
}

BENCHMARK(BM_SpectrogramColumns)
    ->Args({1024, 10})
    ->Args({256, 10})
    ->Args({4096, 10})
    ->Args({256, 60})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrogramPage)
    ->Args({1024, 10, 0})
    ->Args({256, 10, 0})
    ->Args({4096, 60, 0})
    ->Args({256, 60, 0})
    ->Args({1024, 10, 1})
    ->Args({256, 60, 1})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WindowBlockWithSpectrogram)->Args({1024, 10})->Unit(benchmark::kMicrosecond);

}  // namespace
