// The DataLink client against the test server on loopback, with real Steim-1 records of six
// channels: a server that goes away in the middle and comes back gets every record once and in
// order (a record twice only when it was sent again after a reconnect, within the window of
// records that may have lost their acknowledgement with the connection), byte for byte, so that
// libmseed decodes each stream back to the samples made. A full queue with no server drops the
// oldest and delivers the newest later; a server that refuses a stream or answers nonsense
// leaves the client up, counting, and reconnecting.
#include "datalink/datalink_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "datalink/datalink_protocol.h"
#include "datalink/datalink_test_server.h"
#include "seedfile/mseed_series.h"
#include "support/mseed_read.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const Channels[6] = {"HHZ", "HHN", "HHE", "HNZ", "HNN", "HNE"};
constexpr double Rate = 500;
constexpr int64_t MicrosecondsPerSample = 2000;

struct TMadeRecords {
    std::vector<TLiveRecord> Records;           // in the order they were made
    std::vector<std::vector<int32_t>> Samples;  // per channel, all that went into records
};

// At least `count` 512-byte records of six channels at 500 samples per second, made as the
// data arrives (blocks of 50 samples per channel in turn), so that the streams interleave.
TMadeRecords MakeRecords(size_t count) {
    TMadeRecords made;
    made.Samples.resize(6);
    const TSeedTime start{1735689600, 0};
    std::vector<std::unique_ptr<TMseedSeries>> series;
    for (const char* channel : Channels) {
        TSeriesFormat format;
        format.Codes = {"KST1", "", "XX", channel};
        format.SampleRate = Rate;
        format.RecordLength = 512;
        series.push_back(std::make_unique<TMseedSeries>(format, start));
    }
    const TMseedSeries::TSink sink = [&](const TSeriesRecord& r) {
        TLiveRecord record;
        record.Network = r.Codes->Network;
        record.Station = r.Codes->Station;
        record.Location = r.Codes->Location;
        record.Channel = r.Codes->Channel;
        record.Start = r.Start;
        record.End = r.End;
        record.Bytes.assign(r.Bytes.begin(), r.Bytes.end());
        made.Records.push_back(std::move(record));
    };
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int32_t> step(-3000, 3000);
    std::vector<int32_t> values(6, 0);
    while (made.Records.size() < count) {
        for (size_t c = 0; c < 6; ++c) {
            std::vector<int32_t> block(50);
            for (int32_t& v : block) {
                values[c] += step(random);
                v = values[c];
            }
            made.Samples[c].insert(made.Samples[c].end(), block.begin(), block.end());
            series[c]->Append(block, 0, 0, sink);
        }
    }
    for (auto& s : series) {
        s->Flush(sink);
    }
    return made;
}

// The client's log lines, gathered from its thread.
class TLogLines {
  public:
    TDataLinkClient::TLog Sink() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    int Count(const std::string& part) const {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const std::string& line : lines_) {
            n += line.find(part) != std::string::npos ? 1 : 0;
        }
        return n;
    }
    std::string All() const {
        std::lock_guard lock(mutex_);
        std::string all;
        for (const std::string& line : lines_) {
            all += line + "\n";
        }
        return all;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Waits (for a long time at most, against a hang) until `done` holds.
template <typename F>
bool WaitUntil(F done) {
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TDataLinkConfig ConfigFor(uint16_t port) {
    TDataLinkConfig config;
    config.Host = "127.0.0.1";
    config.Port = port;
    config.MinDelay = 20ms;
    config.MaxDelay = 200ms;
    return config;
}

// How the records a server stored follow the records expected, in their order. Within one
// connection they must follow each other without a gap; after a connection has ended, the next
// may begin again up to `window` records back (records sent again because their acknowledgement
// may have been lost with the connection, counted in Duplicates), but never further back, and
// never past the next record. The first stored is the first expected; the last, the last.
struct TDelivery {
    std::string Fault;  // the first departure from that; empty when there is none
    size_t Duplicates = 0;
};

TDelivery CheckDelivery(const std::vector<TLiveRecord>& expected,
                        const std::vector<TDataLinkTestServer::TWrite>& stored, size_t window) {
    TDelivery delivery;
    std::map<std::pair<std::string, int64_t>, size_t> indexOf;
    for (size_t i = 0; i < expected.size(); ++i) {
        indexOf[{StreamIdOf(expected[i]), HpTimeOf(expected[i].Start)}] = i;
    }
    int64_t last = -1;  // index of the last record stored
    int connection = 0;
    for (size_t k = 0; k < stored.size(); ++k) {
        const TDataLinkTestServer::TWrite& w = stored[k];
        const auto found = indexOf.find({w.StreamId, w.HpStart});
        const std::string where = "stored record " + std::to_string(k) + " (" + w.StreamId + " " +
                                  std::to_string(w.HpStart) + ")";
        if (found == indexOf.end()) {
            delivery.Fault = where + " was never expected";
            return delivery;
        }
        const int64_t index = int64_t(found->second);
        const TLiveRecord& record = expected[found->second];
        if (w.Bytes != record.Bytes) {
            delivery.Fault = where + " has other bytes than the record pushed";
            return delivery;
        }
        if (w.HpEnd != HpTimeOf(record.End) || w.Flags != "A") {
            delivery.Fault = where + " has the end time or flags wrong";
            return delivery;
        }
        if (index == last + 1) {
            // the next one
        } else if (w.Connection != connection && index <= last && last - index < int64_t(window)) {
            delivery.Duplicates += size_t(last - index + 1);
        } else {
            delivery.Fault = where + " is record " + std::to_string(index) + " after record " +
                             std::to_string(last) + " of connection " + std::to_string(connection) +
                             " on connection " + std::to_string(w.Connection);
            return delivery;
        }
        // A resent run must go on where the first copies went, through the last of them.
        if (index <= last) {
            for (int64_t i = index; i <= last; ++i, ++k) {
                if (k >= stored.size()) {
                    delivery.Fault = "the stored records end inside a resent run";
                    return delivery;
                }
                const auto again = indexOf.find({stored[k].StreamId, stored[k].HpStart});
                if (again == indexOf.end() || int64_t(again->second) != i ||
                    stored[k].Bytes != expected[size_t(i)].Bytes ||
                    stored[k].Connection != w.Connection) {
                    delivery.Fault = "stored record " + std::to_string(k) +
                                     " breaks a resent run at record " + std::to_string(i);
                    return delivery;
                }
            }
            --k;
        } else {
            last = index;
        }
        connection = w.Connection;
    }
    if (last + 1 != int64_t(expected.size())) {
        delivery.Fault = "the records stored end at " + std::to_string(last) + " of " +
                         std::to_string(expected.size());
    }
    return delivery;
}

// A port on loopback with nobody listening (it was free a moment ago).
uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace

TEST(DataLinkClient, AServerThatGoesAwayAndComesBackGetsEveryRecordOnceAndInOrder) {
    const TMadeRecords made = MakeRecords(3000);
    const size_t n = made.Records.size();
    TDataLinkTestServer server;
    const std::string where = "127.0.0.1:" + std::to_string(server.Port());
    // The server cuts itself off in the middle of the first half, with records on the way.
    server.CutAfter(n / 5);
    TDataLinkConfig config = ConfigFor(server.Port());
    config.Window = 8;
    TLogLines log;
    TDataLinkClient client(config, log.Sink());

    for (size_t i = 0; i < n / 2; ++i) {
        client.Push(made.Records[i]);
    }
    ASSERT_TRUE(WaitUntil([&] { return log.Count("lost " + where) == 1; })) << log.All();
    // Recording goes on while the server is away.
    for (size_t i = n / 2; i < n; ++i) {
        client.Push(made.Records[i]);
    }
    ASSERT_TRUE(WaitUntil([&] { return log.Count("cannot connect to " + where) == 1; }))
        << log.All();
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(WaitUntil([&] { return client.Status().Queued == 0; })) << log.All();
    client.Stop(5s);

    const std::vector<TDataLinkTestServer::TWrite> stored = server.Stored();
    const TDelivery delivery = CheckDelivery(made.Records, stored, config.Window);
    EXPECT_EQ(delivery.Fault, "");
    EXPECT_EQ(stored.size(), n + delivery.Duplicates);
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_TRUE(server.Faults().empty());

    const TDataLinkStatus status = client.Status();
    EXPECT_FALSE(status.Connected);
    EXPECT_EQ(status.Pushed, int64_t(n));
    EXPECT_EQ(status.Acknowledged, int64_t(n));
    EXPECT_EQ(status.Refused, 0);
    EXPECT_EQ(status.Dropped, 0);
    EXPECT_EQ(status.Queued, 0);
    EXPECT_EQ(status.Connections, 2);
    // Every record went once, and those on the way at the cut once more.
    EXPECT_EQ(status.Sent - status.Resent, int64_t(n));
    EXPECT_GE(status.Resent, int64_t(delivery.Duplicates));
    EXPECT_LE(status.Resent, int64_t(config.Window));
    // The cut's error went when the client was connected again.
    EXPECT_EQ(status.LastError, "");
    EXPECT_EQ(status.LastErrorMicroseconds, 0);
    std::cout << "records " << n << ", sent again after the cut " << status.Resent
              << ", stored twice " << delivery.Duplicates << "\n";

    // The client said who it is each time.
    const std::vector<std::string> ids = server.Ids();
    ASSERT_EQ(ids.size(), 2u);
    for (const std::string& id : ids) {
        EXPECT_EQ(id.rfind("ID digitizer-station:", 0), 0u) << id;
        EXPECT_NE(id.find(":" + std::to_string(getpid()) + ":"), std::string::npos) << id;
    }
    EXPECT_EQ(log.Count("connected to " + where), 2) << log.All();
    EXPECT_EQ(log.Count("not sent"), 0) << log.All();

    // Each stream, as the server got it (the first copies), is what libmseed reads back to the
    // samples made, in one segment, with the times the WRITE headers gave.
    const fs::path dir = fs::temp_directory_path() / ("datalink_test_" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (size_t c = 0; c < 6; ++c) {
        SCOPED_TRACE(Channels[c]);
        const std::string stream = std::string("XX_KST1__") + Channels[c] + "/MSEED";
        const fs::path path = dir / (std::string(Channels[c]) + ".mseed");
        std::vector<const TDataLinkTestServer::TWrite*> firsts;
        {
            std::ofstream file(path, std::ios::binary);
            int64_t lastStart = INT64_MIN;
            for (const TDataLinkTestServer::TWrite& w : stored) {
                if (w.StreamId == stream && w.HpStart > lastStart) {
                    lastStart = w.HpStart;
                    file.write(reinterpret_cast<const char*>(w.Bytes.data()),
                               std::streamsize(w.Bytes.size()));
                    firsts.push_back(&w);
                }
            }
        }
        const TMseedFile file = ReadMseedFile(path.string());
        ASSERT_TRUE(file.Ok) << file.Error;
        EXPECT_TRUE(file.Log.empty());
        EXPECT_EQ(file.Segments, 1);
        EXPECT_EQ(file.Samples(), made.Samples[c]);
        ASSERT_EQ(file.Records.size(), firsts.size());
        for (size_t r = 0; r < firsts.size(); ++r) {
            const TMseedRecord& record = file.Records[r];
            EXPECT_EQ(firsts[r]->HpStart, record.StartMicroseconds) << r;
            EXPECT_EQ(firsts[r]->HpEnd,
                      record.StartMicroseconds + (record.SampleCount - 1) * MicrosecondsPerSample)
                << r;
        }
    }
    fs::remove_all(dir);
}

TEST(DataLinkClient, AFullQueueWithNoServerDropsTheOldestAndDeliversTheNewestLater) {
    const TMadeRecords made = MakeRecords(251);
    const uint16_t port = FreePort();
    const std::string where = "127.0.0.1:" + std::to_string(port);
    TDataLinkConfig config = ConfigFor(port);
    config.QueueRecords = 100;
    config.MaxDelay = 50ms;
    TLogLines log;
    TDataLinkClient client(config, log.Sink());

    for (size_t i = 0; i < 250; ++i) {
        client.Push(made.Records[i]);
    }
    TDataLinkStatus status = client.Status();
    EXPECT_FALSE(status.Connected);
    EXPECT_EQ(status.Pushed, 250);
    EXPECT_EQ(status.Dropped, 150);
    EXPECT_EQ(status.Queued, 100);
    EXPECT_EQ(status.Sent, 0);
    // Several attempts fail while nobody listens; the failure is said once.
    ASSERT_TRUE(WaitUntil([&] { return client.Status().LastError != ""; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(log.Count("cannot connect to " + where), 1) << log.All();
    EXPECT_NE(client.Status().LastError.find("Connection refused"), std::string::npos);
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    EXPECT_LE(client.Status().LastErrorMicroseconds, now);
    EXPECT_GT(client.Status().LastErrorMicroseconds, now - 10'000'000);
    // The streak of drops goes on while the queue stays full: not said yet.
    EXPECT_EQ(log.Count("queue full"), 0) << log.All();

    TDataLinkTestServer server(port);
    ASSERT_EQ(server.Port(), port);
    ASSERT_TRUE(WaitUntil([&] { return client.Status().Acknowledged == 100; })) << log.All();
    // Connected again: the error of the time it could not connect is gone.
    EXPECT_EQ(client.Status().LastError, "");
    EXPECT_EQ(client.Status().LastErrorMicroseconds, 0);
    // The first record that finds room ends the streak, which is said with its count; Stop
    // with time to drain sends it before the client ends.
    client.Push(made.Records[250]);
    client.Stop(30s);
    EXPECT_EQ(client.Status().Acknowledged, 101);
    EXPECT_EQ(log.Count("queue full"), 1) << log.All();
    EXPECT_EQ(log.Count("queue full: 150 records not sent (the archive has them)"), 1) << log.All();
    EXPECT_EQ(log.Count("stopped with"), 0) << log.All();

    const std::vector<TLiveRecord> newest(made.Records.begin() + 150, made.Records.begin() + 251);
    const std::vector<TDataLinkTestServer::TWrite> stored = server.Stored();
    const TDelivery delivery = CheckDelivery(newest, stored, config.Window);
    EXPECT_EQ(delivery.Fault, "");
    EXPECT_EQ(stored.size(), 101u);
    status = client.Status();
    EXPECT_EQ(status.Pushed, status.Acknowledged + status.Dropped + status.Queued);
    EXPECT_EQ(status.Queued, 0);
    EXPECT_EQ(status.Dropped, 150);

    // Stopped at once with records waiting: they are said, and what comes later is dropped.
    server.Stop();
    TLogLines log2;
    TDataLinkClient client2(config, log2.Sink());
    for (size_t i = 0; i < 5; ++i) {
        client2.Push(made.Records[i]);
    }
    client2.Stop(0ms);
    client2.Push(made.Records[5]);
    status = client2.Status();
    EXPECT_EQ(status.Queued, 5);
    EXPECT_EQ(status.Dropped, 1);
    EXPECT_EQ(status.Pushed, 6);
    EXPECT_EQ(log2.Count("stopped with 5 records not sent (the archive has them)"), 1)
        << log2.All();
}

TEST(DataLinkClient, RefusalsAndNonsenseAnswersLeaveTheClientUpCountingAndReconnecting) {
    const TMadeRecords made = MakeRecords(120);
    const std::string refusedStream = "XX_KST1__HHN/MSEED";
    TDataLinkTestServer server;
    server.RefuseStream(refusedStream);
    const std::string where = "127.0.0.1:" + std::to_string(server.Port());
    TDataLinkConfig config = ConfigFor(server.Port());
    config.MinDelay = 10ms;
    config.MaxDelay = 50ms;
    config.AnswerTimeout = 500ms;
    config.Window = 1;  // the server has read all that came when it answers
    TLogLines log;
    TDataLinkClient client(config, log.Sink());
    size_t pushed = 0;
    auto push = [&](size_t count) {
        for (size_t i = 0; i < count; ++i) {
            client.Push(made.Records[pushed++]);
        }
    };
    auto settled = [&] {
        const TDataLinkStatus s = client.Status();
        return s.Queued == 0 && s.Acknowledged + s.Refused == int64_t(pushed);
    };

    // A refused stream: its records are counted and never sent again; the others go on.
    push(60);
    ASSERT_TRUE(WaitUntil(settled)) << log.All();
    size_t refusedSoFar = 0;
    for (size_t i = 0; i < pushed; ++i) {
        refusedSoFar += StreamIdOf(made.Records[i]) == refusedStream ? 1 : 0;
    }
    ASSERT_GT(refusedSoFar, 1u);
    EXPECT_EQ(client.Status().Refused, int64_t(refusedSoFar));
    EXPECT_EQ(server.Refused().size(), refusedSoFar);
    EXPECT_EQ(log.Count("refused a record of " + refusedStream), 1) << log.All();

    // Answers no server should give: each ends the connection, and the client comes back.
    struct TNonsense {
        TDataLinkTestServer::TAnswer Answer;
        std::string Said;
    };
    const TNonsense nonsense[] = {
        {TDataLinkTestServer::TAnswer::Garbage, "bytes that are not a DataLink packet"},
        {TDataLinkTestServer::TAnswer::BadHeader, "the server sent an answer \"xxxxx"},
        {TDataLinkTestServer::TAnswer::HugeSize, "announcing 1000000000000 bytes"},
        {TDataLinkTestServer::TAnswer::CutMidAnswer, "closed in the middle of a packet"},
        {TDataLinkTestServer::TAnswer::Silent, "no answer in 0.5 s"},
    };
    for (const TNonsense& n : nonsense) {
        SCOPED_TRACE(n.Said);
        const int connections = server.Connections();
        server.SetAnswer(n.Answer);
        push(2);
        ASSERT_TRUE(WaitUntil([&] {
            return server.Connections() >= connections + 2 && log.Count(n.Said) >= 1;
        })) << log.All();
    }
    // A server that does not take data: said once, however often the client tries again.
    const size_t ids = server.Ids().size();
    server.SetAnswer(TDataLinkTestServer::TAnswer::NoWrite);
    server.Stop();  // the client's next connection is the first without WRITE
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(WaitUntil([&] { return server.Ids().size() >= ids + 4; })) << log.All();
    EXPECT_EQ(log.Count("does not accept data"), 1) << log.All();
    EXPECT_FALSE(client.Status().Connected);

    // A good server again: everything not refused arrives once and in order.
    server.SetAnswer(TDataLinkTestServer::TAnswer::Ok);
    push(made.Records.size() - pushed);
    ASSERT_TRUE(WaitUntil(settled)) << log.All();
    EXPECT_TRUE(client.Status().Connected);
    std::vector<TLiveRecord> taken;
    std::vector<TLiveRecord> refused;
    for (const TLiveRecord& record : made.Records) {
        (StreamIdOf(record) == refusedStream ? refused : taken).push_back(record);
    }
    const std::vector<TDataLinkTestServer::TWrite> stored = server.Stored();
    const TDelivery delivery = CheckDelivery(taken, stored, config.Window);
    EXPECT_EQ(delivery.Fault, "");
    EXPECT_EQ(delivery.Duplicates, 0u);  // the nonsense answers stored nothing
    const std::vector<TDataLinkTestServer::TWrite> refusedStored = server.Refused();
    ASSERT_EQ(refusedStored.size(), refused.size());
    for (size_t i = 0; i < refused.size(); ++i) {
        EXPECT_EQ(refusedStored[i].Bytes, refused[i].Bytes) << i;
    }
    EXPECT_TRUE(server.Faults().empty());

    const TDataLinkStatus status = client.Status();
    EXPECT_EQ(status.Pushed, int64_t(made.Records.size()));
    EXPECT_EQ(status.Acknowledged, int64_t(taken.size()));
    EXPECT_EQ(status.Refused, int64_t(refused.size()));
    EXPECT_EQ(status.Dropped, 0);
    EXPECT_GT(status.Resent, 0);
    EXPECT_EQ(status.Sent - status.Resent, int64_t(made.Records.size()));
    client.Stop(0ms);
    EXPECT_FALSE(client.Status().Connected);
}
