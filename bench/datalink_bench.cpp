// The DataLink client: what a Push costs the recording side (with no server, so that the queue
// stays full and every Push drops the oldest record too), and how many 512-byte records a second
// reach the tests' DataLink server over loopback with one record on the way at a time and with
// a window of them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "datalink/datalink_client.h"
#include "datalink/datalink_test_server.h"

namespace {

using namespace std::chrono_literals;

TLiveRecord Record(int64_t index) {
    TLiveRecord record;
    record.Network = "XX";
    record.Station = "KST1";
    record.Channel = "HHZ";
    record.Start = {1735689600 + index, 0};
    record.End = {1735689600 + index, 9980};
    record.Bytes.assign(512, uint8_t(index));
    return record;
}

void BM_PushIntoAFullQueue(benchmark::State& state) {
    TDataLinkConfig config;
    config.Host = "127.0.0.1";
    config.Port = 9;  // nobody listens: the queue fills and stays full
    config.QueueRecords = 1000;
    TDataLinkClient client(config, nullptr);
    const TLiveRecord record = Record(0);
    for (int i = 0; i < 2000; ++i) {
        client.Push(record);
    }
    for (auto _ : state) {
        client.Push(record);
    }
    state.SetItemsProcessed(state.iterations());
    client.Stop(0ms);
}
BENCHMARK(BM_PushIntoAFullQueue);

void BM_DeliverOverLoopback(benchmark::State& state) {
    TDataLinkTestServer server;
    TDataLinkConfig config;
    config.Host = "127.0.0.1";
    config.Port = server.Port();
    config.Window = size_t(state.range(0));
    TDataLinkClient client(config, nullptr);
    constexpr int Batch = 500;
    std::vector<TLiveRecord> records;
    for (int i = 0; i < Batch; ++i) {
        records.push_back(Record(i));
    }
    int64_t target = 0;
    for (auto _ : state) {
        for (const TLiveRecord& record : records) {
            client.Push(record);
        }
        target += Batch;
        while (client.Status().Acknowledged < target) {
            std::this_thread::sleep_for(50us);
        }
    }
    state.SetItemsProcessed(state.iterations() * Batch);
    state.SetBytesProcessed(state.iterations() * Batch * 512);
    client.Stop(0ms);
}
BENCHMARK(BM_DeliverOverLoopback)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
