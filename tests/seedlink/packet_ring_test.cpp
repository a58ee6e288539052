// The packet ring: numbering and wrap of sequence numbers, where a resuming client starts,
// the capacity; its file after a kill, after a power cut (tail lost, a slot torn), converted
// from the former format or another capacity; a damaged, foreign or truncated file refused
// without harm.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "seedfile/seed_record.h"
#include "seedlink/packet_ring.h"

namespace fs = std::filesystem;

namespace {

// A 512-byte record of station STA, channel `channel`, its sequence field `n`.
TSeedLinkPacket Packet(int n, const std::string& channel = "HHZ") {
    std::array<uint8_t, SeedLinkRecordLength> record{};
    const auto header = MakeFixedHeader(n % 999999 + 1, TSeedCodes{"STA", "", "XX", channel}, 100.0,
                                        0, TSeedTime{1700000000 + n, 0}, TByteOrder::Big);
    std::copy(header.begin(), header.end(), record.begin());
    const auto packet = PacketOfRecord(record, int64_t(1700000000 + n) * 1000000,
                                       int64_t(1700000000 + n) * 1000000 + 990000);
    EXPECT_TRUE(packet);
    return *packet;
}

// Packet n as the rings of the crash tests have it: HHZ and LKS by turns.
TSeedLinkPacket Alternating(int n) {
    return Packet(n, n % 2 == 0 ? "HHZ" : "LKS");
}

size_t Bytes(size_t packets) {
    return packets * TPacketRing::PacketBytes;
}

class PacketRingFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("packet_ring_" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

void PutLe(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += char(value >> (8 * i));
    }
}

// A ring file as the former versions saved it at a stop: `packets` numbered up to `next`.
std::string FormerFile(uint64_t next, const std::vector<TSeedLinkPacket>& packets) {
    std::string bytes = "SLPRING\n";
    PutLe(bytes, 1, 4);
    PutLe(bytes, next, 8);
    PutLe(bytes, packets.size(), 8);
    for (const TSeedLinkPacket& p : packets) {
        PutLe(bytes, uint64_t(p.StartMicroseconds), 8);
        PutLe(bytes, uint64_t(p.EndMicroseconds), 8);
        bytes.append(reinterpret_cast<const char*>(p.Record.data()), p.Record.size());
    }
    uint32_t crc = 0xFFFFFFFF;
    for (const char c : bytes) {
        crc ^= uint8_t(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1) != 0 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
    }
    PutLe(bytes, ~crc, 4);
    return bytes;
}

// In a child process: the ring of `path` opened, `count` packets added (synced after
// `synced` of them), then killed with SIGKILL before anything else.
void AddAndGetKilled(const std::string& path, size_t capacity, int from, int count, int synced) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TPacketRing ring(Bytes(capacity));
        if (!ring.Open(path)) {
            _exit(3);
        }
        for (int n = from; n < from + count; ++n) {
            if (n - from == synced && !ring.Sync()) {
                _exit(4);
            }
            ring.Add(Alternating(n));
        }
        raise(SIGKILL);
        _exit(5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
}

// What a power cut does to the file: the slots of `indices` never reached the disk, and the
// boot it was written in is over.
void PowerCut(const std::string& path, size_t capacity, std::vector<uint64_t> indices) {
    const int fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    const std::string zeros(TPacketRing::PacketBytes, '\0');
    for (const uint64_t index : indices) {
        ASSERT_EQ(pwrite(fd, zeros.data(), zeros.size(),
                         off_t(4096 + (index % capacity) * TPacketRing::PacketBytes)),
                  ssize_t(zeros.size()));
    }
    const std::string otherBoot(40, 'x');
    ASSERT_EQ(pwrite(fd, otherBoot.data(), otherBoot.size(), 32), 40);
    close(fd);
}

}  // namespace

TEST(PacketRing, SequenceNumbersAndWhereAClientStarts) {
    TPacketRing ring(Bytes(10));
    EXPECT_EQ(ring.Capacity(), 10u);
    EXPECT_EQ(ring.IndexOfSequence(0), 0u) << "an empty ring: the next packet";
    EXPECT_EQ(ring.IndexOfSequence(0x123456), 0u);
    for (int n = 0; n < 25; ++n) {
        EXPECT_EQ(ring.Add(Packet(n)), uint64_t(n));
    }
    EXPECT_EQ(ring.First(), 15u);
    EXPECT_EQ(ring.Next(), 25u);
    EXPECT_EQ(ring.Size(), 10u);
    EXPECT_EQ(ring.At(14), nullptr);
    ASSERT_NE(ring.At(15), nullptr);
    EXPECT_EQ(CodeText(ring.At(15)->Station), "STA");
    EXPECT_EQ(CodeText(ring.At(15)->Channel), "HHZ");
    EXPECT_EQ(ring.At(25), nullptr);

    struct TCase {
        uint32_t Sequence;
        uint64_t Start;
        const char* Why;
    };
    for (const TCase& c : std::vector<TCase>{
             {20, 20, "held: that packet"},
             {15, 15, "the oldest held"},
             {24, 24, "the newest"},
             {25, 25, "the next to come: new packets only"},
             {14, 15, "gone: the oldest held"},
             {0, 15, "long gone: the oldest held"},
             {26, 25, "ahead: the next new packet"},
             {0x7FFFFF, 25, "ahead by less than half the numbers: the next new packet"},
             {0xFFFFFF, 15, "far away: the oldest held"},
         }) {
        EXPECT_EQ(ring.IndexOfSequence(c.Sequence), c.Start) << c.Why;
    }
}

TEST_F(PacketRingFile, AfterAKillTheRingIsWholeAndNumberingGoesOnWithoutAGap) {
    const std::string path = Path("ring");
    AddAndGetKilled(path, 100, 0, 130, 0);  // never synced: only the kernel has them
    TPacketRing ring(Bytes(100));
    const TResult<TPacketRing::TOpened> opened = ring.Open(path);
    ASSERT_TRUE(opened) << opened.Error().Text;
    EXPECT_FALSE(opened->Created || opened->Converted || opened->Rebooted);
    EXPECT_EQ(ring.First(), 30u);
    EXPECT_EQ(ring.Next(), 130u);
    EXPECT_EQ(ring.Size(), 100u);
    for (uint64_t i = ring.First(); i < ring.Next(); ++i) {
        ASSERT_NE(ring.At(i), nullptr) << i;
        EXPECT_EQ(ring.At(i)->Record, Alternating(int(i)).Record) << i;
        EXPECT_EQ(CodeText(ring.At(i)->Channel), i % 2 == 0 ? "HHZ" : "LKS");
    }
    EXPECT_EQ(ring.Overwritten(), ring.At(30)) << "the oldest goes next";
    EXPECT_EQ(ring.Add(Packet(130)), 130u);
    EXPECT_EQ(ring.At(30), nullptr);
    EXPECT_EQ(ring.Size(), 100u);
    // Once more, from the ring's own file: the numbers keep running on.
    ASSERT_TRUE(ring.Sync());
    AddAndGetKilled(path, 100, 131, 5, 0);
    TPacketRing again(Bytes(100));
    ASSERT_TRUE(again.Open(path));
    EXPECT_EQ(again.Next(), 136u);
    EXPECT_EQ(again.At(135)->Record, Alternating(135).Record);
}

// A figure of this process's memory from /proc/self/status ("VmRSS", "VmHWM"), in kB.
int64_t MemoryKb(const std::string& name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::stoll(line.substr(name.size() + 1));
        }
    }
    return -1;
}

TEST_F(PacketRingFile, OpeningALargeRingLeavesLittleOfItResident) {
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak from now on
    const int64_t before = MemoryKb("VmRSS");
    ASSERT_GE(before, 0);
    TPacketRing ring(size_t{64} << 20);
    ASSERT_TRUE(ring.Open(Path("ring")));
    ring.Add(Packet(0));
    TPacketRing again(size_t{64} << 20);
    ASSERT_TRUE(again.Open(Path("ring.2")));
    EXPECT_LT(MemoryKb("VmRSS") - before, 8 * 1024) << "kB of two 64 MB rings resident";
    EXPECT_LT(MemoryKb("VmHWM") - before, 24 * 1024) << "kB at the peak, opening them";
}

TEST_F(PacketRingFile, AfterAPowerCutNoNumberIsGivenTwice) {
    struct TCase {
        const char* Name;
        std::vector<uint64_t> Lost;  // slots that never reached the disk
        uint64_t First, Last;        // held after it
        uint64_t Dropped;
    };
    const std::vector<TCase> cases = {
        {"the unsynced tail lost", {40, 41, 42, 43, 44, 45, 46, 47, 48, 49}, 0, 39, 0},
        {"a page of the middle lost too", {20, 21, 45, 46, 47, 48, 49}, 22, 44, 20},
        {"nothing lost", {}, 0, 49, 0},
    };
    for (const TCase& c : cases) {
        const std::string path = Path(std::string("ring-") + std::to_string(&c - &cases[0]));
        // Room for more than a block of reserved numbers, so that the jump keeps what is held.
        constexpr size_t Capacity = 2 * TPacketRing::ReserveBlock;
        AddAndGetKilled(path, Capacity, 0, 50, 40);
        PowerCut(path, Capacity, c.Lost);
        TPacketRing ring(Bytes(Capacity));
        const TResult<TPacketRing::TOpened> opened = ring.Open(path);
        ASSERT_TRUE(opened) << c.Name << ": " << opened.Error().Text;
        EXPECT_EQ(ring.First(), c.First) << c.Name;
        EXPECT_EQ(ring.Size(), c.Last - c.First + 1) << c.Name;
        EXPECT_EQ(opened->Dropped, c.Dropped) << c.Name;
        // Numbers 0..49 may have gone out: new packets are numbered after the reservation.
        EXPECT_EQ(ring.Next(), TPacketRing::ReserveBlock) << c.Name;
        EXPECT_TRUE(opened->Rebooted) << c.Name;
        EXPECT_EQ(ring.At(c.Last)->Record, Alternating(int(c.Last)).Record) << c.Name;
        // A client that had 45 resumes with the next new packet (when 46 was lost); one that had 10
        // from 11 (or the oldest held when 11 was lost).
        EXPECT_EQ(ring.IndexOfSequence(46), c.Last >= 46 ? 46 : ring.Next()) << c.Name;
        EXPECT_EQ(ring.IndexOfSequence(11), std::max<uint64_t>(11, c.First)) << c.Name;
        EXPECT_EQ(ring.Add(Packet(50)), TPacketRing::ReserveBlock) << c.Name;
    }
}

TEST_F(PacketRingFile, FormerFilesAndOtherCapacitiesAreConverted) {
    std::vector<TSeedLinkPacket> packets;
    for (int n = 0; n < 6; ++n) {
        packets.push_back(Packet(n));
    }
    // Numbering just before the wrap: held FFFFFC..000001, next 000002.
    const uint64_t next = (uint64_t{1} << 24) + 2;
    std::ofstream(Path("ring"), std::ios::binary) << FormerFile(next, packets);
    TPacketRing wrapped(Bytes(8));
    const TResult<TPacketRing::TOpened> opened = wrapped.Open(Path("ring"));
    ASSERT_TRUE(opened) << opened.Error().Text;
    EXPECT_TRUE(opened->Converted);
    EXPECT_EQ(TPacketRing::SequenceOf(wrapped.First()), 0xFFFFFCu);
    EXPECT_EQ(TPacketRing::SequenceOf(wrapped.Next() - 1), 0x000001u);
    EXPECT_EQ(wrapped.At(next - 1)->Record, packets[5].Record);
    EXPECT_EQ(wrapped.IndexOfSequence(0xFFFFFE), next - 4);
    EXPECT_EQ(wrapped.IndexOfSequence(0x000000), next - 2);
    EXPECT_EQ(wrapped.IndexOfSequence(0x000002), next) << "the next to come";
    EXPECT_EQ(wrapped.IndexOfSequence(0xFFFFFB), wrapped.First()) << "gone: the oldest";
    EXPECT_EQ(TPacketRing::SequenceOf(wrapped.Add(Packet(6))), 0x000002u);
    ASSERT_TRUE(wrapped.Sync());
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // A larger ring keeps all, a smaller one the newest; the numbers run on in both.
    struct TCase {
        size_t Capacity, Held;
    };
    uint64_t expected = next + 1;  // each adds one
    for (const TCase c : {TCase{50, 7}, TCase{3, 3}}) {
        TPacketRing resized(Bytes(c.Capacity));
        const TResult<TPacketRing::TOpened> again = resized.Open(Path("ring"));
        ASSERT_TRUE(again) << again.Error().Text;
        EXPECT_TRUE(again->Converted);
        EXPECT_EQ(resized.Capacity(), c.Capacity);
        EXPECT_EQ(resized.Size(), c.Held);
        EXPECT_EQ(resized.Next(), expected);
        EXPECT_EQ(resized.At(next)->Record, Packet(6).Record);
        EXPECT_EQ(resized.Add(Packet(7)), expected++);
    }
}

TEST_F(PacketRingFile, ADamagedForeignOrTruncatedFileIsRefusedAndTheRingKept) {
    std::vector<TSeedLinkPacket> packets;
    for (int n = 0; n < 20; ++n) {
        packets.push_back(Packet(n));
    }
    const std::string good = FormerFile(20, packets);
    struct TCase {
        const char* Name;
        std::string Bytes;
    };
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x40;
    std::string badRecord = good;
    badRecord[28 + 16 + 6] = 'X';  // the first record's quality
    std::string hugeCount = good;
    hugeCount[20 + 7] = 0x7F;
    std::string otherVersion = good;
    otherVersion[8] = 9;
    std::string shortRing = "SLRING2\n" + std::string(5000, '\0');
    const std::vector<TCase> cases = {
        {"empty", ""},
        {"foreign", "this is not a ring file at all, just some text\n"},
        {"truncated in the header", good.substr(0, 20)},
        {"truncated in a record", good.substr(0, good.size() / 2)},
        {"truncated at the checksum", good.substr(0, good.size() - 2)},
        {"longer", good + "x"},
        {"a flipped bit", flipped},
        {"a record that is none", badRecord},
        {"a count beyond the file", hugeCount},
        {"another version", otherVersion},
        {"a ring file cut short", shortRing},
    };
    for (const TCase& c : cases) {
        std::ofstream(Path("bad"), std::ios::binary | std::ios::trunc) << c.Bytes;
        TPacketRing target(Bytes(50));
        target.Add(Packet(7));
        target.Add(Packet(8));
        const TResult<TPacketRing::TOpened> opened = target.Open(Path("bad"));
        EXPECT_FALSE(opened) << c.Name;
        EXPECT_NE(opened.Error().Text.find(Path("bad")), std::string::npos) << c.Name;
        EXPECT_EQ(target.Size(), 2u) << c.Name << ": the ring is kept as it was";
        EXPECT_EQ(target.Next(), 2u) << c.Name;
        std::ifstream in(Path("bad"), std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), c.Bytes)
            << c.Name << ": left as it was";
    }
    TPacketRing target(Bytes(50));
    EXPECT_FALSE(target.Open(dir_.string())) << "a directory";
    EXPECT_FALSE(target.Open(Path("no/such/dir/ring"))) << "nowhere to create it";
}
