// The station's event detection per block, as TStation::TakeBlock pays for it: the detector
// and everything the station does around it (the events file written at each start and end,
// the recent events kept), six channels at 500 samples per second of the simulator's noise
// with a synthetic earthquake every two minutes. Compare with detect_bench (the detector
// alone): the difference is the station's part.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "sim/event_signal.h"
#include "sim/signals.h"
#include "station/station_events.h"

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
        block.SerialNumber = "12345";
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

void BM_StationEventsBlock(benchmark::State& state) {
    static std::vector<TRecordBlock> blocks = MakeBlocks();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("station_events_bench_" + std::to_string(getpid()));
    TStationConfig config;
    config.Archive = dir.string();
    config.Events.Enabled = true;
    config.Events.CsvFile = (dir / "events.csv").string();
    size_t lines = 0;
    auto events = TStationEvents::Make(config, [&lines](const std::string&) { ++lines; });
    if (!events) {
        state.SkipWithError(events.Error().Text.c_str());
        return;
    }
    size_t next = 0;
    int64_t shift = 0;  // the blocks' times run on over each round of the ten minutes
    size_t changes = 0;
    for (auto _ : state) {
        TRecordBlock& block = blocks[next];
        block.Time = 1735689600 + int64_t(next) + shift;
        changes += (*events)->Take(block, 0) ? 1 : 0;
        if (++next == blocks.size()) {
            next = 0;
            shift += Blocks;
        }
    }
    (*events)->Stop();
    state.SetItemsProcessed(int64_t(state.iterations()) * Channels * Rate);
    state.counters["x_real_time"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["starts_and_ends"] = double(changes);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_StationEventsBlock)->Unit(benchmark::kMicrosecond);

}  // namespace
