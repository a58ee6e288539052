// A DataLink 1.0 server for the tests, on 127.0.0.1: it answers ID with its capabilities and
// stores every WRITE it acknowledges (stream ID, times, flags, bytes, the connection it came on).
// It can be stopped and started again on the same port, told to refuse a stream with ERROR, and
// told to answer in ways a real server never should.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class TDataLinkTestServer {
  public:
    enum class TAnswer {
        Ok,            // OK with a packet ID, the record stored
        NoWrite,       // capabilities without WRITE (and ERROR to a WRITE on such a connection)
        Garbage,       // bytes that are no DataLink packet in answer to a WRITE
        BadHeader,     // a packet whose 255-byte header is neither OK nor ERROR
        HugeSize,      // OK announcing a message of a terabyte
        CutMidAnswer,  // half an answer, then the connection closed
        Silent,        // no answer at all
    };

    struct TWrite {
        std::string StreamId;
        int64_t HpStart = 0;
        int64_t HpEnd = 0;
        std::string Flags;
        std::vector<uint8_t> Bytes;
        int Connection = 0;  // 1 for the first connection accepted, and so on
        int64_t PacketId = 0;
    };

    // Listens on 127.0.0.1:port (0: a port of the system's choosing).
    explicit TDataLinkTestServer(uint16_t port = 0);
    ~TDataLinkTestServer();
    TDataLinkTestServer(const TDataLinkTestServer&) = delete;
    TDataLinkTestServer& operator=(const TDataLinkTestServer&) = delete;

    uint16_t Port() const { return port_; }
    // Closes the listening socket and every connection at once.
    void Stop();
    // Listens again on the same port; false when it cannot.
    bool Start();
    // Stops by itself (as Stop) right after it has stored and acknowledged `count` records in
    // all: the cut comes while the client has more on the way.
    void CutAfter(size_t count);

    void SetAnswer(TAnswer answer);
    // ERROR for every WRITE of this stream ID.
    void RefuseStream(const std::string& streamId);

    std::vector<TWrite> Stored() const;    // acknowledged, in the order they came
    std::vector<TWrite> Refused() const;   // answered with ERROR
    int Connections() const;               // accepted so far
    int Writes() const;                    // WRITE packets read, whatever the answer
    std::vector<std::string> Ids() const;  // the ID headers received
    // Faults of the client seen by the server (a bad packet, a bad WRITE header).
    std::vector<std::string> Faults() const;

  private:
    struct TConnection {
        int Fd = -1;
        int Number = 0;
        std::vector<uint8_t> Input;
        bool Writable = false;  // WRITE was among the capabilities it was told
    };

    void Run();
    // Handles the packets that have come on `c`; false when the connection is to be closed.
    bool Handle(TConnection& c);
    bool Answer(TConnection& c, const std::string& header, const std::string& message);
    void Fault(const std::string& text);

    uint16_t port_ = 0;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> running_{false};

    mutable std::mutex mutex_;
    TAnswer answer_ = TAnswer::Ok;
    std::set<std::string> refusedStreams_;
    std::vector<TWrite> stored_;
    std::vector<TWrite> refused_;
    std::vector<std::string> ids_;
    std::vector<std::string> faults_;
    int connections_ = 0;
    int writes_ = 0;
    int64_t nextPacketId_ = 1;
    size_t cutAfter_ = 0;
};
