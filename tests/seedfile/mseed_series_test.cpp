// Records made as the data arrives: in either byte order and record length, fed in chunks of
// any size and flushed at any point, every record decodes with libmseed without a word, every
// sample comes back once, record times follow the samples exactly, and the clock flag is set
// only where every block was locked. With whole records, the frames are the very words of the
// window's whole-record encoder.
#include "seedfile/mseed_series.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "support/mseed_read.h"

namespace {

const TSeedCodes Codes{"STA", "00", "XX", "HHZ"};

enum class TSignal { SmallSteps, FullScale, Edges };

// Differences around the 8-bit and 16-bit limits, small steps, or full-range noise.
std::vector<int32_t> Signal(TSignal kind, size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> x(count);
    int32_t v = 0;
    const int32_t edges[] = {127, -128, 128, -129, 32767, -32768, 32768, -32769, 0, 1};
    for (size_t i = 0; i < count; ++i) {
        switch (kind) {
            case TSignal::SmallSteps:
                v += int32_t(rng() % 41) - 20;
                break;
            case TSignal::FullScale:
                v = int32_t(rng() % 16777216) - 8388608;
                break;
            case TSignal::Edges:
                v += edges[rng() % 10];
                break;
        }
        x[i] = v;
    }
    return x;
}

struct TMade {
    std::vector<uint8_t> Bytes;
    std::vector<TSeriesRecord> Records;  // Bytes pointers cleared
};

std::string WriteTemp(const std::vector<uint8_t>& bytes, const std::string& name) {
    const auto path =
        std::filesystem::temp_directory_path() / (name + "_" + std::to_string(getpid()) + ".mseed");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
}

}  // namespace

TEST(MseedSeries, EveryCutAndOrderDecodesToTheSamplesAtTheirTimes) {
    struct TCase {
        TSignal Signal;
        size_t Length;
        TByteOrder Order;
        double Rate;
    };
    const TCase cases[] = {
        {TSignal::SmallSteps, 4096, TByteOrder::Big, 100},
        {TSignal::SmallSteps, 512, TByteOrder::Big, 500},
        {TSignal::FullScale, 4096, TByteOrder::Big, 100.0 / 3},
        {TSignal::FullScale, 512, TByteOrder::Little, 250},
        {TSignal::Edges, 4096, TByteOrder::Little, 40},
        {TSignal::Edges, 512, TByteOrder::Big, 0.1},
    };
    const TSeedTime start = *SeedTimeOf(2024, 12, 31, 23, 0, 0);
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "length " << c.Length << " rate " << c.Rate << " signal " << int(c.Signal));
        const std::vector<int32_t> x = Signal(c.Signal, 20000, 3);
        TMseedSeries series({Codes, c.Rate, c.Length, c.Order}, start, 999998);
        std::vector<uint8_t> file;
        std::vector<TSeriesRecord> records;
        const auto sink = [&](const TSeriesRecord& r) {
            ASSERT_EQ(r.Bytes.size(), c.Length);
            file.insert(file.end(), r.Bytes.begin(), r.Bytes.end());
            records.push_back(r);
        };
        // Chunks of 0 to 700 samples, flushed now and then.
        std::mt19937 rng(11);
        size_t at = 0;
        while (at < x.size()) {
            const size_t n = std::min<size_t>(rng() % 701, x.size() - at);
            series.Append(std::span<const int32_t>(x).subspan(at, n), 0, 100, sink);
            at += n;
            if (rng() % 5 == 0) {
                series.Flush(sink);
            }
        }
        series.Flush(sink);
        EXPECT_EQ(series.Pending(), 0);
        series.Flush(sink);  // nothing waits: nothing more

        const TMseedFile read = ReadMseedFile(WriteTemp(file, "mseed_series_test"));
        ASSERT_TRUE(read.Ok) << read.Error;
        EXPECT_EQ(read.Log, std::vector<std::string>{});
        EXPECT_EQ(read.Samples(), x);
        EXPECT_EQ(read.Segments, 1) << "records follow each other without gap or overlap";
        ASSERT_EQ(read.Records.size(), records.size());
        const TExactRate rate = *ExactRateOf(c.Rate);
        int expectedSequence = 999998;
        for (size_t k = 0; k < records.size(); ++k) {
            const TSeedTime t = start.PlusTicks(TicksForSamples(records[k].FirstIndex, rate));
            EXPECT_EQ(records[k].Start, t);
            EXPECT_EQ(read.Records[k].StartMicroseconds, t.Seconds * 1000000 + t.Ticks * 100);
            EXPECT_EQ(read.Records[k].Sequence, expectedSequence);
            EXPECT_EQ(read.Records[k].ByteOrder, c.Order == TByteOrder::Big ? 1 : 0);
            // Blockette 1001 counts the frames in use: the last of them has a control word,
            // the rest of the record is empty.
            EXPECT_EQ(read.Records[k].TimingQuality, 100);
            const int frames = read.Records[k].FrameCount;
            const uint8_t* bytes = file.data() + k * c.Length;
            ASSERT_GE(frames, 1);
            ASSERT_LE(size_t(frames), (c.Length - SeedDataOffset) / 64);
            const uint8_t* lastFrame = bytes + SeedDataOffset + size_t(frames - 1) * 64;
            EXPECT_TRUE(lastFrame[0] | lastFrame[1] | lastFrame[2] | lastFrame[3]) << k;
            EXPECT_TRUE(std::all_of(lastFrame + 64, bytes + c.Length, [](uint8_t b) {
                return b == 0;
            })) << k;
            expectedSequence = expectedSequence == 999999 ? 1 : expectedSequence + 1;
        }
    }
}

TEST(MseedSeries, WholeRecordsHoldTheWordsOfTheWholeRecordEncoder) {
    // Little-endian 4096-byte records without a flush between them: frame for frame the
    // words of EncodeSeedRecord over the same list (the window's data files).
    const std::vector<int32_t> x = Signal(TSignal::Edges, 30000, 5);
    std::vector<int32_t> held(x.size());
    std::transform(x.begin(), x.end(), held.begin(), [](int32_t v) { return v * 256; });
    const TSeedTime start{1700000000, 0};
    TMseedSeries series({Codes, 100, 4096, TByteOrder::Little}, start);
    std::vector<std::vector<uint8_t>> made;
    series.Append(x, 0, 100, [&](const TSeriesRecord& r) {
        made.emplace_back(r.Bytes.begin(), r.Bytes.end());
    });
    ASSERT_GE(made.size(), 3u);

    const TSampleView view(held);
    int32_t previous = 0;
    size_t first = 0;
    for (size_t k = 0; k < made.size(); ++k) {
        TSeedRecord record;
        const TSeedTime t = start.PlusTicks(TicksForSamples(int64_t(first), {100, 1}));
        first += EncodeSeedRecord(record, int(k) + 1, Codes, previous, first, view, 3, 100, t);
        // The same but for the blockette count and blockette 1001 (the data files have none).
        EXPECT_EQ(std::memcmp(record.data(), made[k].data(), 39), 0) << "record " << k;
        EXPECT_EQ(made[k][39], 2) << "record " << k;
        EXPECT_EQ(std::memcmp(record.data() + 40, made[k].data() + 40, 10), 0) << "record " << k;
        EXPECT_EQ(std::memcmp(record.data() + SeedDataOffset, made[k].data() + SeedDataOffset,
                              SteimFramesLength),
                  0)
            << "record " << k;
    }
}

TEST(MseedSeries, ARecordIsClockLockedOnlyWhenEveryBlockInItWasAndHasItsLowestTimingQuality) {
    // 40 samples a block, 512-byte records: several blocks per record.
    TMseedSeries series({Codes, 40, 512, TByteOrder::Big}, {1700000000, 0});
    std::vector<uint8_t> file;
    const auto sink = [&](const TSeriesRecord& r) {
        file.insert(file.end(), r.Bytes.begin(), r.Bytes.end());
    };
    const std::vector<int32_t> x = Signal(TSignal::SmallSteps, 40, 1);
    for (int block = 0; block < 40; ++block) {
        // Locked but for blocks 12 and 13, whose timing quality is 60 and 50.
        const bool unlocked = block == 12 || block == 13;
        series.Append(x, unlocked ? 0 : SeedClockLocked, unlocked ? 72 - block : 100, sink);
    }
    series.Flush(sink);
    const TMseedFile read = ReadMseedFile(WriteTemp(file, "mseed_series_flags"));
    ASSERT_TRUE(read.Ok);
    int64_t first = 0;
    int locked = 0;
    for (const auto& record : read.Records) {
        const int64_t last = first + record.SampleCount - 1;
        const bool holdsUnlocked = first <= 13 * 40 + 39 && last >= 12 * 40;
        EXPECT_EQ(record.IoFlags & SeedClockLocked, holdsUnlocked ? 0 : SeedClockLocked)
            << "record from sample " << first;
        const int lowest = first <= 13 * 40 + 39 && last >= 13 * 40 ? 59 : holdsUnlocked ? 60 : 100;
        EXPECT_EQ(record.TimingQuality, lowest) << "record from sample " << first;
        locked += (record.IoFlags & SeedClockLocked) != 0;
        first = last + 1;
    }
    EXPECT_GT(locked, 2);
}
