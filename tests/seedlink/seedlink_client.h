// A SeedLink client for the tests, written from the protocol's description: command lines out,
// answer lines and packets ("SL" + six hexadecimal digits + a 512-byte record, or "SLINFO" + two
// characters + a 512-byte record) in, over TCP on the loopback address.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TSeedLinkTestClient {
  public:
    struct TPacket {
        bool Info = false;      // an INFO packet
        bool MoreInfo = false;  // an INFO packet with more to follow ('*')
        uint32_t Sequence = 0;  // of a data packet
        std::array<uint8_t, 512> Record{};

        std::string Station() const;
        std::string Channel() const;
        // The ASCII payload of an INFO packet's log record.
        std::string Text() const;
    };

    TSeedLinkTestClient() = default;
    ~TSeedLinkTestClient();
    TSeedLinkTestClient(const TSeedLinkTestClient&) = delete;
    TSeedLinkTestClient& operator=(const TSeedLinkTestClient&) = delete;

    // Connects to 127.0.0.1:port, trying again until `timeout` (a server still starting);
    // with `receiveBuffer`, the socket's receive buffer is made that small first.
    bool Connect(int port, std::chrono::milliseconds timeout, int receiveBuffer = 0);
    // Sends `line` and CR LF.
    bool Send(const std::string& line);
    bool SendRaw(const std::string& bytes);
    // One answer line without its CR LF; nothing when none came in time or the connection
    // ended.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // One packet; nothing when none came in time, the connection ended, the server sent "END"
    // (then Ended() is true) or the bytes were not a packet (then Garbled() is true).
    std::optional<TPacket> ReadPacket(std::chrono::milliseconds timeout);
    // True when the server closed the connection within `timeout` (what waited is dropped).
    bool WaitClosed(std::chrono::milliseconds timeout);
    bool Garbled() const { return garbled_; }
    bool Ended() const { return ended_; }
    void Close();
    int Fd() const { return fd_; }

  private:
    // Reads until `buffer_` holds `bytes` bytes; false on timeout or end.
    bool Fill(size_t bytes, std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    std::string buffer_;
    bool garbled_ = false;
    bool ended_ = false;
};

// A port on 127.0.0.1 nobody listens on at the moment.
int FreeLoopbackPort();
// Descriptors this process has open (/proc/self/fd).
int OpenDescriptors();
