// Live delivery's costs. BM_LiveRecordsBlock: one block of six channels at 500 samples per
// second (noise, the hardest for Steim-1) with its state of health made into 512-byte records;
// "records_per_block" is how many it gives on average. BM_SeedLinkFanOut: the server's thread
// fanning each pushed packet out to N clients over loopback, each reading every packet on a
// reader thread of the benchmark; the time is wall time per packet from Push until every
// client holds it (client reading included, on the same machine). BM_PacketRingAdd: one
// packet into the ring: in memory only (0), in its memory-mapped file (1), and in the file
// synced to disk after every 64 packets (2, about what --flush-seconds does at a usual rate).
// BM_SeedLinkInfoStreams: one INFO STREAMS answered (request to last INFO packet read) with the
// default ring of 300 MB full.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "recording/live_records.h"
#include "seedfile/seed_record.h"
#include "seedlink/seedlink_server.h"
#include "sim/signals.h"

namespace {

constexpr int Channels = 6;
constexpr int Rate = 500;

std::vector<TRecordBlock> MakeBlocks(int count) {
    TSignalGenerator signals(TSignalKind::Noise, 1);
    TSignalParams params;
    params.Rate = Rate;
    params.BytesPerSample = 3;
    std::vector<TRecordBlock> blocks(static_cast<size_t>(count));
    for (int b = 0; b < count; ++b) {
        TRecordBlock& block = blocks[size_t(b)];
        block.Time = 1735689600 + b;
        block.ClockLocked = true;
        block.ChannelCount = Channels;
        block.SampleRate = Rate;
        block.BytesPerSample = 3;
        block.SamplesPerBlock = Rate;
        block.SerialNumber = "00012345";
        block.Soh.HasModuleTemperatures = true;
        for (int c = 0; c < Channels; ++c) {
            std::vector<int32_t>& out = block.Samples[size_t(c)];
            signals.Generate(c, Rate, params, out);
            for (int32_t& x : out) {
                x *= 256;
            }
        }
    }
    return blocks;
}

void BM_LiveRecordsBlock(benchmark::State& state) {
    const std::vector<TRecordBlock> blocks = MakeBlocks(300);
    int64_t records = 0;
    int64_t taken = 0;
    TLiveRecords live(TLiveSettings{}, [&](TLiveRecord record) {
        ++records;
        benchmark::DoNotOptimize(record.Bytes.data());
    });
    size_t k = 0;
    int64_t time = blocks.front().Time;
    for (auto _ : state) {
        TRecordBlock block = blocks[k];
        block.Time = time++;
        live.Take(block);
        k = (k + 1) % blocks.size();
        ++taken;
    }
    state.counters["records_per_block"] = double(records) / double(taken);
    state.SetItemsProcessed(taken * Channels * Rate);
}
BENCHMARK(BM_LiveRecordsBlock)->Unit(benchmark::kMicrosecond);

TLiveRecord Record(int n) {
    TLiveRecord record;
    record.Network = "XX";
    record.Station = "STA";
    record.Channel = "HHZ";
    record.Start = TSeedTime{1735689600 + n, 0};
    record.End = record.Start;
    const auto header = MakeFixedHeader(n % 999999 + 1, TSeedCodes{"STA", "", "XX", "HHZ"}, 500.0,
                                        0, record.Start, TByteOrder::Big);
    record.Bytes.assign(512, 0);
    std::copy(header.begin(), header.end(), record.Bytes.begin());
    return record;
}

void BM_SeedLinkFanOut(benchmark::State& state) {
    const int clients = int(state.range(0));
    TSeedLinkConfig config;
    config.Listen = TListenAddress{"127.0.0.1", 0};
    config.RingBytes = size_t{64} << 20;
    config.MaxClients = clients + 10;
    TSeedLinkServer server(config);
    if (!server.Start()) {
        state.SkipWithError("cannot listen");
        return;
    }
    std::vector<int> fds;
    for (int k = 0; k < clients; ++k) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(server.Port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            send(fd, "DATA\r\n", 6, MSG_NOSIGNAL) != 6) {
            state.SkipWithError("cannot connect");
            return;
        }
        fds.push_back(fd);
    }
    const auto allStreaming = [&] {
        const TSeedLinkStatus status = server.Status();
        return status.Clients.size() == size_t(clients) &&
               std::all_of(status.Clients.begin(), status.Clients.end(),
                           [](const TSeedLinkClientStatus& c) { return c.Streaming; });
    };
    while (!allStreaming()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::atomic<int64_t> received{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::vector<pollfd> polls;
        for (const int fd : fds) {
            polls.push_back({fd, POLLIN, 0});
        }
        char buffer[65536];
        while (!done) {
            if (poll(polls.data(), polls.size(), 50) <= 0) {
                continue;
            }
            for (const pollfd& p : polls) {
                if ((p.revents & POLLIN) != 0) {
                    const ssize_t n = recv(p.fd, buffer, sizeof buffer, MSG_DONTWAIT);
                    if (n > 0) {
                        received += n;
                    }
                }
            }
        }
    });
    constexpr int Batch = 20;
    int n = 0;
    int64_t expected = 0;
    for (auto _ : state) {
        for (int k = 0; k < Batch; ++k) {
            server.Push(Record(n++));
        }
        expected += int64_t(Batch) * clients * 520;
        while (received < expected) {
            std::this_thread::yield();
        }
    }
    done = true;
    reader.join();
    for (const int fd : fds) {
        close(fd);
    }
    server.Stop();
    state.SetItemsProcessed(int64_t(state.iterations()) * Batch);
    state.counters["packets_per_batch"] = Batch;
}
BENCHMARK(BM_SeedLinkFanOut)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_SeedLinkInfoStreams(benchmark::State& state) {
    TSeedLinkConfig config;
    config.Listen = TListenAddress{"127.0.0.1", 0};
    config.HandOffRecords = size_t{1} << 20;
    config.InfoPerSecond = 1 << 30;  // the cost measured, not the limit
    TSeedLinkServer server(config);
    if (!server.Start()) {
        state.SkipWithError("cannot listen");
        return;
    }
    TPacketRing sizing(config.RingBytes);
    const size_t capacity = sizing.Capacity();
    for (size_t n = 0; n < capacity; ++n) {
        server.Push(Record(int(n)));
        if (n % 50000 == 49999) {
            while (server.Status().RingPackets < n) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
    while (server.Status().RingPackets < capacity) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(server.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        state.SkipWithError("cannot connect");
        return;
    }
    std::string in;
    char buffer[65536];
    for (auto _ : state) {
        if (send(fd, "INFO STREAMS\r\n", 14, MSG_NOSIGNAL) != 14) {
            state.SkipWithError("cannot send");
            break;
        }
        in.clear();
        // Up to the INFO packet without '*'.
        while (in.size() < 520 || in.size() % 520 != 0 || in[in.size() - 520 + 7] != ' ') {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                state.SkipWithError("connection lost");
                break;
            }
            in.append(buffer, size_t(n));
        }
    }
    close(fd);
    state.counters["ring_packets"] = double(capacity);
}
BENCHMARK(BM_SeedLinkInfoStreams)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

void BM_PacketRingAdd(benchmark::State& state) {
    const int64_t mode = state.range(0);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("seedlink_bench_" + std::to_string(getpid()) + ".ring"))
                                 .string();
    std::filesystem::remove(path);
    TPacketRing ring(size_t{64} << 20);
    if (mode > 0 && !ring.Open(path)) {
        state.SkipWithError("cannot open the ring file");
        return;
    }
    const TLiveRecord record = Record(1);
    const std::optional<TSeedLinkPacket> packet = PacketOfRecord(record.Bytes, 0, 1);
    int64_t added = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ring.Add(*packet));
        if (mode == 2 && ++added % 64 == 0 && !ring.Sync()) {
            state.SkipWithError("sync failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    std::filesystem::remove(path);
}
BENCHMARK(BM_PacketRingAdd)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
