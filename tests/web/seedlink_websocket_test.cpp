// SeedLink over WebSocket end to end: Node's WebSocket client (the one browsers share) opens
// /seedlink on the HTTP server, which hands the connection to the SeedLink server; the
// conversation is SeedLink's, each answer and each 520-byte packet one binary message, from the
// ring and then live, until BYE closes it. Refused addresses are refused here too.
#include <gtest/gtest.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <thread>

#include "seedfile/seed_record.h"
#include "seedlink/seedlink_server.h"
#include "web/web_server.h"

using namespace std::chrono_literals;

namespace {

constexpr int64_t Epoch = 1796688000;  // 2026-12-08

TLiveRecord Record(const std::string& channel, int second) {
    TLiveRecord record;
    record.Network = "XX";
    record.Station = "WEB1";
    record.Channel = channel;
    record.Start = TSeedTime{Epoch + second, 0};
    record.End = TSeedTime{Epoch + second, 9500};
    const auto header = MakeFixedHeader(second + 1, TSeedCodes{"WEB1", "", "XX", channel}, 20.0, 0,
                                        record.Start, TByteOrder::Big);
    record.Bytes.assign(512, 0);
    std::copy(header.begin(), header.end(), record.Bytes.begin());
    return record;
}

struct TNodeRun {
    FILE* Pipe = nullptr;
    std::vector<nlohmann::json> Lines;
};

TNodeRun StartNode(int port, const std::string& select, int count) {
    const std::string command = "node --experimental-websocket --no-warnings " +
                                std::string(TEST_SOURCE_DIR) + "/seedlink_ws_client.mjs " +
                                "ws://127.0.0.1:" + std::to_string(port) + "/seedlink '" + select +
                                "' " + std::to_string(count) + " 2>&1";
    return TNodeRun{popen(command.c_str(), "r"), {}};
}

void Finish(TNodeRun& run) {
    char line[4096];
    while (run.Pipe != nullptr && std::fgets(line, sizeof line, run.Pipe) != nullptr) {
        run.Lines.push_back(nlohmann::json::parse(line, nullptr, false));
    }
    if (run.Pipe != nullptr) {
        pclose(run.Pipe);
    }
}

}  // namespace

TEST(SeedLinkWebSocket, AWebSocketClientIsServedByTheSameServerAndRing) {
    TSeedLinkConfig seedlink;
    seedlink.Listen = TListenAddress{"127.0.0.1", 0};
    seedlink.RingBytes = size_t{4} << 20;
    TSeedLinkServer server(seedlink);
    ASSERT_TRUE(server.Start());
    for (int s = 0; s < 10; ++s) {
        server.Push(Record(s % 2 == 0 ? "BHZ" : "LKS", s));
    }
    TWebConfig config;
    config.Listen = TListenAddress{"127.0.0.1", 0};
    config.SeedLink = [&server](int fd, const std::string& address,
                                const std::array<uint8_t, 16>& bytes) {
        return server.Adopt(fd, address, bytes);
    };
    TWebServer web(config);
    ASSERT_TRUE(web.Start());

    // Five BHZ packets wait in the ring; two more come once the client streams.
    TNodeRun run = StartNode(web.Port(), "BHZ", 7);
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < deadline) {
        const TSeedLinkStatus status = server.Status();
        if (!status.Clients.empty() && status.Clients[0].Streaming &&
            status.Clients[0].PacketsSent == 5) {
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    server.Push(Record("LKS", 10));
    server.Push(Record("BHZ", 11));
    server.Push(Record("BHZ", 12));
    Finish(run);

    ASSERT_GE(run.Lines.size(), 10u);
    EXPECT_NE(run.Lines[0].value("hello", "").find("SeedLink v3.1"), std::string::npos)
        << run.Lines[0];
    EXPECT_EQ(run.Lines[0].value("protocol", ""), "SeedLink3.1");
    EXPECT_EQ(run.Lines[1].value("select", ""), "OK\r\n");
    int previous = -1;
    for (size_t k = 2; k < 9; ++k) {
        const nlohmann::json& packet = run.Lines[k];
        EXPECT_EQ(packet.value("length", 0), 520) << packet;
        EXPECT_EQ(packet.value("channel", ""), "BHZ") << packet;
        EXPECT_EQ(packet.value("station", ""), "WEB1") << packet;
        const std::string head = packet.value("head", "");
        ASSERT_EQ(head.substr(0, 2), "SL") << packet;
        const int sequence = std::stoi(head.substr(2), nullptr, 16);
        EXPECT_GT(sequence, previous);
        previous = sequence;
    }
    EXPECT_EQ(run.Lines[9].value("closed", false), true) << run.Lines[9];
    EXPECT_EQ(run.Lines[9].value("packets", 0), 7);
    // BYE closed it on the server's side too.
    EXPECT_TRUE([&] {
        for (int k = 0; k < 200 && !server.Status().Clients.empty(); ++k) {
            std::this_thread::sleep_for(10ms);
        }
        return server.Status().Clients.empty();
    }());

    // The SeedLink server's own address list holds for WebSocket clients.
    web.Stop();
    server.Stop();
    seedlink.Allow = {TAddressRange{{10}, 8}};
    TSeedLinkServer closed(seedlink);
    ASSERT_TRUE(closed.Start());
    config.SeedLink = [&closed](int fd, const std::string& address,
                                const std::array<uint8_t, 16>& bytes) {
        return closed.Adopt(fd, address, bytes);
    };
    TWebServer other(config);
    ASSERT_TRUE(other.Start());
    TNodeRun refused = StartNode(other.Port(), "BHZ", 1);
    Finish(refused);
    ASSERT_FALSE(refused.Lines.empty());
    EXPECT_EQ(refused.Lines.back().value("closed", false), true) << refused.Lines.back();
    EXPECT_EQ(refused.Lines.back().value("packets", -1), 0);
    EXPECT_EQ(closed.Status().Refused, 1);
}
