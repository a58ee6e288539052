// Decoding throughput of the frame decoder and of the receiver, in bytes per
// second and as a multiple of the fastest line rate (115200 bit/s, 11520 bytes/s).
#include <benchmark/benchmark.h>

#include <random>

#include "digitizer/digitizer.h"
#include "digitizer/frame_parser.h"
#include "sim/frame_encoder.h"

namespace {

constexpr double FastestLineBytesPerSecond = 11520;

std::vector<uint8_t> BenchFrame(uint32_t count, int channels, int samples, int bytes) {
    TWireFrame frame;
    SetText(frame.DeviceId, "QF 5150-400");
    SetText(frame.FilterType, "MP");
    SetText(frame.GainCode, "L");
    frame.BlockCount = count;
    frame.NumComponents = static_cast<uint16_t>(channels);
    frame.TotalRate = 3000;
    frame.BytesPerSample = static_cast<uint16_t>(bytes);
    frame.HasMde = true;
    std::mt19937 random(count);
    const int32_t half = 1 << (8 * bytes - 2);
    for (int c = 0; c < channels; ++c) {
        for (int j = 0; j < samples; ++j) {
            frame.Samples[c].push_back(static_cast<int32_t>(random() % (2 * half)) - half);
        }
    }
    return EncodeFrame(frame);
}

void ReportRate(benchmark::State& state, size_t bytesPerIteration) {
    const double bytes = double(state.iterations()) * double(bytesPerIteration);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["xLineRate"] =
        benchmark::Counter(bytes / FastestLineBytesPerSecond, benchmark::Counter::kIsRate);
}

// ParseFrame on one frame of the given shape.
void BM_ParseFrame(benchmark::State& state) {
    const auto frame =
        BenchFrame(1, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 3);
    for (auto _ : state) {
        TDataBlock* block = NewBlock();
        bool ok = ParseFrame(block, frame.data(), static_cast<int32_t>(frame.size()));
        benchmark::DoNotOptimize(ok);
        FreeBlock(block);
        if (!ok) {
            state.SkipWithError("frame did not decode");
            break;
        }
    }
    ReportRate(state, frame.size());
}
// 6 x 3000 x 3 bytes (54 KB, larger than the receive buffer takes) and the
// largest frame the header allows on the line, 6 x 500 x 3 bytes.
BENCHMARK(BM_ParseFrame)->Args({6, 3000})->Args({6, 500});

// Receive on a stream of frames: framing, echo checks and decoding together.
// range: channels, samples per channel, a command queued (1) or not, bytes per sample.
void BM_Receive(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const int samples = static_cast<int>(state.range(1));
    const int bytes = static_cast<int>(state.range(3));
    std::vector<uint8_t> stream;
    for (uint32_t i = 0; i < 16; ++i) {
        auto frame = BenchFrame(i, channels, samples, bytes);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    int64_t posted = 0;
    TDigitizer link(
        1, 19200,
        [&posted](TDataBlock* block) {
            ++posted;
            FreeBlock(block);
            return true;
        },
        "/dev/kestrel-bench-no-device");
    if (state.range(2) != 0) {
        link.SetCalibration(1);  // a queued command: every position is checked for its echo
    }
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += ReadChunkSize) {
            const size_t n = std::min<size_t>(ReadChunkSize, stream.size() - at);
            link.Receive(stream.data() + at, static_cast<int>(n));
        }
    }
    if (posted < int64_t(state.iterations()) * 16 - 1) {
        state.SkipWithError("frames were lost");
    }
    ReportRate(state, stream.size());
}
// 6 x 500 24-bit samples (a 9,000-byte payload) is the largest frame: a frame's rate summed
// over its channels is at most 3000 samples per second.
BENCHMARK(BM_Receive)->Args({6, 500, 0, 3})->Args({6, 500, 1, 3})->Args({3, 100, 0, 3});

}  // namespace
