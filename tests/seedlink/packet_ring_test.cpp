// The packet ring: numbering and wrap of sequence numbers, where a resuming client starts,
// the capacity, and the ring saved and loaded again, a damaged, foreign or truncated file
// refused without harm.
#include <gtest/gtest.h>
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
             {26, 15, "not yet given: the oldest held"},
             {0xFFFFFF, 15, "far away: the oldest held"},
         }) {
        EXPECT_EQ(ring.IndexOfSequence(c.Sequence), c.Start) << c.Why;
    }
}

TEST_F(PacketRingFile, SequenceNumbersWrapAfterFFFFFF) {
    // A ring file whose numbering stands just before the wrap: its next index set to 2^24 + 2
    // and its checksum made again.
    TPacketRing ring(Bytes(8));
    for (int n = 0; n < 6; ++n) {
        ring.Add(Packet(n));
    }
    ASSERT_TRUE(ring.Save(Path("ring")));
    std::ifstream in(Path("ring"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const uint64_t next = (uint64_t{1} << 24) + 2;
    for (int i = 0; i < 8; ++i) {
        bytes[size_t(12 + i)] = char(next >> (8 * i));
    }
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i + 4 < bytes.size(); ++i) {
        crc ^= uint8_t(bytes[i]);
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1) != 0 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
    }
    crc = ~crc;
    for (int i = 0; i < 4; ++i) {
        bytes[bytes.size() - 4 + size_t(i)] = char(crc >> (8 * i));
    }
    std::ofstream(Path("ring"), std::ios::binary | std::ios::trunc) << bytes;

    TPacketRing wrapped(Bytes(8));
    const TResult<void> loaded = wrapped.Load(Path("ring"));
    ASSERT_TRUE(loaded) << loaded.Error().Text;
    // Held: FFFFFC, FFFFFD, FFFFFE, FFFFFF, 000000, 000001; next 000002.
    EXPECT_EQ(TPacketRing::SequenceOf(wrapped.First()), 0xFFFFFCu);
    EXPECT_EQ(TPacketRing::SequenceOf(wrapped.Next() - 1), 0x000001u);
    EXPECT_EQ(wrapped.IndexOfSequence(0xFFFFFE), next - 4);
    EXPECT_EQ(wrapped.IndexOfSequence(0x000000), next - 2);
    EXPECT_EQ(wrapped.IndexOfSequence(0x000002), next) << "the next to come";
    EXPECT_EQ(wrapped.IndexOfSequence(0xFFFFFB), wrapped.First()) << "gone: the oldest";
    EXPECT_EQ(wrapped.IndexOfSequence(0x000003), wrapped.First()) << "not given yet: the oldest";
    EXPECT_EQ(TPacketRing::SequenceOf(wrapped.Add(Packet(6))), 0x000002u);
}

TEST_F(PacketRingFile, SavedAndLoadedTheNumbersRunOn) {
    TPacketRing ring(Bytes(100));
    for (int n = 0; n < 130; ++n) {
        ring.Add(Packet(n, n % 2 == 0 ? "HHZ" : "LKS"));
    }
    ASSERT_TRUE(ring.Save(Path("ring")));
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    TPacketRing again(Bytes(100));
    const TResult<void> loaded = again.Load(Path("ring"));
    ASSERT_TRUE(loaded) << loaded.Error().Text;
    EXPECT_EQ(again.First(), 30u);
    EXPECT_EQ(again.Next(), 130u);
    for (uint64_t i = again.First(); i < again.Next(); ++i) {
        ASSERT_NE(again.At(i), nullptr);
        EXPECT_EQ(again.At(i)->Record, ring.At(i)->Record) << i;
        EXPECT_EQ(again.At(i)->StartMicroseconds, ring.At(i)->StartMicroseconds);
        EXPECT_EQ(again.At(i)->EndMicroseconds, ring.At(i)->EndMicroseconds);
        EXPECT_EQ(CodeText(again.At(i)->Channel), i % 2 == 0 ? "HHZ" : "LKS");
    }
    EXPECT_EQ(again.Add(Packet(130)), 130u) << "the numbering runs on";

    // A smaller ring keeps the newest.
    TPacketRing small(Bytes(10));
    ASSERT_TRUE(small.Load(Path("ring")));
    EXPECT_EQ(small.First(), 120u);
    EXPECT_EQ(small.Next(), 130u);
    EXPECT_EQ(small.At(129)->Record, ring.At(129)->Record);
}

TEST_F(PacketRingFile, ADamagedForeignOrTruncatedFileIsRefusedAndTheRingKept) {
    TPacketRing ring(Bytes(50));
    for (int n = 0; n < 20; ++n) {
        ring.Add(Packet(n));
    }
    ASSERT_TRUE(ring.Save(Path("good")));
    std::ifstream in(Path("good"), std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(good.size(), 1000u);

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
    };
    for (const TCase& c : cases) {
        std::ofstream(Path("bad"), std::ios::binary | std::ios::trunc) << c.Bytes;
        TPacketRing target(Bytes(50));
        target.Add(Packet(7));
        target.Add(Packet(8));
        const TResult<void> loaded = target.Load(Path("bad"));
        EXPECT_FALSE(loaded) << c.Name;
        EXPECT_NE(loaded.Error().Text.find(Path("bad")), std::string::npos) << c.Name;
        EXPECT_EQ(target.Size(), 2u) << c.Name << ": the ring is kept as it was";
        EXPECT_EQ(target.Next(), 2u) << c.Name;
    }
    TPacketRing target(Bytes(50));
    EXPECT_FALSE(target.Load(Path("missing")));
    EXPECT_FALSE(target.Load(dir_.string())) << "a directory";
    // Saving where it cannot write fails without a file left behind.
    EXPECT_FALSE(ring.Save(Path("no/such/dir/ring")));
}
