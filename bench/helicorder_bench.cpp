// The Helicorder: its slots' memory and per-block cost at 6 x 500 samples per second, the whole
// picture of 24 hours drawn again (the page's view, and Save Picture's day), and one block in
// the main window while the Helicorder page is visible (the model, every page, the newest rows
// drawn and the repaint) against the same block with the Header page visible, and the model's
// share of it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "main/helicorder_picture.h"
#include "main/main_form.h"
#include "monitor/helicorder.h"
#include "monitor/monitor_model.h"
#include "support/blocks.h"

namespace {

constexpr int64_t T0 = 1767225600;  // 2026-01-01T00:00:00Z
constexpr int Rate = 500;

// A block of six channels of noise; its time is set by the caller.
TRecordBlock NoiseBlock(uint32_t seed) {
    std::mt19937 random(seed);
    TRecordBlock block;
    block.ChannelCount = 6;
    block.SampleRate = Rate;
    block.BytesPerSample = 3;
    block.SamplesPerBlock = Rate;
    for (int c = 0; c < 6; ++c) {
        for (int j = 0; j < Rate; ++j) {
            const int32_t counts = static_cast<int32_t>(random() % 200001) - 100000 + 1000 * c;
            block.Samples[static_cast<size_t>(c)].push_back(counts * 256);
        }
    }
    return block;
}

// 24 hours of 6 x 500 samples per second, and an event every quarter of an hour.
struct TDay {
    THelicorder Heli;
    std::deque<TEvent> Events;
    TDay() {
        std::vector<TRecordBlock> blocks;
        for (uint32_t b = 0; b < 4; ++b) {
            blocks.push_back(NoiseBlock(b));
        }
        for (int64_t s = 0; s < 86400; ++s) {
            TRecordBlock& block = blocks[static_cast<size_t>(s % 4)];
            block.Time = T0 + s;
            Heli.Take(block);
            if (s % 900 == 300) {
                TEvent event;
                event.Start = {T0 + s, 0};
                event.End = {T0 + s + 40, 0};
                Events.push_back(event);
            }
        }
    }
};

TDay& Day() {
    static TDay day;
    return day;
}

THelicorderDraw DayDraw(int rowMinutes) {
    THelicorderDraw draw;
    draw.Source = &Day().Heli;
    draw.Events = &Day().Events;
    draw.Channel = 2;
    draw.Rows = HelicorderRows(T0 + 86399, 24, rowMinutes);
    draw.HalfRowCounts = 8388608.0 / 16;
    return draw;
}

// One block into the slots of all six channels, band-pass included.
void BM_HelicorderTake(benchmark::State& state) {
    THelicorder heli;
    TRecordBlock block = NoiseBlock(7);
    int64_t second = 0;
    for (auto _ : state) {
        block.Time = T0 + second++;
        heli.Take(block);
    }
    state.counters["bytes"] = static_cast<double>(heli.Bytes());
}
BENCHMARK(BM_HelicorderTake)->Unit(benchmark::kMicrosecond);

// The whole day drawn again: state.range(0) x state.range(1) pixels, rows of state.range(2)
// minutes. 988 x 591 is the page's view in a 1000 x 700 window; 1600 x (rows x 16) is Save
// Picture's.
void BM_HelicorderFullRedraw(benchmark::State& state) {
    const THelicorderDraw draw = DayDraw(static_cast<int>(state.range(2)));
    QImage image(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                 QImage::Format_RGB32);
    THelicorderPicture picture;
    for (auto _ : state) {
        picture.Draw(image, draw);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["slot_bytes"] = static_cast<double>(Day().Heli.Bytes());
}
BENCHMARK(BM_HelicorderFullRedraw)
    ->Args({988, 591, 30})
    ->Args({988, 591, 15})
    ->Args({1600, 48 * 16, 30})
    ->Args({1600, 96 * 16, 15})
    ->Unit(benchmark::kMillisecond);

// One block through the window's model alone (histories, statistics, event detection, the
// helicorder's slots), no page.
void BM_ModelBlock(benchmark::State& state) {
    TMonitorModel model(DefaultSettings(""), {}, [] { return TBlockTime{T0}; });
    std::mt19937 random(5);
    uint32_t count = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TBlockPtr block = MakeOwnedBlock(
            {.Channels = 6, .Rate = Rate, .BlockCount = ++count, .Counts = [&random](int c, int) {
                 return static_cast<int32_t>(random() % 200001) - 100000 + 1000 * c;
             }});
        state.ResumeTiming();
        benchmark::DoNotOptimize(model.ProcessBlock(*block, std::nullopt));
    }
}
BENCHMARK(BM_ModelBlock)->Unit(benchmark::kMicrosecond);

class TBenchWindow {
  public:
    TBenchWindow() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "helibench.XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        const std::string settings = dir_ + "/kestrel32.ini";
        std::ofstream(settings) << "[Helicorder]\nChannel=1\nHours=24\nRowMinutes=30\nGain=4\n"
                                   "Bandpass=1\n";
        TStartOptions options;
        options.SettingsPath = settings;
        options.Device = dir_ + "/no-such-device";
        form_ = std::make_unique<TMainForm>(options);
        form_->Prompts().SetMessageSink([](const QString&) {});
        form_->Timer()->stop();
        form_->resize(1000, 700);
        form_->show();
        QApplication::processEvents();
        for (int b = 0; b < 120; ++b) {
            form_->ProcessBlock(Make());
        }
        QApplication::processEvents();
    }
    ~TBenchWindow() {
        form_.reset();
        std::filesystem::remove_all(dir_);
    }
    TDataBlock* Make() {
        return MakeBlock(
            {.Channels = 6, .Rate = Rate, .BlockCount = ++count_, .Counts = [this](int c, int) {
                 return static_cast<int32_t>(random_() % 200001) - 100000 + 1000 * c;
             }});
    }
    TMainForm& Form() { return *form_; }

  private:
    std::string dir_;
    std::unique_ptr<TMainForm> form_;
    uint32_t count_ = 0;
    std::mt19937 random_{4};
};

// state.range(0): the visible tab.
void BM_BlockInWindow(benchmark::State& state) {
    TBenchWindow window;
    window.Form().PageControl()->setCurrentIndex(static_cast<int>(state.range(0)));
    QApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        TDataBlock* block = window.Make();
        state.ResumeTiming();
        window.Form().ProcessBlock(block);
        QApplication::processEvents();  // the visible page's repaint
    }
}
BENCHMARK(BM_BlockInWindow)
    ->Arg(TMainForm::HelicorderTab)
    ->Arg(TMainForm::HeaderTab)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
