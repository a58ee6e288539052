#include "seedlink/packet_ring.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The file: magic, version, next index, count (little-endian), then per packet its start and
// end time and its record, then a CRC-32 of everything before it.
constexpr char Magic[8] = {'S', 'L', 'P', 'R', 'I', 'N', 'G', '\n'};
constexpr uint32_t Version = 1;
constexpr size_t HeaderBytes = 8 + 4 + 8 + 8;
constexpr size_t EntryBytes = 8 + 8 + SeedLinkRecordLength;

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

uint64_t GetLe(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | p[i];
    }
    return value;
}

// Reads exactly `size` bytes; false at the end of the file or on an error.
bool ReadAll(int fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string CodeText(std::span<const char> field) {
    std::string text(field.begin(), field.end());
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

std::optional<TSeedLinkPacket> PacketOfRecord(std::span<const uint8_t> record,
                                              int64_t startMicroseconds, int64_t endMicroseconds) {
    if (record.size() != SeedLinkRecordLength) {
        return std::nullopt;
    }
    const char quality = static_cast<char>(record[6]);
    if (quality != 'D' && quality != 'R' && quality != 'Q' && quality != 'M') {
        return std::nullopt;
    }
    for (size_t i = 8; i < 20; ++i) {
        if (record[i] < 0x20 || record[i] >= 0x7F) {
            return std::nullopt;
        }
    }
    TSeedLinkPacket packet;
    std::memcpy(packet.Station.data(), record.data() + 8, 5);
    std::memcpy(packet.Location.data(), record.data() + 13, 2);
    std::memcpy(packet.Channel.data(), record.data() + 15, 3);
    std::memcpy(packet.Network.data(), record.data() + 18, 2);
    packet.Type = 'D';
    packet.StartMicroseconds = startMicroseconds;
    packet.EndMicroseconds = endMicroseconds;
    std::memcpy(packet.Record.data(), record.data(), SeedLinkRecordLength);
    return packet;
}

TPacketRing::TPacketRing(size_t capacityBytes)
    : capacity_(std::max<size_t>(capacityBytes / PacketBytes, 1)) {}

uint64_t TPacketRing::Add(const TSeedLinkPacket& packet) {
    while (packets_.size() >= capacity_) {
        packets_.pop_front();
        ++first_;
    }
    packets_.push_back(packet);
    return Next() - 1;
}

const TSeedLinkPacket* TPacketRing::At(uint64_t index) const {
    if (index < first_ || index >= Next()) {
        return nullptr;
    }
    return &packets_[static_cast<size_t>(index - first_)];
}

uint64_t TPacketRing::IndexOfSequence(uint32_t sequence) const {
    const uint64_t next = Next();
    // How far back from the next packet `sequence` lies, modulo 2^24.
    const uint64_t back =
        (SequenceOf(next) + SeedLinkSequenceModulo - (sequence % SeedLinkSequenceModulo)) %
        SeedLinkSequenceModulo;
    if (back <= packets_.size()) {
        return next - back;
    }
    return first_;
}

TResult<void> TPacketRing::Save(const std::string& path) const {
    // Written a megabyte at a time: the ring may hold hundreds of them.
    return ReplaceFileDurably(
        path,
        [this](int fd) -> TStatus {
            std::vector<uint8_t> buffer;
            buffer.reserve(size_t{1} << 20);
            buffer.insert(buffer.end(), Magic, Magic + 8);
            PutLe(buffer, Version, 4);
            PutLe(buffer, Next(), 8);
            PutLe(buffer, packets_.size(), 8);
            uint32_t crc = 0;
            TStatus written;
            const auto flush = [&] {
                crc = Crc32(crc, buffer.data(), buffer.size());
                if (written) {
                    written = WriteAll(fd, buffer.data(), buffer.size());
                }
                buffer.clear();
            };
            for (const TSeedLinkPacket& packet : packets_) {
                PutLe(buffer, static_cast<uint64_t>(packet.StartMicroseconds), 8);
                PutLe(buffer, static_cast<uint64_t>(packet.EndMicroseconds), 8);
                buffer.insert(buffer.end(), packet.Record.begin(), packet.Record.end());
                if (buffer.size() >= (size_t{1} << 20)) {
                    flush();
                }
            }
            flush();
            PutLe(buffer, crc, 4);
            flush();
            return written;
        },
        0644);
}

TResult<void> TPacketRing::Load(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return SystemError(path, errno);
    }
    const auto fail = [&](const std::string& reason) -> TResult<void> {
        close(fd);
        return TError{path + ": " + reason};
    };
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return fail("not a regular file");
    }
    uint8_t header[HeaderBytes];
    if (!ReadAll(fd, header, sizeof header)) {
        return fail("too short for a packet ring file");
    }
    if (std::memcmp(header, Magic, 8) != 0) {
        return fail("not a packet ring file");
    }
    if (GetLe(header + 8, 4) != Version) {
        return fail("a packet ring file of another version");
    }
    const uint64_t next = GetLe(header + 12, 8);
    const uint64_t count = GetLe(header + 20, 8);
    const auto size = static_cast<uint64_t>(info.st_size);
    if (count > next || count > (size / EntryBytes) ||
        size != HeaderBytes + count * EntryBytes + 4) {
        return fail("truncated or damaged (its size does not match its packet count)");
    }
    uint32_t crc = Crc32(0, header, sizeof header);
    std::deque<TSeedLinkPacket> packets;
    std::vector<uint8_t> entry(EntryBytes);
    for (uint64_t i = 0; i < count; ++i) {
        if (!ReadAll(fd, entry.data(), entry.size())) {
            return fail("truncated");
        }
        crc = Crc32(crc, entry.data(), entry.size());
        const std::optional<TSeedLinkPacket> packet = PacketOfRecord(
            std::span<const uint8_t>(entry).subspan(16), static_cast<int64_t>(GetLe(&entry[0], 8)),
            static_cast<int64_t>(GetLe(&entry[8], 8)));
        if (!packet) {
            return fail("damaged (packet " + std::to_string(i) + " is not a record)");
        }
        packets.push_back(*packet);
        if (packets.size() > capacity_) {
            packets.pop_front();
        }
    }
    uint8_t trailer[4];
    if (!ReadAll(fd, trailer, sizeof trailer)) {
        return fail("truncated");
    }
    close(fd);
    if (GetLe(trailer, 4) != crc) {
        return TError{path + ": damaged (its checksum does not match)"};
    }
    packets_ = std::move(packets);
    first_ = next - packets_.size();
    return {};
}
