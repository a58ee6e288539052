// The recorder's work on its worker thread: blocks of six channels at 500 samples per second
// (the most a frame carries) with their state of health, from the simulator's own sine and
// noise signals, into an SDS archive on the temporary directory. "x_highest_rate" is the
// throughput over the highest aggregate rate, 3000 samples per second (above 1: faster than
// the data comes); "bytes_per_sample" is the archive's size over the data samples.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "recording/sds_writer.h"
#include "sim/signals.h"

namespace {

constexpr int Channels = 6;
constexpr int Rate = 500;
constexpr int Blocks = 600;  // ten minutes

std::vector<TRecordBlock> MakeBlocks(TSignalKind kind) {
    TSignalGenerator signals(kind, 1);
    TSignalParams params;
    params.Rate = Rate;
    params.BytesPerSample = 3;
    params.Offset = 1200;
    params.OffsetStep = 0.001;
    std::vector<TRecordBlock> blocks(Blocks);
    for (int b = 0; b < Blocks; ++b) {
        TRecordBlock& block = blocks[size_t(b)];
        block.Time = 1735689600 + b;
        block.ClockLocked = true;
        block.ChannelCount = Channels;
        block.SampleRate = Rate;
        block.BytesPerSample = 3;
        block.SamplesPerBlock = Rate;
        block.SerialNumber = "00012345";
        block.Soh.SupplyMillivolts = 12000 + b % 3;
        block.Soh.HasModuleTemperatures = true;
        for (int c = 0; c < Channels; ++c) {
            std::vector<int32_t>& out = block.Samples[size_t(c)];
            signals.Generate(c, Rate, params, out);
            for (int32_t& x : out) {
                x *= 256;  // as the block holds a 3-byte sample
            }
        }
    }
    return blocks;
}

uint64_t TreeBytes(const std::filesystem::path& root) {
    uint64_t bytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().string().find("/L") == std::string::npos) {
            bytes += entry.file_size();
        }
    }
    return bytes;
}

void BM_RecorderSds(benchmark::State& state) {
    const auto kind = TSignalKind(state.range(0));
    const std::vector<TRecordBlock> blocks = MakeBlocks(kind);
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("recorder_bench_" + std::to_string(getpid()));
    TSdsSettings settings;
    settings.Root = root.string();
    settings.RecordLength = size_t(state.range(1));
    uint64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(root);
        state.ResumeTiming();
        {
            TSdsWriter writer(settings);
            for (const TRecordBlock& block : blocks) {
                writer.Take(block);
            }
            writer.Close();
        }
        state.PauseTiming();
        bytes = TreeBytes(root);
        state.ResumeTiming();
    }
    std::filesystem::remove_all(root);
    const double samples = double(Blocks) * Channels * Rate;
    state.SetItemsProcessed(int64_t(state.iterations() * samples));
    state.counters["x_highest_rate"] = benchmark::Counter(
        double(state.iterations()) * samples / (Channels * Rate), benchmark::Counter::kIsRate);
    state.counters["bytes_per_sample"] = double(bytes) / samples;
    state.SetLabel(std::string(kind == TSignalKind::Sine ? "sine" : "noise") + ", " +
                   std::to_string(state.range(1)) + "-byte records");
}

}  // namespace

BENCHMARK(BM_RecorderSds)
    ->ArgsProduct({{int(TSignalKind::Sine), int(TSignalKind::Noise)}, {512, 4096}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
