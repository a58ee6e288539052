// The channel model with six channels and a long history: one block's update,
// one full redraw's column summary for an 800-pixel band, and the memory per
// stored sample. Times are also given as a fraction of the one-second block
// period ("of_block_period" = seconds per iteration).
#include <benchmark/benchmark.h>

#include "bench/bench_blocks.h"

#include <array>
#include <memory>
#include <random>
#include <vector>

#include "monitor/channel_stats.h"
#include "monitor/column_summary.h"

namespace {

constexpr int Channels = 6;
constexpr int BandWidth = 800;
const std::array<int32_t, MaxChannels> Gains = {1, 10, 1, 1, 10, 1};

struct TFilled {
    std::unique_ptr<TChannelModel> Model = std::make_unique<TChannelModel>();
    std::vector<TSampleSet> Blocks;
    int PerBlock;
    double Rate;
    int64_t Updates = 0;

    // Fed with `blocks` blocks after a reset.
    TFilled(int rate, int seconds, int64_t blocks)
        : Blocks(NoiseBlocks(Channels, rate)), PerBlock(rate), Rate(rate) {
        Model->SetStoredSeconds(seconds);
        for (int64_t b = 0; b < blocks; ++b) {
            Update();
        }
    }
    void Update() {
        Model->UpdateChannelStatistics(Blocks[Updates++ % Blocks.size()], Channels, PerBlock, Rate,
                                       Gains);
    }
};

void ReportPeriodFraction(benchmark::State& state) {
    state.counters["of_block_period"] =
        benchmark::Counter(static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Memory of full histories: bytes held per stored sample, all six channels.
void ReportMemory(benchmark::State& state, const TChannelModel& model) {
    size_t bytes = 0;
    size_t samples = 0;
    for (int c = 0; c < Channels; ++c) {
        bytes += model.ChannelHistory(c).MemoryBytes();
        samples += model.ChannelHistory(c).Size();
    }
    state.counters["bytes_per_sample"] = static_cast<double>(bytes) / static_cast<double>(samples);
    state.counters["stored_samples"] = static_cast<double>(samples);
}

// One block of `rate` samples on six channels, the history one block short of
// full when timing starts (it then fills, is cleared and grows again).
void BM_UpdateChannelStatistics(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int seconds = static_cast<int>(state.range(1));
    TFilled filled(rate, seconds, seconds - 1);
    for (auto _ : state) {
        filled.Update();
    }
    ReportPeriodFraction(state);
}

// Column summaries of all six full histories for an 800-pixel band.
void BM_FullRedrawSummary(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int seconds = static_cast<int>(state.range(1));
    TFilled filled(rate, seconds, seconds);
    const double xScale = BandWidth / static_cast<double>(filled.Model->StoredSampleLimit(rate));
    std::vector<TMinMax> columns;
    for (auto _ : state) {
        for (int c = 0; c < Channels; ++c) {
            SummarizeColumns(filled.Model->ChannelHistory(c), 0, xScale, BandWidth, columns);
            benchmark::DoNotOptimize(columns.data());
        }
    }
    ReportPeriodFraction(state);
    ReportMemory(state, *filled.Model);
}

// For comparison: the same six full histories read sample by sample, as a
// redraw that visits every sample must.
void BM_FullRedrawEverySample(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int seconds = static_cast<int>(state.range(1));
    TFilled filled(rate, seconds, seconds);
    for (auto _ : state) {
        for (int c = 0; c < Channels; ++c) {
            const TChannelHistory& history = filled.Model->ChannelHistory(c);
            TMinMax range;
            for (size_t j = 0; j < history.Size(); ++j) {
                range.Add(history[j]);
            }
            benchmark::DoNotOptimize(range);
        }
    }
    ReportPeriodFraction(state);
}

// A day at 100 samples per second, and an hour at 3000.
BENCHMARK(BM_UpdateChannelStatistics)
    ->Args({100, 86400})
    ->Args({3000, 3600})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullRedrawEverySample)
    ->Args({100, 86400})
    ->Args({3000, 3600})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullRedrawSummary)
    ->Args({100, 86400})
    ->Args({3000, 3600})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
