// One block in the main window with every page active: six channels, the
// Channels page drawing the newest block, the Temperatures page its dots, the
// FFT page six 8192-point Blackman-Harris spectra recomputed and drawn whole,
// the Header and GPS pages filled, and the visible page repainted. As a
// fraction of the one-second block period ("of_block_period" = seconds per
// block). The window runs offscreen on a device that does not open.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "main/main_form.h"
#include "support/blocks.h"

namespace {

class TBenchWindow {
  public:
    explicit TBenchWindow(int rate) : rate_(rate) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pagesbench.XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        const std::string settings = dir_ + "/kestrel32.ini";
        std::ofstream(settings) << "[FFT]\nPoints=8192\nWindow=Blackman Harris\nAutoCalc=1\n"
                                   "[Temperatures]\nStoredHours=100\n";
        TStartOptions options;
        options.SettingsPath = settings;
        options.Device = dir_ + "/no-such-device";
        form_ = std::make_unique<TMainForm>(options);
        form_->Prompts().SetMessageSink([](const QString&) {});
        form_->Timer()->stop();
        form_->show();
        QApplication::processEvents();
        // Full rings: 8192 samples of every channel.
        for (int b = 0; b * rate < 8192 + rate; ++b) {
            Block();
        }
        QApplication::processEvents();
    }
    ~TBenchWindow() {
        form_.reset();
        std::filesystem::remove_all(dir_);
    }

    TDataBlock* Make() {
        return MakeBlock({.Channels = 6,
                          .Rate = rate_,
                          .GainCode = std::string("G\x12"),
                          .BlockCount = ++count_,
                          .SensorTemp = 20 + static_cast<double>(count_ % 100) / 10,
                          .Counts = [this](int c, int) {
                              return static_cast<int32_t>(random_() % 200001) - 100000 + 1000 * c;
                          }});
    }
    void Block() { form_->ProcessBlock(Make()); }
    TMainForm& Form() { return *form_; }

  private:
    int rate_;
    std::string dir_;
    std::unique_ptr<TMainForm> form_;
    uint32_t count_ = 0;
    std::mt19937 random_{4};
};

// state.range(0): samples per second; state.range(1): the visible tab.
void BM_BlockWithEveryPage(benchmark::State& state) {
    TBenchWindow window(static_cast<int>(state.range(0)));
    window.Form().PageControl()->setCurrentIndex(static_cast<int>(state.range(1)));
    QApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        TDataBlock* block = window.Make();
        state.ResumeTiming();
        window.Form().ProcessBlock(block);
        QApplication::processEvents();  // the visible page's repaint
    }
    state.counters["of_block_period"] =
        benchmark::Counter(static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// 6 x 500 samples per second is the highest rate six channels reach: a frame's rate summed
// over its channels is at most 3000 samples per second.
BENCHMARK(BM_BlockWithEveryPage)
    ->Args({100, TMainForm::FftTab})
    ->Args({100, TMainForm::ChannelsTab})
    ->Args({100, TMainForm::TemperaturesTab})
    ->Args({500, TMainForm::FftTab})
    ->Args({500, TMainForm::ChannelsTab})
    ->Args({500, TMainForm::TemperaturesTab})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
