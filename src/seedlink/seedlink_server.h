// A SeedLink 3.1 server on its own thread: clients connect over TCP, choose stations and
// streams, and get every packet of the ring from where they ask on, then the new ones as they
// come. The station hands records over with Push, which never waits on the network: they go
// through a bounded queue to the server's thread, which numbers them into the ring. The server
// only reads commands and sends data; nothing a client sends changes the station.
//
// Each client has a bounded output queue. A client that reads nothing while new data comes is
// dropped when its queue is full; a client catching up from the ring is fed as its queue
// empties. A client that says nothing during the handshake, or takes nothing of what waits for
// it, for Timeout is closed. Connections from addresses outside Allow are closed at once; those
// beyond MaxClients too. All of it is logged, connection events at a limited rate.
//
// FETCH and TIME windows end with "END" once sent, then the connection closes; BYE closes it at
// once. INFO answers come from a table of streams kept as packets enter and leave the ring, so
// that one costs in proportion to the streams, not the packets; what one client may ask per
// second is bounded, and the connections are shown only to trusted addresses.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/result.h"
#include "recording/live_record.h"
#include "seedlink/address.h"
#include "seedlink/command.h"
#include "seedlink/packet_ring.h"

// The ring's default size: 6 channels x 100 samples/s x 86 400 s = 51.84 million samples a
// day; a 512-byte Steim-1 record holds at least 103 of them (every difference needing all 32
// bits), so at most 503 300 records a day, each taking 560 bytes in the ring: 282 MB, plus the
// state of health; 300 MB keeps a day of such data, and several days of a usual one.
inline constexpr int DefaultSeedLinkRingMegabytes = 300;

struct TSeedLinkConfig {
    TListenAddress Listen;
    size_t RingBytes = size_t{DefaultSeedLinkRingMegabytes} << 20;
    std::string RingFile;  // empty: the ring is kept in memory only
    // How often what entered the ring is synced to its file (what a power cut may lose).
    std::chrono::milliseconds SyncInterval{10000};
    std::vector<TAddressRange> Allow;  // empty: every address
    // Addresses INFO CONNECTIONS (and the connections of INFO ALL) is answered to.
    std::vector<TAddressRange> Trusted = LoopbackRanges();
    // INFO answers that scan the stations (all but ID and CAPABILITIES) one client gets per
    // second, with as many again in a burst; beyond that it gets an error INFO packet.
    int InfoPerSecond = 4;
    int MaxClients = 200;
    std::chrono::milliseconds Timeout{60000};
    size_t ClientQueueBytes = size_t{256} << 10;
    size_t HandOffRecords = 8192;  // records waiting for the server's thread
    std::string Software = "digitizer-station";
    std::string Description = "seismic digitizer station";
    // Stations served even before their first record (NET, STA).
    std::vector<std::pair<std::string, std::string>> Stations;
};

struct TSeedLinkClientStatus {
    std::string Address;
    std::string Selection;  // stations and streams asked for
    bool Streaming = false;
    std::optional<uint32_t> LastSequence;  // of the last packet queued for it
    int64_t PacketsSent = 0;
    size_t QueuedBytes = 0;
    size_t QueueCapacity = 0;
    int64_t ConnectedMicroseconds = 0;

    bool operator==(const TSeedLinkClientStatus&) const = default;
};

struct TSeedLinkStatus {
    bool Listening = false;
    std::string Listen;  // the address and port it listens on
    size_t RingPackets = 0;
    size_t RingCapacity = 0;  // packets
    std::optional<uint32_t> FirstSequence, LastSequence;
    int64_t Accepted = 0, Refused = 0, Dropped = 0, HandOffDropped = 0;
    std::vector<TSeedLinkClientStatus> Clients;
};

class TSeedLinkServer {
  public:
    explicit TSeedLinkServer(TSeedLinkConfig config);
    ~TSeedLinkServer();
    TSeedLinkServer(const TSeedLinkServer&) = delete;
    TSeedLinkServer& operator=(const TSeedLinkServer&) = delete;

    // Opens the ring file (created when missing, converted from the former format; an unusable
    // one is logged and the ring kept in memory only), binds and starts the thread. An error
    // when it cannot listen.
    TResult<void> Start();
    // A record for the clients; never waits on the network. Records beyond HandOffRecords
    // waiting for the thread drop the oldest of them (counted).
    void Push(const TLiveRecord& record);
    // A connection made elsewhere, handed over (SeedLink over WebSocket): `fd` is a
    // SOCK_SEQPACKET socket whose messages are the client's command lines; every answer and
    // packet goes back as one message. Allow and MaxClients apply to `bytes`, the client's
    // address, as to a TCP client. The server owns `fd` from now on (closed when refused, or
    // when the server is not running, which gives false).
    bool Adopt(int fd, const std::string& address, const std::array<uint8_t, 16>& bytes);
    // The thread ended, every connection closed, the records handed over put into the ring,
    // and the ring synced to its file.
    void Stop();

    TSeedLinkStatus Status() const;
    // Lines for the log since the last call.
    std::vector<std::string> TakeLog();
    // The port it listens on (after Start; for a configured port 0, the one given).
    int Port() const { return port_; }

  private:
    struct TRequest {
        std::string Station, Network;  // patterns; empty: any
        TStreamSelection Selection;
        std::optional<uint64_t> From;  // index of the first packet wanted; none: new ones
        std::optional<int64_t> Begin, End;
    };
    struct TClient;
    // A stream's packets in the ring (indices, oldest first) and the time span they cover.
    struct TStreamState {
        std::deque<uint64_t> Indices;
        int64_t Begin = 0, End = 0;  // first sample of the oldest, last of the newest
    };
    // NET, STA, LOC, CHA and type, as blank-padded codes (13 characters).
    static std::string StreamKey(const TSeedLinkPacket& packet);

    void Run();
    void Accept(std::chrono::steady_clock::time_point now);
    // A new client on `fd`, unless its address is refused or there are MaxClients already
    // (then `fd` is closed and false given).
    bool AddClient(int fd, const std::string& address,
                   const std::optional<std::array<uint8_t, 16>>& bytes, bool messages,
                   std::chrono::steady_clock::time_point now);
    void TakeAdopted(std::chrono::steady_clock::time_point now);
    void Read(TClient& client, std::chrono::steady_clock::time_point now);
    void Write(TClient& client, std::chrono::steady_clock::time_point now);
    void Handle(TClient& client, const TCommandLines::TLine& line);
    void StartStreaming(TClient& client);
    void Pump(TClient& client, bool live);
    bool Wanted(const TClient& client, uint64_t index, const TSeedLinkPacket& packet) const;
    void Queue(TClient& client, const std::string& bytes);
    void Close(TClient& client, const std::string& why, bool dropped = false);
    void TakePending();
    void PublishStatus();
    void Log(const std::string& line);
    void LogConnection(const std::string& line, std::chrono::steady_clock::time_point now);
    bool StationKnown(const std::string& station, const std::string& network) const;
    // Into the ring, the table of streams following what enters and what goes.
    void AddToRing(const TSeedLinkPacket& packet);
    void Track(uint64_t index, const TSeedLinkPacket& packet);
    bool WindowDone(const TRequest& request) const;
    void AnswerInfo(TClient& client, const std::string& level,
                    std::chrono::steady_clock::time_point now);
    std::string InfoXml(const std::string& level, const TClient& asker) const;
    std::string InfoHead() const;
    std::string InfoErrorXml(const std::string& message) const;
    std::string ClientSelection(const TClient& client) const;

    TSeedLinkConfig config_;
    TPacketRing ring_;
    int listen_ = -1;
    int wake_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    bool started_ = false;
    bool stopped_ = false;
    int64_t startedMicroseconds_ = 0;

    std::mutex pendingMutex_;
    std::deque<TLiveRecord> pending_;
    int64_t handOffDropped_ = 0;
    struct TAdopted {
        int Fd;
        std::string Address;
        std::array<uint8_t, 16> Bytes;
    };
    std::vector<TAdopted> adopted_;  // connections handed over, for the thread to take

    std::vector<std::unique_ptr<TClient>> clients_;
    std::set<std::pair<std::string, std::string>> stations_;  // (NET, STA) served
    std::map<std::string, TStreamState> streams_;             // by StreamKey
    std::chrono::steady_clock::time_point nextSync_{};
    bool syncFailing_ = false;
    int64_t latestEnd_ = 0;  // end of the newest data in the ring
    int64_t accepted_ = 0, refused_ = 0, dropped_ = 0;
    std::chrono::steady_clock::time_point acceptPausedUntil_{};
    bool acceptFailing_ = false;

    // Connection events logged per window, the rest counted.
    std::chrono::steady_clock::time_point logWindow_{};
    int loggedInWindow_ = 0;
    int64_t notLogged_ = 0;

    mutable std::mutex statusMutex_;
    TSeedLinkStatus status_;
    std::chrono::steady_clock::time_point nextStatus_{};
    std::chrono::steady_clock::time_point nextBusyStatus_{};
    int64_t publishedAccepted_ = 0, publishedRefused_ = 0;
    uint64_t publishedNext_ = 0;

    std::mutex logMutex_;
    std::vector<std::string> log_;
    int64_t logLost_ = 0;
};
