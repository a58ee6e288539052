#include "seedlink/packet_ring.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

// The former file, saved whole at a stop: magic, version, next index, count (little-endian),
// then per packet its start and end time and its record, then a CRC-32 of everything before.
constexpr char FormerMagic[8] = {'S', 'L', 'P', 'R', 'I', 'N', 'G', '\n'};
constexpr uint32_t FormerVersion = 1;
constexpr size_t FormerHeaderBytes = 8 + 4 + 8 + 8;
constexpr size_t FormerEntryBytes = 8 + 8 + SeedLinkRecordLength;

// The mapped file: a page of header, then the slots (this machine's byte order).
constexpr char Magic[8] = {'S', 'L', 'R', 'I', 'N', 'G', '2', '\n'};
constexpr size_t HeaderPage = 4096;

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

// This boot of the machine, to tell a restarted process (the mapping's pages all kept by the
// kernel) from a restarted machine (what was not synced lost).
std::array<char, 40> BootId() {
    std::array<char, 40> id{};
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    in.read(id.data(), id.size() - 1);
    return id;
}

// The packets of a file of the former format and the index the next would have got.
TResult<std::vector<TSeedLinkPacket>> ReadFormer(const std::string& path, uint64_t& next) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return SystemError(path, errno);
    }
    const auto fail = [&](const std::string& reason) -> TResult<std::vector<TSeedLinkPacket>> {
        close(fd);
        return TError{path + ": " + reason};
    };
    struct stat info {};
    uint8_t header[FormerHeaderBytes];
    if (fstat(fd, &info) != 0 || !ReadAll(fd, header, sizeof header) ||
        GetLe(header + 8, 4) != FormerVersion) {
        return fail("a packet ring file of another version");
    }
    next = GetLe(header + 12, 8);
    const uint64_t count = GetLe(header + 20, 8);
    const auto size = static_cast<uint64_t>(info.st_size);
    if (count > next || count > (size / FormerEntryBytes) ||
        size != FormerHeaderBytes + count * FormerEntryBytes + 4) {
        return fail("truncated or damaged (its size does not match its packet count)");
    }
    uint32_t crc = Crc32(0, header, sizeof header);
    std::vector<TSeedLinkPacket> packets;
    std::vector<uint8_t> entry(FormerEntryBytes);
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
    }
    uint8_t trailer[4];
    if (!ReadAll(fd, trailer, sizeof trailer) || GetLe(trailer, 4) != crc) {
        return fail("damaged (its checksum does not match)");
    }
    close(fd);
    return packets;
}

// The file's blocks allocated on the disk (0, or the error); a file system that cannot say
// so beforehand is left to it.
int Allocate(int fd, off_t size) {
    const int error = posix_fallocate(fd, 0, size);
    return error == EOPNOTSUPP || error == EINVAL ? 0 : error;
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

struct TPacketRing::THeader {
    char Magic[8];
    uint32_t SlotBytes;
    uint32_t Unused;
    uint64_t Slots;
    uint64_t Reserved;  // numbers below it may have been given out
    std::array<char, 40> Boot;
};

struct TPacketRing::TSlot {
    uint64_t Index;
    uint32_t Crc;  // of Index and Packet
    uint32_t Used;
    TSeedLinkPacket Packet;

    uint32_t Checksum() const {
        return Crc32(Crc32(0, reinterpret_cast<const uint8_t*>(&Index), sizeof Index),
                     reinterpret_cast<const uint8_t*>(&Packet), sizeof Packet);
    }
};

TPacketRing::TPacketRing(size_t capacityBytes)
    : capacity_(std::max<size_t>(capacityBytes / PacketBytes, 1)) {
    static_assert(PacketBytes == sizeof(TSlot));
    MapMemory();
}

void TPacketRing::MapMemory() {
    Unmap();
    mapBytes_ = HeaderPage + capacity_ * sizeof(TSlot);
    void* map = mmap(nullptr, mapBytes_, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (map == MAP_FAILED) {
        throw std::bad_alloc();
    }
    map_ = static_cast<uint8_t*>(map);
    file_ = false;
    first_ = next_ = synced_ = 0;
    held_ = 0;
}

TPacketRing::~TPacketRing() {
    Unmap();
}

void TPacketRing::Unmap() {
    if (map_ != nullptr) {
        if (file_) {
            msync(map_, mapBytes_, MS_SYNC);
        }
        munmap(map_, mapBytes_);
        map_ = nullptr;
    }
}

TPacketRing::TSlot* TPacketRing::SlotOf(uint64_t index) const {
    return reinterpret_cast<TSlot*>(map_ + HeaderPage) + index % capacity_;
}

bool TPacketRing::Holds(uint64_t index) const {
    if (index < First() || index >= next_) {
        return false;
    }
    const TSlot* slot = SlotOf(index);
    return slot->Used == 1 && slot->Index == index;
}

uint64_t TPacketRing::First() const {
    return std::max(first_, next_ > capacity_ ? next_ - capacity_ : 0);
}

const TSeedLinkPacket* TPacketRing::At(uint64_t index) const {
    return Holds(index) ? &SlotOf(index)->Packet : nullptr;
}

const TSeedLinkPacket* TPacketRing::Overwritten() const {
    return next_ >= capacity_ ? At(next_ - capacity_) : nullptr;
}

void TPacketRing::Reserve() {
    auto* header = reinterpret_cast<THeader*>(map_);
    if (next_ < header->Reserved) {
        return;
    }
    header->Reserved = next_ + ReserveBlock;
    if (file_) {
        msync(map_, HeaderPage, MS_SYNC);  // on disk before any of the numbers is used
    }
}

uint64_t TPacketRing::Add(const TSeedLinkPacket& packet) {
    Reserve();
    if (Overwritten() != nullptr) {
        --held_;
    }
    TSlot* slot = SlotOf(next_);
    slot->Used = 0;
    slot->Packet = packet;
    slot->Index = next_;
    slot->Crc = slot->Checksum();
    slot->Used = 1;
    ++held_;
    return next_++;
}

uint64_t TPacketRing::IndexOfSequence(uint32_t sequence) const {
    const uint32_t wanted = sequence % SeedLinkSequenceModulo;
    // How far back from the next packet `sequence` lies, modulo 2^24.
    const uint64_t back =
        (SequenceOf(next_) + SeedLinkSequenceModulo - wanted) % SeedLinkSequenceModulo;
    if (back <= next_ - First()) {
        uint64_t index = next_ - back;
        while (index < next_ && !Holds(index)) {
            ++index;  // skipped at a restart: on from the next held
        }
        return index;
    }
    const uint64_t ahead = SeedLinkSequenceModulo - back;
    return ahead < SeedLinkSequenceModulo / 2 ? next_ : First();
}

TResult<void> TPacketRing::Sync() {
    if (!file_ || synced_ >= next_) {
        return {};
    }
    const uint64_t from = std::max(synced_, next_ > capacity_ ? next_ - capacity_ : 0);
    // The slots from `from` to next_, in at most two runs (the ring wraps).
    const auto syncSlots = [&](uint64_t first, uint64_t count) -> bool {
        const size_t page = HeaderPage;
        const size_t begin = (HeaderPage + first * sizeof(TSlot)) / page * page;
        const size_t end = HeaderPage + (first + count) * sizeof(TSlot);
        return msync(map_ + begin, end - begin, MS_SYNC) == 0;
    };
    const uint64_t start = from % capacity_;
    const uint64_t count = next_ - from;
    const uint64_t firstRun = std::min<uint64_t>(count, capacity_ - start);
    if (!syncSlots(start, firstRun) || (count > firstRun && !syncSlots(0, count - firstRun))) {
        return SystemError("packet ring: msync", errno);
    }
    synced_ = next_;
    return {};
}

TResult<void> TPacketRing::Map(int fd, bool shared, size_t bytes) {
    void* map =
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, shared ? MAP_SHARED : MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        return SystemError("packet ring: mmap", errno);
    }
    Unmap();
    map_ = static_cast<uint8_t*>(map);
    mapBytes_ = bytes;
    file_ = shared;
    return {};
}

TResult<TPacketRing::TOpened> TPacketRing::Open(const std::string& path) {
    TOpened opened;
    // What goes into a new file: the packets to keep and the numbers to go on from.
    std::vector<std::pair<uint64_t, TSeedLinkPacket>> keep;
    uint64_t reserved = next_;
    std::array<char, 40> boot{};
    for (uint64_t i = First(); i < next_; ++i) {
        if (const TSeedLinkPacket* packet = At(i)) {
            keep.push_back({i, *packet});
        }
    }
    const std::array<char, 40> thisBoot = BootId();
    const size_t fileBytes = HeaderPage + capacity_ * sizeof(TSlot);

    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) {
        return SystemError(path, errno);
    }
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        return TError{path + ": not a regular file"};
    }
    char magic[8]{};
    if (fd >= 0 && pread(fd, magic, sizeof magic, 0) != sizeof magic) {
        close(fd);
        return TError{path + ": too short for a packet ring file"};
    }
    if (fd < 0) {
        opened.Created = true;
    } else if (std::memcmp(magic, FormerMagic, 8) == 0) {
        close(fd);
        fd = -1;
        uint64_t next = 0;
        TResult<std::vector<TSeedLinkPacket>> former = ReadFormer(path, next);
        if (!former) {
            return former.Error();
        }
        const uint64_t count = former->size();
        const uint64_t kept = std::min<uint64_t>(count, capacity_);
        keep.clear();
        for (uint64_t k = count - kept; k < count; ++k) {
            keep.push_back({next - count + k, (*former)[k]});
        }
        opened.Converted = true;
        opened.Dropped = count - kept;
        reserved = next;
    } else if (std::memcmp(magic, Magic, 8) != 0) {
        close(fd);
        return TError{path + ": not a packet ring file"};
    } else {
        THeader header{};
        if (pread(fd, &header, sizeof header, 0) != sizeof header ||
            header.SlotBytes != sizeof(TSlot) || header.Slots == 0 ||
            static_cast<uint64_t>(info.st_size) != HeaderPage + header.Slots * sizeof(TSlot)) {
            close(fd);
            return TError{path + ": damaged (its size does not match its header)"};
        }
        // Mapped as it is; converted into a new file when its capacity differs.
        const bool inPlace = header.Slots == capacity_;
        // Its blocks allocated before it is mapped for writing: a write into a hole of a full
        // disk would kill the process (SIGBUS).
        if (const int error = inPlace ? Allocate(fd, static_cast<off_t>(info.st_size)) : 0) {
            close(fd);
            return SystemError(path + ": cannot allocate the ring's space", error);
        }
        const size_t savedCapacity = capacity_;
        if (const TResult<void> mapped = Map(fd, inPlace, static_cast<size_t>(info.st_size));
            !mapped) {
            close(fd);
            return mapped.Error();
        }
        capacity_ = header.Slots;
        // The newest valid slot, and the unbroken run of valid slots that ends with it.
        uint64_t newest = 0, valid = 0;
        bool any = false;
        // What the scan brought in is let go as it goes, in the file's own mapping (the file
        // keeps what was written to it): a ring of hundreds of megabytes is not all resident.
        const auto letGo = [&](uint64_t from, uint64_t to) {
            const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
            const size_t begin = (HeaderPage + from * sizeof(TSlot)) / page * page;
            madvise(map_ + begin, HeaderPage + to * sizeof(TSlot) - begin, MADV_DONTNEED);
        };
        constexpr uint64_t ScanChunk = 16384;
        for (uint64_t s = 0; s < capacity_; ++s) {
            if (inPlace && s % ScanChunk == 0 && s > 0) {
                letGo(s - ScanChunk, s);
            }
            TSlot& slot = reinterpret_cast<TSlot*>(map_ + HeaderPage)[s];
            if (slot.Used != 1 || slot.Index % capacity_ != s || slot.Crc != slot.Checksum()) {
                // Torn, or never written: only the former is written to, so that the scan does
                // not make the whole file to be written back.
                if (slot.Used != 0) {
                    slot.Used = 0;
                }
                continue;
            }
            ++valid;
            newest = any ? std::max(newest, slot.Index) : slot.Index;
            any = true;
        }
        uint64_t run = 0;
        while (any && run < capacity_ && run <= newest) {
            const TSlot* slot = SlotOf(newest - run);
            if (slot->Used != 1 || slot->Index != newest - run) {
                break;
            }
            ++run;
        }
        const bool sameBoot = header.Boot == thisBoot;
        next_ = any ? newest + 1 : 0;
        if (!sameBoot || !any) {
            next_ = std::max(next_, header.Reserved);
        }
        opened.Rebooted = !sameBoot && any && next_ > newest + 1;
        first_ = any ? newest + 1 - run : next_;
        held_ = static_cast<size_t>(run);
        synced_ = next_;
        opened.Dropped = valid - run;
        if (inPlace) {
            close(fd);
            letGo(0, capacity_);
            auto* h = reinterpret_cast<THeader*>(map_);
            h->Boot = thisBoot;
            h->Reserved = std::max(h->Reserved, next_);
            msync(map_, HeaderPage, MS_SYNC);
            return opened;
        }
        keep.clear();
        for (uint64_t i = std::max(First(), next_ > savedCapacity ? next_ - savedCapacity : 0);
             i < next_; ++i) {
            if (const TSeedLinkPacket* packet = At(i)) {
                keep.push_back({i, *packet});
            }
        }
        opened.Dropped += held_ - keep.size();
        opened.Converted = true;
        reserved = next_;
        close(fd);
        fd = -1;
        capacity_ = savedCapacity;
        MapMemory();
    }
    if (fd >= 0) {
        close(fd);
    }

    // A new file: the packets kept in their slots, the numbers to go on from reserved.
    const TStatus written = ReplaceFileDurably(
        path,
        [&](int out) -> TStatus {
            if (ftruncate(out, static_cast<off_t>(fileBytes)) != 0) {
                return SystemError(path, errno);
            }
            if (const int error = Allocate(out, static_cast<off_t>(fileBytes))) {
                return SystemError(path + ": cannot allocate the ring's space", error);
            }
            THeader header{};
            std::memcpy(header.Magic, Magic, 8);
            header.SlotBytes = sizeof(TSlot);
            header.Slots = capacity_;
            header.Reserved = reserved;
            header.Boot = boot;  // numbers go on after the reservation, as after a restart
            for (const auto& [index, packet] : keep) {
                TSlot slot{};
                slot.Index = index;
                slot.Packet = packet;
                slot.Crc = slot.Checksum();
                slot.Used = 1;
                const off_t at = static_cast<off_t>(HeaderPage + (index % capacity_) * sizeof slot);
                if (pwrite(out, &slot, sizeof slot, at) != static_cast<ssize_t>(sizeof slot)) {
                    return SystemError(path, errno);
                }
            }
            if (pwrite(out, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
                return SystemError(path, errno);
            }
            return {};
        },
        0644);
    if (!written) {
        return written.Error();
    }
    // Now opened in place.
    TResult<TOpened> reopened = Open(path);
    if (!reopened) {
        return reopened.Error();
    }
    return opened;
}
