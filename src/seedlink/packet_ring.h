// The server's packets: every 512-byte record handed to it, numbered in the order it came.
// Numbers run on as 64-bit indices; a packet's SeedLink sequence number is its index modulo
// 2^24, so that sequence numbers wrap after FFFFFF. The ring holds the newest packets that fit
// in its capacity (memory grows only as it fills) and drops the oldest beyond it. It can be
// saved to a file and loaded from one, so that numbering and contents survive a restart.
// Not thread-safe: the server's thread owns it.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>

#include "base/result.h"

inline constexpr size_t SeedLinkRecordLength = 512;
inline constexpr uint32_t SeedLinkSequenceModulo = 1u << 24;

struct TSeedLinkPacket {
    // Codes as the record's header has them, blank-padded.
    std::array<char, 2> Network{};
    std::array<char, 5> Station{};
    std::array<char, 2> Location{};
    std::array<char, 3> Channel{};
    char Type = 'D';
    int64_t StartMicroseconds = 0;  // first sample
    int64_t EndMicroseconds = 0;    // last sample
    std::array<uint8_t, SeedLinkRecordLength> Record{};
};

// A code from a blank-padded field, blanks at its end dropped.
std::string CodeText(std::span<const char> field);

// A packet made from a record's bytes: the codes read from its fixed header. Nothing when the
// bytes are not a 512-byte record with a plausible header (quality D, R, Q or M; codes of
// printable characters).
std::optional<TSeedLinkPacket> PacketOfRecord(std::span<const uint8_t> record,
                                              int64_t startMicroseconds, int64_t endMicroseconds);

class TPacketRing {
  public:
    explicit TPacketRing(size_t capacityBytes);

    // Adds a packet and returns its index; the oldest go when the ring is full.
    uint64_t Add(const TSeedLinkPacket& packet);

    uint64_t First() const { return first_; }                   // index of the oldest packet held
    uint64_t Next() const { return first_ + packets_.size(); }  // index the next packet gets
    size_t Size() const { return packets_.size(); }
    size_t Capacity() const { return capacity_; }  // in packets
    bool Empty() const { return packets_.empty(); }
    // The packet of `index`, nullptr when it is not held.
    const TSeedLinkPacket* At(uint64_t index) const;

    static uint32_t SequenceOf(uint64_t index) {
        return static_cast<uint32_t>(index % SeedLinkSequenceModulo);
    }
    // Where a client that asks for `sequence` starts: that packet when it is held, the next
    // new packet when `sequence` is the one it will get, else the oldest held.
    uint64_t IndexOfSequence(uint32_t sequence) const;

    // The ring into `path`, atomically (a temporary file beside it, synced, renamed).
    TResult<void> Save(const std::string& path) const;
    // The ring from `path` in place of what it holds; on failure it is left as it was and the
    // error says why (missing, damaged, foreign, truncated). Never crashes on any file.
    TResult<void> Load(const std::string& path);

    // Bytes one packet takes in memory.
    static constexpr size_t PacketBytes = sizeof(TSeedLinkPacket) + 16;

  private:
    size_t capacity_;
    uint64_t first_ = 0;
    std::deque<TSeedLinkPacket> packets_;
};
