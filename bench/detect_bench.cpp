// The event detector's cost per block: six channels at 500 samples per second (the most a
// frame carries), one block per second of the simulator's noise with a synthetic earthquake
// now and then, the band-pass on (1 to 10 Hz, 2 poles per side, the default) or off. The time
// per iteration is the time per block; "x_real_time" is a second of data over the time it
// takes to detect on it.
#include <benchmark/benchmark.h>

#include <vector>

#include "detect/event_detector.h"
#include "sim/event_signal.h"
#include "sim/signals.h"

namespace {

constexpr int Channels = 6;
constexpr int Rate = 500;
constexpr int Blocks = 600;  // ten minutes

std::vector<TRecordBlock> MakeBlocks() {
    TSignalGenerator noise(TSignalKind::Noise, 1);
    TSignalParams params;
    params.Rate = Rate;
    params.BytesPerSample = 3;
    params.Offset = 1200;
    std::vector<TSimEvent> events;
    for (int at = 60; at < Blocks; at += 120) {
        TSimEvent e;
        e.At = at;
        e.Duration = 30;
        e.Amplitude = 2e6;
        events.push_back(e);
    }
    std::vector<TRecordBlock> blocks(Blocks);
    for (int b = 0; b < Blocks; ++b) {
        TRecordBlock& block = blocks[size_t(b)];
        block.Time = 1735689600 + b;
        block.ChannelCount = Channels;
        block.SampleRate = Rate;
        block.BytesPerSample = 3;
        block.SamplesPerBlock = Rate;
        std::vector<int32_t> wire[6];
        for (int c = 0; c < Channels; ++c) {
            noise.Generate(c, Rate, params, wire[c]);
        }
        AddEvents(events, 1, TEventFrame{uint64_t(b), block.Time, Rate, Channels, 3}, wire);
        for (int c = 0; c < Channels; ++c) {
            for (int32_t x : wire[c]) {
                block.Samples[size_t(c)].push_back(x * 256);  // as the block holds 3 bytes
            }
        }
    }
    return blocks;
}

void BM_DetectBlock(benchmark::State& state) {
    static const std::vector<TRecordBlock> blocks = MakeBlocks();
    TDetectorSettings settings;
    settings.BandpassOn = state.range(0) != 0;
    auto detector = TEventDetector::Make(settings);
    if (!detector) {
        state.SkipWithError(detector.Error().Text.c_str());
        return;
    }
    size_t next = 0;
    size_t events = 0;
    for (auto _ : state) {
        TDetectorNews news = (*detector).Take(blocks[next], 0);
        events += news.Events.size();
        benchmark::DoNotOptimize(news);
        next = (next + 1) % blocks.size();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * Channels * Rate);
    state.counters["x_real_time"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["events"] = double(events);
}
BENCHMARK(BM_DetectBlock)->ArgName("bandpass")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace
