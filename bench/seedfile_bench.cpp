// The SEED writer. Steim-1 encoding throughput against libmseed's own Steim-1 packing of the
// same samples (its public msr_pack into 4096-byte records, and its bare frame encoder), for
// a sine with noise and for full-scale noise; "ratio" is libmseed's time over ours (above 1:
// ours is faster). And the time to write the largest file period, 3000 samples per second for
// 60 minutes (10.8 million samples), as a fraction of one block period ("of_block_period").
#include <benchmark/benchmark.h>
#include <libmseed.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <random>
#include <vector>

#include "recording/period_files.h"
#include "seedfile/seed_file.h"
#include "seedfile/seed_record.h"

// libmseed 2's bare Steim-1 encoder (packdata.h is not installed): the samples that fit in
// `outputlength` bytes of frames, differences from `diff0`.
extern "C" int msr_encode_steim1(int32_t* input, int samplecount, int32_t* output, int outputlength,
                                 int32_t diff0, int swapflag);

namespace {

constexpr size_t Count = 1 << 20;

enum TSignal { SineWithNoise, FullScaleNoise };

// 24-bit converter counts: a 1 Hz sine at 100 samples per second of 4 % of full scale with
// Gaussian noise of 20 counts, or uniform noise over the whole 24-bit range.
std::vector<int32_t> Samples(TSignal signal, size_t count, double rate = 100) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 20);
    std::uniform_int_distribution<int32_t> full(-8388608, 8388607);
    std::vector<int32_t> samples(count);
    for (size_t i = 0; i < count; ++i) {
        samples[i] =
            signal == FullScaleNoise
                ? full(rng)
                : int32_t(std::lround(335544 * std::sin(2 * std::numbers::pi * double(i) / rate) +
                                      noise(rng)));
    }
    return samples;
}

const TSeedCodes Codes{"STATN", "LO", "NK", "P_0"};
const TSeedTime Start{1700000000, 0};

// Ours: every record of the list, built whole (header, blockette, frames), as WriteSeedFile
// builds them, without the writes. With 4 bytes per sample the words are encoded as they are;
// with 3 they are the block's left-justified words, divided by 256 on the way.
size_t EncodeOurs(const std::vector<int32_t>& samples, int bytesPerSample = 4) {
    const TSampleView view(samples);
    TSeedRecord record;
    int32_t previous = 0;
    size_t done = 0;
    size_t records = 0;
    while (done < samples.size()) {
        done += EncodeSeedRecord(record, int(++records), Codes, previous, done, view,
                                 bytesPerSample, 100, Start);
        benchmark::DoNotOptimize(record.data());
    }
    return records;
}

void DiscardRecord(char* record, int, void*) {
    benchmark::DoNotOptimize(record);
}

// libmseed: msr_pack of the whole list into 4096-byte Steim-1 records, little-endian.
size_t EncodeLibmseed(std::vector<int32_t>& samples) {
    MSRecord* msr = msr_init(nullptr);
    std::strcpy(msr->network, "NK");
    std::strcpy(msr->station, "STATN");
    std::strcpy(msr->location, "LO");
    std::strcpy(msr->channel, "P_0");
    msr->dataquality = 'D';
    msr->starttime = ms_time2hptime(2023, 318, 22, 13, 20, 0);
    msr->samprate = 100;
    msr->reclen = 4096;
    msr->encoding = DE_STEIM1;
    msr->byteorder = 0;
    msr->datasamples = samples.data();
    msr->numsamples = int64_t(samples.size());
    msr->sampletype = 'i';
    int64_t packed = 0;
    const int records = msr_pack(msr, DiscardRecord, nullptr, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    return size_t(records);
}

// libmseed's bare frame encoder, record after record (63 frames each), no header.
size_t EncodeLibmseedFrames(std::vector<int32_t>& samples) {
    std::vector<int32_t> frames(63 * 16);
    size_t done = 0;
    size_t records = 0;
    int32_t diff0 = 0;
    while (done < samples.size()) {
        const int n = msr_encode_steim1(samples.data() + done, int(samples.size() - done),
                                        frames.data(), int(frames.size() * 4), diff0, 0);
        if (n <= 0) {
            break;
        }
        done += size_t(n);
        diff0 = samples[done - 1];
        ++records;
        benchmark::DoNotOptimize(frames.data());
    }
    return records;
}

// range(1): 4 bytes per sample (the same words libmseed packs), or 3 (the same counts as the
// block holds them, times 256).
void BM_Steim1Ours(benchmark::State& state) {
    const int bytes = int(state.range(1));
    std::vector<int32_t> samples = Samples(TSignal(state.range(0)), Count);
    if (bytes == 3) {
        for (int32_t& s : samples) {
            s *= 256;
        }
    }
    size_t records = 0;
    for (auto _ : state) {
        records = EncodeOurs(samples, bytes);
    }
    state.SetItemsProcessed(int64_t(state.iterations() * Count));
    state.counters["samples_per_record"] = double(Count) / double(records);
    state.SetLabel(state.range(0) == SineWithNoise ? "sine with noise" : "full-scale noise");
}

void BM_Steim1Libmseed(benchmark::State& state) {
    std::vector<int32_t> samples = Samples(TSignal(state.range(0)), Count);
    ms_loginit(nullptr, nullptr, nullptr, nullptr);
    size_t records = 0;
    for (auto _ : state) {
        records = EncodeLibmseed(samples);
    }
    state.SetItemsProcessed(int64_t(state.iterations() * Count));
    state.counters["samples_per_record"] = double(Count) / double(records);
    state.SetLabel(state.range(0) == SineWithNoise ? "sine with noise" : "full-scale noise");
}

void BM_Steim1LibmseedFramesOnly(benchmark::State& state) {
    std::vector<int32_t> samples = Samples(TSignal(state.range(0)), Count);
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodeLibmseedFrames(samples));
    }
    state.SetItemsProcessed(int64_t(state.iterations() * Count));
    state.SetLabel(state.range(0) == SineWithNoise ? "sine with noise" : "full-scale noise");
}

// Both in turn on the same samples: ratio = libmseed's time / ours, for msr_pack and for the
// bare frame encoder.
void BM_Steim1Ratio(benchmark::State& state) {
    std::vector<int32_t> samples = Samples(TSignal(state.range(0)), Count);
    using TClock = std::chrono::steady_clock;
    TClock::duration ours{}, pack{}, frames{};
    for (auto _ : state) {
        const auto t0 = TClock::now();
        benchmark::DoNotOptimize(EncodeOurs(samples));
        const auto t1 = TClock::now();
        benchmark::DoNotOptimize(EncodeLibmseed(samples));
        const auto t2 = TClock::now();
        benchmark::DoNotOptimize(EncodeLibmseedFrames(samples));
        const auto t3 = TClock::now();
        ours += t1 - t0;
        pack += t2 - t1;
        frames += t3 - t2;
    }
    const auto seconds = [](TClock::duration d) {
        return std::chrono::duration<double>(d).count();
    };
    const double n = double(state.iterations()) * double(Count);
    state.counters["ours_Msps"] = n / seconds(ours) / 1e6;
    state.counters["msr_pack_Msps"] = n / seconds(pack) / 1e6;
    state.counters["frames_Msps"] = n / seconds(frames) / 1e6;
    state.counters["ratio_vs_msr_pack"] = seconds(pack) / seconds(ours);
    state.counters["ratio_vs_frames"] = seconds(frames) / seconds(ours);
    state.SetLabel(state.range(0) == SineWithNoise ? "sine with noise" : "full-scale noise");
}

// One channel's largest file period from its recording list (3-byte samples as the block
// holds them) to a file: 10.8 million samples, 3000 per second for 60 minutes. A Stop, a
// format change or the end writes up to six such files in a row.
void BM_WriteLargestFilePeriod(benchmark::State& state) {
    const std::vector<int32_t> counts = Samples(TSignal(state.range(0)), 10800000, 3000);
    TRecordingList list;
    for (const int32_t c : counts) {
        list.Append(c * 256);
    }
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() / ("seedfile_bench_" + std::to_string(getpid()));
    TSeedFileParams params;
    params.BaseDir = base.string();
    params.Codes = Codes;
    params.BytesPerSample = 3;
    params.SampleRate = 3000;
    params.StartTime = Start;
    size_t bytes = 0;
    for (auto _ : state) {
        const TSeedFileResult result = WriteSeedFile(params, list.View());
        state.PauseTiming();
        if (!result.Status) {
            state.SkipWithError(result.Status.Error().Text.c_str());
            break;
        }
        bytes = result.Records * SeedRecordLength;
        std::filesystem::remove(result.Path);
        state.ResumeTiming();
    }
    std::filesystem::remove_all(base);
    state.counters["of_block_period"] = benchmark::Counter(
        double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["MB"] = double(bytes) / 1e6;
    state.SetItemsProcessed(int64_t(state.iterations()) * 10800000);
    state.SetLabel(state.range(0) == SineWithNoise ? "sine with noise" : "full-scale noise");
}

}  // namespace

BENCHMARK(BM_Steim1Ours)->ArgsProduct({{SineWithNoise, FullScaleNoise}, {4, 3}});
BENCHMARK(BM_Steim1Libmseed)->Arg(SineWithNoise)->Arg(FullScaleNoise);
BENCHMARK(BM_Steim1LibmseedFramesOnly)->Arg(SineWithNoise)->Arg(FullScaleNoise);
BENCHMARK(BM_Steim1Ratio)->Arg(SineWithNoise)->Arg(FullScaleNoise);
BENCHMARK(BM_WriteLargestFilePeriod)
    ->Arg(SineWithNoise)
    ->Arg(FullScaleNoise)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
