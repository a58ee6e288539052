// The SeedLink server over loopback with the test client: the handshake in both modes,
// resuming from a sequence number, FETCH and TIME, INFO, and the bad cases: overlong lines,
// garbage, unknown commands, a client that reads nothing (dropped), a client that says nothing
// (timed out), addresses outside the allowed ranges, too many clients, and thousands of
// connections opened and closed without a descriptor left behind.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <numeric>
#include <thread>

#include "seedfile/seed_record.h"
#include "seedlink/seedlink_client.h"
#include "seedlink/seedlink_server.h"

using namespace std::chrono_literals;

namespace {

constexpr int64_t Epoch = 1735689600;  // 2025-01-01

// A record of XX.STA..`channel` whose data time is `second` seconds after Epoch.
TLiveRecord Record(const std::string& channel, int second) {
    TLiveRecord record;
    record.Network = "XX";
    record.Station = "STA";
    record.Channel = channel;
    record.Start = TSeedTime{Epoch + second, 0};
    record.End = TSeedTime{Epoch + second, 9900};
    const auto header = MakeFixedHeader(second % 999999 + 1, TSeedCodes{"STA", "", "XX", channel},
                                        100.0, 0, record.Start, TByteOrder::Big);
    record.Bytes.assign(512, 0);
    std::copy(header.begin(), header.end(), record.Bytes.begin());
    return record;
}

template <typename TPredicate>
bool WaitFor(TPredicate predicate, std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class SeedLinkServer : public ::testing::Test {
  protected:
    void Start(TSeedLinkConfig config = {}) {
        config.Listen = TListenAddress{"127.0.0.1", 0};
        config.RingBytes =
            config.RingBytes == TSeedLinkConfig{}.RingBytes ? size_t{32} << 20 : config.RingBytes;
        config.Description = "test station";
        server_ = std::make_unique<TSeedLinkServer>(config);
        const TResult<void> started = server_->Start();
        ASSERT_TRUE(started) << started.Error().Text;
    }
    // Pushes records of HHZ and LKS alternately for seconds [from, to), and waits until the ring
    // holds them.
    void Push(int from, int to) {
        for (int s = from; s < to; ++s) {
            server_->Push(Record(s % 2 == 0 ? "HHZ" : "LKS", s));
        }
        pushed_ += to - from;
        ASSERT_TRUE(WaitFor([&] {
            return server_->Status().LastSequence == uint32_t(pushed_ - 1);
        })) << "the server's thread took the records";
    }
    std::string Log() {
        for (const std::string& line : server_->TakeLog()) {
            log_ += line + "\n";
        }
        return log_;
    }
    bool Connect(TSeedLinkTestClient& client) { return client.Connect(server_->Port(), 5s); }

    std::unique_ptr<TSeedLinkServer> server_;
    int pushed_ = 0;
    std::string log_;
};

}  // namespace

TEST_F(SeedLinkServer, HandshakeInBothModesResumesFromASequenceNumber) {
    Start();
    Push(0, 40);  // sequence 0..39: even HHZ, odd LKS

    TSeedLinkTestClient uni;
    ASSERT_TRUE(Connect(uni));
    ASSERT_TRUE(uni.Send("HELLO"));
    const auto first = uni.ReadLine(5s);
    ASSERT_TRUE(first);
    EXPECT_NE(first->find(" :: SLPROTO:3.1"), std::string::npos) << *first;
    EXPECT_EQ(uni.ReadLine(5s), "test station");
    ASSERT_TRUE(uni.Send("CAT"));
    EXPECT_EQ(uni.ReadLine(5s), "XX STA test station");
    EXPECT_EQ(uni.ReadLine(5s), "END");
    ASSERT_TRUE(uni.Send("select lks"));
    EXPECT_EQ(uni.ReadLine(5s), "OK");
    // Uni-station: DATA starts at once, without OK; from sequence 10 (HHZ) the first LKS is 11.
    ASSERT_TRUE(uni.Send("data 00000A"));
    for (uint32_t want = 11; want < 40; want += 2) {
        const auto packet = uni.ReadPacket(5s);
        ASSERT_TRUE(packet) << "sequence " << want << (uni.Garbled() ? " (garbled)" : "");
        EXPECT_FALSE(packet->Info);
        EXPECT_EQ(packet->Sequence, want);
        EXPECT_EQ(packet->Channel(), "LKS");
    }
    // New packets follow as they come; an INFO ID in the transfer is answered between them.
    ASSERT_TRUE(uni.Send("INFO ID"));
    const auto info = uni.ReadPacket(5s);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->Info);
    EXPECT_FALSE(info->MoreInfo);
    EXPECT_NE(info->Text().find("<seedlink software=\"SeedLink v3.1"), std::string::npos)
        << info->Text();
    Push(40, 44);
    for (uint32_t want : {41u, 43u}) {
        const auto packet = uni.ReadPacket(5s);
        ASSERT_TRUE(packet);
        EXPECT_EQ(packet->Sequence, want);
    }

    // Multi-station: OK to each command, END starts; a sequence no longer held... is still
    // the oldest held, and a station not served is refused.
    TSeedLinkTestClient multi;
    ASSERT_TRUE(Connect(multi));
    ASSERT_TRUE(multi.Send("STATION NOPE XX"));
    EXPECT_EQ(multi.ReadLine(5s), "ERROR");
    ASSERT_TRUE(multi.Send("STATION STA XX"));
    EXPECT_EQ(multi.ReadLine(5s), "OK");
    ASSERT_TRUE(multi.Send("SELECT HHZ"));
    EXPECT_EQ(multi.ReadLine(5s), "OK");
    ASSERT_TRUE(multi.Send("DATA 000029"));  // 41 (LKS): from there the next HHZ is 42
    EXPECT_EQ(multi.ReadLine(5s), "OK");
    ASSERT_TRUE(multi.Send("END"));
    const auto packet = multi.ReadPacket(5s);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->Sequence, 42u);
    EXPECT_EQ(packet->Channel(), "HHZ");

    // INFO STREAMS in the handshake: XML over one or more packets, the last without '*'.
    TSeedLinkTestClient asker;
    ASSERT_TRUE(Connect(asker));
    ASSERT_TRUE(asker.Send("INFO STREAMS"));
    std::string xml;
    for (int k = 0; k < 20; ++k) {
        const auto part = asker.ReadPacket(5s);
        ASSERT_TRUE(part);
        ASSERT_TRUE(part->Info);
        xml += part->Text();
        if (!part->MoreInfo) {
            break;
        }
    }
    EXPECT_NE(xml.find("seedname=\"HHZ\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("seedname=\"LKS\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("</seedlink>"), std::string::npos) << xml;

    ASSERT_TRUE(WaitFor([&] {
        const TSeedLinkStatus s = server_->Status();
        return s.Clients.size() == 3 && s.Clients[0].LastSequence == 43u &&
               s.Clients[1].LastSequence == 42u;
    }));
    const TSeedLinkStatus status = server_->Status();
    ASSERT_EQ(status.Clients.size(), 3u);
    EXPECT_EQ(status.Clients[0].Selection, "LKS.D");
    EXPECT_TRUE(status.Clients[0].Streaming);
    EXPECT_EQ(status.Clients[1].Selection, "XX_STA:HHZ.D");
}

TEST_F(SeedLinkServer, FetchAndTimeWindowEndTheConnection) {
    TSeedLinkConfig config;
    config.RingBytes = 20 * TPacketRing::PacketBytes;  // 20 packets held
    Start(config);
    Push(0, 30);  // 10..29 held

    TSeedLinkTestClient fetch;
    ASSERT_TRUE(Connect(fetch));
    ASSERT_TRUE(fetch.Send("FETCH 000003"));  // no longer held: from the oldest, 10
    std::vector<uint32_t> got;
    while (const auto packet = fetch.ReadPacket(5s)) {
        got.push_back(packet->Sequence);
    }
    EXPECT_FALSE(fetch.Garbled());
    std::vector<uint32_t> want(20);
    std::iota(want.begin(), want.end(), 10u);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(fetch.Ended()) << "END after the last packet";
    EXPECT_NE(Log().find("asked for sequence number 000003, which the ring does not hold; it "
                         "starts at 00000A (the first held after it)"),
              std::string::npos)
        << Log();
    EXPECT_TRUE(fetch.WaitClosed(5s)) << "closed once the buffer is sent";

    TSeedLinkTestClient window;
    ASSERT_TRUE(Connect(window));
    ASSERT_TRUE(window.Send("SELECT HHZ"));
    EXPECT_EQ(window.ReadLine(5s), "OK");
    ASSERT_TRUE(window.Send("TIME 2025,01,01,00,00,15 2025,01,01,00,00,21"));
    got.clear();
    while (const auto packet = window.ReadPacket(5s)) {
        got.push_back(packet->Sequence);
    }
    EXPECT_EQ(got, (std::vector<uint32_t>{16, 18, 20}));
    EXPECT_TRUE(window.Ended());
    EXPECT_TRUE(window.WaitClosed(5s));

    // A window both streams are in ends only when the slower one, LKS (last at 29), has
    // passed its end too, not when HHZ has.
    TSeedLinkTestClient both;
    ASSERT_TRUE(Connect(both));
    ASSERT_TRUE(both.Send("TIME 2025,01,01,00,00,27 2025,01,01,00,00,40"));
    got.clear();
    while (const auto packet = both.ReadPacket(500ms)) {
        got.push_back(packet->Sequence);
    }
    EXPECT_EQ(got, (std::vector<uint32_t>{27, 28, 29}));
    EXPECT_FALSE(both.Ended());
    const auto push = [&](const std::string& channel, int second) {
        server_->Push(Record(channel, second));
        ++pushed_;
        ASSERT_TRUE(
            WaitFor([&] { return server_->Status().LastSequence == uint32_t(pushed_ - 1); }));
    };
    for (int second = 30; second <= 42; second += 2) {
        push("HHZ", second);  // sequences 30..36
    }
    got.clear();
    while (const auto packet = both.ReadPacket(500ms)) {
        got.push_back(packet->Sequence);
    }
    EXPECT_EQ(got, (std::vector<uint32_t>{30, 31, 32, 33, 34})) << "HHZ up to its end";
    EXPECT_FALSE(both.Ended()) << "LKS has not reached the end";
    push("LKS", 41);  // 37, after the end: the window is complete
    EXPECT_FALSE(both.ReadPacket(5s));
    EXPECT_TRUE(both.Ended());
    EXPECT_FALSE(both.Garbled());
    EXPECT_TRUE(both.WaitClosed(5s));
}

TEST_F(SeedLinkServer, ByeClosesAtOnceInTheHandshakeAndInTheTransfer) {
    Start();  // a timeout of 60 s: only BYE can close these
    Push(0, 4);
    for (const std::string opening : {"", "HELLO", "SELECT HHZ", "DATA 000000"}) {
        TSeedLinkTestClient client;
        ASSERT_TRUE(Connect(client));
        if (!opening.empty()) {
            ASSERT_TRUE(client.Send(opening));
        }
        ASSERT_TRUE(client.Send("BYE"));
        EXPECT_TRUE(client.WaitClosed(2s)) << "BYE after \"" << opening << "\"";
    }
}

// The XML of one INFO answer (all its packets), empty when it did not come whole.
std::string ReadInfo(TSeedLinkTestClient& client) {
    std::string xml;
    for (int k = 0; k < 100; ++k) {
        const auto part = client.ReadPacket(5s);
        if (!part || !part->Info) {
            return "";
        }
        xml += part->Text();
        if (!part->MoreInfo) {
            return xml;
        }
    }
    return "";
}

TEST_F(SeedLinkServer, InfoAnswersFollowTheRingAndAreBounded) {
    TSeedLinkConfig config;
    config.RingBytes = 20 * TPacketRing::PacketBytes;
    config.InfoPerSecond = 2;  // 4 at once, then 2 a second
    Start(config);
    Push(0, 30);  // 10..29 held: HHZ 10, 12 .. 28, LKS 11 .. 29

    struct TCase {
        std::string Level;
        std::vector<std::string> Present, Absent;
    };
    const std::vector<TCase> cases = {
        // The stream table followed the packets dropped from the ring.
        {"STREAMS",
         {"seedname=\"HHZ\" type=\"D\" begin_time=\"2025/01/01 00:00:10.0000\" "
          "end_time=\"2025/01/01 00:00:28.9900\" begin_recno=\"10\" end_recno=\"28\"",
          "seedname=\"LKS\" type=\"D\" begin_time=\"2025/01/01 00:00:11.0000\" "
          "end_time=\"2025/01/01 00:00:29.9900\" begin_recno=\"11\" end_recno=\"29\"",
          "begin_seq=\"00000A\" end_seq=\"00001E\""},
         {"<error"}},
        {"CONNECTIONS", {"<connection host=\"127.0.0.1\""}, {"<error", "<stream"}},
        {"ALL", {"<connection host=", "seedname=\"LKS\""}, {"<error"}},
        {"EVERYTHING", {"<error message=\"unknown INFO level EVERYTHING\"/>"}, {"<station"}},
        // Beyond 4 at once: refused, with an error INFO packet.
        {"STATIONS", {"<error message=\"too many INFO requests"}, {"<station"}},
        {"ID", {"<seedlink software="}, {"<error"}},  // a keepalive is never refused
    };
    TSeedLinkTestClient client;
    ASSERT_TRUE(Connect(client));
    for (const TCase& c : cases) {
        ASSERT_TRUE(client.Send("INFO " + c.Level));
        const std::string xml = ReadInfo(client);
        ASSERT_NE(xml, "") << c.Level;
        for (const std::string& text : c.Present) {
            EXPECT_NE(xml.find(text), std::string::npos) << c.Level << ": " << text << "\n" << xml;
        }
        for (const std::string& text : c.Absent) {
            EXPECT_EQ(xml.find(text), std::string::npos) << c.Level << ": " << text << "\n" << xml;
        }
    }
    std::this_thread::sleep_for(600ms);  // one more allowed
    ASSERT_TRUE(client.Send("INFO STATIONS"));
    EXPECT_NE(ReadInfo(client).find("<station name=\"STA\""), std::string::npos);

    // From an address not trusted, the connections are refused and never shown.
    server_.reset();
    TSeedLinkConfig untrusted;
    std::string error;
    untrusted.Trusted = *ParseAddressRanges("192.0.2.0/24", error);
    Start(untrusted);
    TSeedLinkTestClient other;
    ASSERT_TRUE(Connect(other));
    ASSERT_TRUE(other.Send("INFO CONNECTIONS"));
    std::string xml = ReadInfo(other);
    EXPECT_NE(xml.find("<error message=\"INFO CONNECTIONS is answered only to trusted"),
              std::string::npos)
        << xml;
    ASSERT_TRUE(other.Send("INFO ALL"));
    xml = ReadInfo(other);
    EXPECT_EQ(xml.find("<connection"), std::string::npos) << xml;
    EXPECT_NE(xml.find("</seedlink>"), std::string::npos) << xml;
}

TEST_F(SeedLinkServer, BadInputIsAnsweredWithErrorAndTheConnectionGoesOn) {
    Start();
    TSeedLinkTestClient client;
    ASSERT_TRUE(Connect(client));
    struct TCase {
        std::string Bytes;
        std::vector<std::string> Answers;
    };
    std::string garbage;
    for (int i = 0; i < 2000; ++i) {
        garbage += static_cast<char>((i * 7919) % 256);
    }
    const std::vector<TCase> cases = {
        {std::string(100000, 'A') + "\r\n", {"ERROR"}},
        {"SELECT " + std::string(300, '?') + "\nHELLO\n", {"ERROR"}},
        {"FROBNICATE\r\n", {"ERROR"}},
        {"DATA 12345678\r\n", {"ERROR"}},
        {std::string("HELLO\0\x01\x02\r\n", 10), {"ERROR"}},
        {"END\r\n", {"ERROR"}},  // no STATION before it
        {"SELECT HHZ.Q\r\nSELECT HHZ\r\n", {"ERROR", "OK"}},
    };
    for (const TCase& c : cases) {
        ASSERT_TRUE(client.SendRaw(c.Bytes));
        for (const std::string& answer : c.Answers) {
            EXPECT_EQ(client.ReadLine(5s), answer) << c.Bytes.substr(0, 30);
        }
        if (c.Bytes.rfind("SELECT ", 0) == 0 && c.Bytes.find("HELLO") != std::string::npos) {
            // The overlong line was dropped up to its end; the HELLO after it is answered.
            EXPECT_TRUE(client.ReadLine(5s));
            EXPECT_EQ(client.ReadLine(5s), "test station");
        }
    }
    // Binary garbage: each line of it refused, nothing else; still answering afterwards.
    ASSERT_TRUE(client.SendRaw(garbage + "\r\n"));
    ASSERT_TRUE(client.Send("HELLO"));
    bool hello = false;
    for (int k = 0; k < 200 && !hello; ++k) {
        const auto line = client.ReadLine(5s);
        ASSERT_TRUE(line);
        hello = line->find("SLPROTO:3.1") != std::string::npos;
        EXPECT_TRUE(hello || *line == "ERROR") << *line;
    }
    EXPECT_TRUE(hello);
    EXPECT_EQ(server_->Status().Clients.size(), 1u);
}

TEST_F(SeedLinkServer, AClientThatReadsNothingIsDroppedTheOthersGoOn) {
    TSeedLinkConfig config;
    config.ClientQueueBytes = 16 << 10;
    config.HandOffRecords = 100000;
    Start(config);
    TSeedLinkTestClient stuck;
    ASSERT_TRUE(stuck.Connect(server_->Port(), 5s, 4096));
    ASSERT_TRUE(stuck.Send("DATA"));
    TSeedLinkTestClient reader;
    ASSERT_TRUE(Connect(reader));
    ASSERT_TRUE(reader.Send("SELECT HHZ"));
    EXPECT_EQ(reader.ReadLine(5s), "OK");
    ASSERT_TRUE(reader.Send("DATA"));
    ASSERT_TRUE(WaitFor([&] { return server_->Status().Clients.size() == 2; }));
    std::this_thread::sleep_for(100ms);  // both in the transfer

    // Up to 20 000 packets (10 MB) against one that reads nothing: its queue and the
    // socket's buffers fill, and it goes; the reader, reading all along, gets every HHZ packet
    // in order.
    std::vector<uint32_t> got;
    std::atomic<bool> done{false};
    std::thread reading([&] {
        while (!done) {
            if (const auto packet = reader.ReadPacket(20ms)) {
                got.push_back(packet->Sequence);
            }
        }
    });
    for (int batch = 0; batch < 1000 && server_->Status().Dropped == 0; ++batch) {
        Push(batch * 20, batch * 20 + 20);
    }
    const bool dropped = WaitFor([&] { return server_->Status().Dropped == 1; });
    std::this_thread::sleep_for(500ms);
    done = true;
    reading.join();
    ASSERT_TRUE(dropped) << Log();
    EXPECT_NE(Log().find("dropped: reads nothing"), std::string::npos) << Log();
    EXPECT_TRUE(stuck.WaitClosed(5s));
    std::vector<uint32_t> want;
    for (int k = 0; k < pushed_; k += 2) {
        want.push_back(uint32_t(k));
    }
    EXPECT_EQ(got, want);

    const TSeedLinkStatus status = server_->Status();
    ASSERT_EQ(status.Clients.size(), 1u);
    EXPECT_LE(status.Clients[0].QueuedBytes, config.ClientQueueBytes);
}

TEST_F(SeedLinkServer, AClientAskingForInfoWithoutReadingIsDropped) {
    TSeedLinkConfig config;
    config.ClientQueueBytes = 16 << 10;
    Start(config);
    Push(0, 10);
    TSeedLinkTestClient client;
    ASSERT_TRUE(client.Connect(server_->Port(), 5s, 4096));
    ASSERT_TRUE(client.Send("DATA"));
    std::string requests;
    for (int k = 0; k < 200; ++k) {
        requests += "INFO STREAMS\r\n";
    }
    // Its answers pile up in its queue (and the socket's buffers) up to the limit, no further.
    for (int k = 0; k < 200 && server_->Status().Dropped == 0; ++k) {
        if (!client.SendRaw(requests)) {
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(WaitFor([&] { return server_->Status().Dropped == 1; })) << Log();
    EXPECT_NE(Log().find("asks for INFO faster than it reads"), std::string::npos) << Log();
}

TEST_F(SeedLinkServer, SilentClientsAreClosedAfterTheTimeout) {
    TSeedLinkConfig config;
    config.Timeout = 300ms;
    Start(config);
    TSeedLinkTestClient silent, hello, streaming;
    ASSERT_TRUE(Connect(silent));
    ASSERT_TRUE(Connect(hello));
    ASSERT_TRUE(hello.Send("HELLO"));
    ASSERT_TRUE(Connect(streaming));
    ASSERT_TRUE(streaming.Send("DATA"));
    EXPECT_TRUE(silent.WaitClosed(10s));
    EXPECT_TRUE(hello.WaitClosed(10s)) << "a handshake that stops is closed too";
    // A client in the transfer with nothing to take stays (TCP keepalive looks after it).
    EXPECT_FALSE(streaming.WaitClosed(1s));
    EXPECT_NE(Log().find("said nothing for 0.3"), std::string::npos) << Log();
    EXPECT_EQ(server_->Status().Clients.size(), 1u);
}

TEST_F(SeedLinkServer, AddressesOutsideTheAllowedRangesAndClientsBeyondTheMaximumAreRefused) {
    TSeedLinkConfig config;
    std::string error;
    config.Allow = *ParseAddressRanges("192.0.2.0/24,2001:db8::/32", error);
    Start(config);
    TSeedLinkTestClient client;
    ASSERT_TRUE(Connect(client));
    EXPECT_TRUE(client.WaitClosed(5s));
    ASSERT_TRUE(WaitFor([&] { return server_->Status().Refused == 1; }));
    EXPECT_NE(Log().find("refused: not an allowed address"), std::string::npos) << Log();

    server_.reset();
    TSeedLinkConfig few;
    few.MaxClients = 2;
    Start(few);
    TSeedLinkTestClient a, b, c;
    ASSERT_TRUE(Connect(a));
    ASSERT_TRUE(Connect(b));
    ASSERT_TRUE(WaitFor([&] { return server_->Status().Clients.size() == 2; }));
    ASSERT_TRUE(Connect(c));
    EXPECT_TRUE(c.WaitClosed(5s));
    ASSERT_TRUE(a.Send("HELLO"));
    EXPECT_TRUE(a.ReadLine(5s)) << "the first clients stay";
}

TEST_F(SeedLinkServer, ThousandsOfConnectionsLeaveNoDescriptorBehind) {
    TSeedLinkConfig config;
    config.MaxClients = 10000;
    Start(config);
    Push(0, 10);
    const int before = OpenDescriptors();
    ASSERT_GT(before, 0);
    constexpr int Cycles = 3000;
    for (int k = 0; k < Cycles; ++k) {
        TSeedLinkTestClient client;
        ASSERT_TRUE(Connect(client)) << k;
        ASSERT_GT(client.Fd(), 0);
        switch (k % 4) {
            case 0:
                break;  // closed at once
            case 1:
                client.Send("HELLO");
                break;
            case 2:
                client.SendRaw(std::string(600, '\x7f'));  // half a garbage line
                break;
            case 3:
                client.Send("DATA 000000");  // closed in the transfer
                break;
        }
    }
    ASSERT_TRUE(WaitFor(
        [&] {
            const TSeedLinkStatus status = server_->Status();
            return status.Accepted == Cycles && status.Clients.empty();
        },
        30s))
        << server_->Status().Accepted << " accepted, " << server_->Status().Clients.size()
        << " still connected";
    EXPECT_EQ(OpenDescriptors(), before);
    // Still serving.
    TSeedLinkTestClient client;
    ASSERT_TRUE(Connect(client));
    ASSERT_TRUE(client.Send("FETCH 000000"));
    int packets = 0;
    while (client.ReadPacket(2s)) {
        ++packets;
    }
    EXPECT_EQ(packets, 10);
    // Connection events are logged at a limited rate, the rest counted.
    const std::string log = Log();
    EXPECT_LT(std::count(log.begin(), log.end(), '\n'), 200);
}
