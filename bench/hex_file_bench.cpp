// The Intel HEX reader on the largest file an upload can take: the whole memory a
// segment-addressed file reaches (0x10FFF0 bytes) in 32-byte records. The walk alone
// from memory, and the whole-file load the upload does before it asks for the power
// cycle (read, check, keep every record).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "upload/hex_file.h"

namespace {

std::string Line(uint8_t type, uint16_t offset, const uint8_t* data, int count) {
    unsigned sum = static_cast<unsigned>(count) + (offset >> 8) + (offset & 0xFF) + type;
    char text[600];
    int n = std::snprintf(text, sizeof text, ":%02X%04X%02X", count, offset, type);
    for (int i = 0; i < count; ++i) {
        n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "%02X", data[i]);
        sum += data[i];
    }
    std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "%02X\r\n", (0x100 - sum) & 0xFF);
    return text;
}

const std::string& FullMemoryText() {
    static const std::string text = [] {
        std::string out;
        uint8_t data[32];
        uint32_t segment = 0xFFFFFFFF;
        for (uint32_t address = 0; address < HexAddressLimit; address += 32) {
            const uint32_t wanted = std::min<uint32_t>((address >> 16) << 12, 0xFFFF);
            if (wanted != segment) {
                segment = wanted;
                const uint8_t base[2] = {static_cast<uint8_t>(segment >> 8),
                                         static_cast<uint8_t>(segment)};
                out += Line(0x02, 0, base, 2);
            }
            const uint32_t offset = address - (segment << 4);
            const int count = static_cast<int>(std::min<uint32_t>(32, HexAddressLimit - address));
            for (int i = 0; i < count; ++i) {
                data[i] = static_cast<uint8_t>(address + static_cast<uint32_t>(i) * 7);
            }
            out += Line(0x00, static_cast<uint16_t>(offset), data, count);
        }
        return out + ":00000001FF\r\n";
    }();
    return text;
}

void BM_HexWalk(benchmark::State& state) {
    const std::string& text = FullMemoryText();
    int records = 0;
    for (auto _ : state) {
        std::istringstream in(text);
        uint64_t sum = 0;
        records = *SendHexFile(
            in, [&](uint32_t address, const HexRecord& r) { sum += address + r.ByteCount; });
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["records"] = records;
}
BENCHMARK(BM_HexWalk)->Unit(benchmark::kMillisecond);

void BM_LoadHexFile(benchmark::State& state) {
    const std::string path = "/tmp/hex_file_bench." + std::to_string(getpid()) + ".hex";
    std::ofstream(path, std::ios::binary) << FullMemoryText();
    size_t kept = 0;
    for (auto _ : state) {
        const THexFile file = LoadHexFile(path);
        kept = 0;
        for (const THexData& record : *file) {
            kept += sizeof record + record.Bytes.capacity();
        }
        benchmark::DoNotOptimize(kept);
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FullMemoryText().size()));
    state.counters["fileBytes"] = static_cast<double>(FullMemoryText().size());
    // Bytes the kept records hold (without the allocator's own overhead).
    state.counters["keptBytes"] = static_cast<double>(kept);
}
BENCHMARK(BM_LoadHexFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
