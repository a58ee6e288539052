// The Channels page's drawing with six channels and long histories on an
// 800-pixel band: one block taken into the model plus its incremental draw, one
// full redraw (by columns), the same redraw sample by sample for comparison,
// and a zoom click on the page itself (figures laid out and filled, six
// channels redrawn). Times are also given as a fraction of the one-second
// block period ("of_block_period" = seconds per iteration).
#include <benchmark/benchmark.h>

#include "bench/bench_blocks.h"

#include <QApplication>
#include <QImage>
#include <array>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "main/band_list.h"
#include "main/channel_trace.h"
#include "main/channels_page.h"
#include "main/graph_resources.h"
#include "monitor/monitor_model.h"

namespace {

constexpr int Channels = 6;
constexpr int BandWidth = 800;
constexpr int BandHeight = 80;  // six bands in a list 480 pixels high

// Blocks of noise on a slow drift, six channels with 2 and 5 at high gain.
std::vector<TBlockPtr> NoiseDataBlocks(int rate) {
    std::vector<TBlockPtr> blocks;
    for (TSampleSet& samples : NoiseBlocks(Channels, rate)) {
        TBlockShape shape{.Channels = Channels, .Rate = rate, .GainCode = std::string("G\x12")};
        blocks.push_back(MakeOwnedBlock(shape));
        *blocks.back()->Samples = std::move(samples);
    }
    return blocks;
}

// Six channels fed block by block through the model and drawn as the page
// draws them.
struct TPlot {
    TMonitorModel Model;
    int PerBlock;
    std::vector<TBlockPtr> Blocks;
    TGraphResources Resources;
    std::array<QImage, Channels> Images;
    std::array<TTraceSweep, Channels> Sweeps{};
    int64_t Updates = 0;

    TPlot(int rate, int seconds)
        : Model(TSettings{}, TNumberSeparators{}), PerBlock(rate), Blocks(NoiseDataBlocks(rate)) {
        Model.SetStoredSeconds(seconds);
        for (QImage& image : Images) {
            image = QImage(BandWidth, BandHeight, QImage::Format_RGB32);
            image.fill(Qt::black);
        }
    }
    void Update() {
        Model.ProcessBlock(*Blocks[static_cast<size_t>(Updates++) % Blocks.size()], 115200);
    }
    // The page's DrawTraces: `start` 0 for a full redraw, else the newest block.
    void Draw(bool full, bool everySegment = false) {
        const TChannelModel& channels = Model.Channels();
        const size_t size = channels.ChannelHistory(0).Size();
        TTraceDraw draw;
        draw.Start = full ? 0 : size - static_cast<size_t>(PerBlock);
        draw.NewSweep = full || draw.Start == 0;
        if (everySegment) {
            draw.Start = 1;  // a new sweep drawn sample by sample
        }
        draw.Span = channels.StoredSampleLimit(Model.Format().SampleRate);
        for (int c = 0; c < Channels; ++c) {
            draw.GainFactor = Model.GainFactors()[static_cast<size_t>(c)];
            draw.SweepDcRef = channels.ChannelStats(c).Offset;
            DrawChannelTrace(Images[c], Resources, channels.ChannelHistory(c), draw, Sweeps[c]);
        }
    }
};

// One plot per (rate, seconds, use), filled once. For the block benchmark
// `seconds` - 1 blocks, one short of a full window (it then fills, restarts
// and grows again); for the redraws a full window, which they leave alone.
TPlot& FilledPlot(const benchmark::State& state, bool forBlocks) {
    const int rate = static_cast<int>(state.range(0));
    const int seconds = static_cast<int>(state.range(1));
    static std::map<std::tuple<int, int, bool>, std::unique_ptr<TPlot>> plots;
    auto& plot = plots[{rate, seconds, forBlocks}];
    if (!plot) {
        plot = std::make_unique<TPlot>(rate, seconds);
        for (int b = forBlocks ? 1 : 0; b < seconds; ++b) {
            plot->Update();
        }
        plot->Draw(true);
    }
    return *plot;
}

void ReportPeriodFraction(benchmark::State& state) {
    state.counters["of_block_period"] =
        benchmark::Counter(static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One block: the model's work (format, texts, statistics and histories), then
// the newest block drawn into
// the six bands (a new sweep once per window, when the history restarts).
void BM_BlockUpdateAndDraw(benchmark::State& state) {
    TPlot& plot = FilledPlot(state, true);
    for (auto _ : state) {
        plot.Update();
        plot.Draw(false);
    }
    ReportPeriodFraction(state);
}

// A full redraw of the six bands: one run per pixel column.
void BM_FullRedraw(benchmark::State& state) {
    TPlot& plot = FilledPlot(state, false);
    for (auto _ : state) {
        plot.Draw(true);
    }
    ReportPeriodFraction(state);
    state.counters["samples"] =
        static_cast<double>(plot.Model.Channels().ChannelHistory(0).Size()) * Channels;
}

// For comparison: the same redraw visiting every sample (the per-block path).
void BM_FullRedrawEverySegment(benchmark::State& state) {
    TPlot& plot = FilledPlot(state, false);
    for (auto _ : state) {
        plot.Draw(true, true);
    }
    ReportPeriodFraction(state);
}

// A zoom click on the page: ShowDetails (layout and texts), a full
// redraw of six channels, the repaint request and the buttons.
void BM_ZoomClick(benchmark::State& state) {
    TPlot& plot = FilledPlot(state, false);
    TChannelsPage page(plot.Model, plot.Resources, [] {});
    page.resize(145 + BandWidth, 41 + 6 * BandHeight);
    page.show();
    QApplication::processEvents();
    page.RebuildBands();
    page.UpdateZoomButtons(true);
    bool in = true;
    for (auto _ : state) {
        page.ZoomKey(in, false);
        in = !in;
    }
    ReportPeriodFraction(state);
    state.counters["band_width"] = page.StoredWavesList()->ItemWidth();
}

// A day at 100 samples per second, and an hour at 3000. The redraws also for the longest
// history: a day at 500, the highest rate six channels reach, as a frame's rate summed over
// its channels is at most 3000 samples per second (6 x 43.2 million samples, about 1 GB).
BENCHMARK(BM_BlockUpdateAndDraw)
    ->Args({100, 86400})
    ->Args({3000, 3600})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullRedraw)
    ->Args({100, 86400})
    ->Args({500, 86400})
    ->Args({3000, 3600})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullRedrawEverySegment)
    ->Args({100, 86400})
    ->Args({500, 86400})
    ->Args({3000, 3600})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomClick)
    ->Args({100, 86400})
    ->Args({500, 86400})
    ->Args({3000, 3600})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
