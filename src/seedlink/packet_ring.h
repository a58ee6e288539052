// The server's packets: every 512-byte record handed to it, numbered in the order it came.
// Numbers run on as 64-bit indices; a packet's SeedLink sequence number is its index modulo
// 2^24, so that sequence numbers wrap after FFFFFF. The ring holds the newest packets that fit
// in its capacity and drops the oldest beyond it.
//
// The ring lives in a memory mapping: of its file when it has one, so that every packet is in
// the file the moment it is numbered (the kernel keeps it when the process is killed), and on
// disk after Sync (a power cut loses at most what came since). Each slot carries its index and
// a checksum, so that a slot torn by a power cut is recognised and left out. Numbers are
// reserved in blocks, the reservation synced to the file before any of them is used; after a
// restart of the machine numbering goes on after the reservation, so that no number given out
// before the cut ever names other data. Memory (and the file) grows only as the ring fills.
// Not thread-safe: the server's thread owns it.
#pragma once

#include <array>
#include <cstdint>
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
    // A ring in memory only, until Open.
    explicit TPacketRing(size_t capacityBytes);
    ~TPacketRing();
    TPacketRing(const TPacketRing&) = delete;
    TPacketRing& operator=(const TPacketRing&) = delete;

    // What Open found.
    struct TOpened {
        bool Created = false;    // there was no file
        bool Converted = false;  // a file of the former format, or of another capacity
        bool Rebooted = false;   // written before the machine restarted: numbers skipped
        uint64_t Dropped = 0;    // packets of the file left out (torn, cut off, beyond capacity)
    };
    // The ring in the file at `path`, created when missing; a file of the former format (saved
    // whole at a stop) or of another capacity is converted. On failure the ring stays in memory
    // as it was and the error says why.
    TResult<TOpened> Open(const std::string& path);

    // Adds a packet and returns its index; the oldest go when the ring is full.
    uint64_t Add(const TSeedLinkPacket& packet);
    // The packet the next Add drops, nullptr when none.
    const TSeedLinkPacket* Overwritten() const;
    // What was added since the last Sync, to the disk. Nothing to do without a file.
    TResult<void> Sync();

    uint64_t First() const;                        // index of the oldest packet held
    uint64_t Next() const { return next_; }        // index the next packet gets
    size_t Size() const { return held_; }          // packets held
    size_t Capacity() const { return capacity_; }  // in packets
    bool Empty() const { return held_ == 0; }
    // The packet of `index`, nullptr when it is not held.
    const TSeedLinkPacket* At(uint64_t index) const;

    static uint32_t SequenceOf(uint64_t index) {
        return static_cast<uint32_t>(index % SeedLinkSequenceModulo);
    }
    // Where a client that asks for `sequence` starts: that packet when it is held; the next
    // held after it when it falls in numbers skipped at a restart; the next new packet when it
    // is the one that comes next or lies ahead (less than half the sequence space); else the
    // oldest held.
    uint64_t IndexOfSequence(uint32_t sequence) const;

    // Numbers reserved at a time.
    static constexpr uint64_t ReserveBlock = 1024;
    // Bytes one packet takes (in memory and in the file).
    static constexpr size_t PacketBytes = 8 + 8 + sizeof(TSeedLinkPacket);

  private:
    struct TSlot;
    struct THeader;
    TSlot* SlotOf(uint64_t index) const;
    bool Holds(uint64_t index) const;
    void Reserve();
    TResult<void> Map(int fd, bool shared, size_t bytes);
    void MapMemory();
    void Unmap();

    size_t capacity_;
    uint8_t* map_ = nullptr;
    size_t mapBytes_ = 0;
    bool file_ = false;
    uint64_t first_ = 0;  // no packet below it is held (beyond what capacity drops)
    uint64_t next_ = 0;
    size_t held_ = 0;
    uint64_t synced_ = 0;  // packets below it are on disk
};
