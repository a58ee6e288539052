// SEED files: names and day directories, names that cannot leave the base directory, files
// read back with libmseed sample for sample, exclusive creation, and failures that are told.
#include "seedfile/seed_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "support/mseed_read.h"

namespace fs = std::filesystem;

namespace {

TSeedTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return *SeedTimeOf(year, month, day, hour, minute, second);
}

int64_t Microseconds(TSeedTime time) {
    return time.Seconds * 1000000 + time.Ticks * 100;
}

class SeedFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() /
                ("seedfile_test_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        fs::create_directories(base_);
    }
    void TearDown() override { fs::remove_all(base_); }

    TSeedFileParams Params(const std::string& channel = "P_0") const {
        TSeedFileParams params;
        params.BaseDir = base_.string();
        params.Codes = {"STATN", "01", "AB", channel};
        params.BytesPerSample = 3;
        params.SampleRate = 100;
        params.StartTime = At(2003, 2, 14, 12, 0, 0);
        return params;
    }

    static std::vector<char> Bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path base_;
};

// A random walk whose steps take every packing: mostly small, some 16-bit, some 24-bit jumps,
// in counts of `bytes`-wide samples, stored left-justified as the block holds them.
std::vector<int32_t> Walk(size_t count, int bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    const int64_t top = bytes == 4 ? INT32_MAX : (int64_t{1} << (8 * bytes - 1)) - 1;
    std::vector<int32_t> samples;
    int64_t x = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t pick = rng() % 100;
        const int64_t step = pick < 70   ? int64_t(rng() % 200) - 100
                             : pick < 90 ? int64_t(rng() % 60000) - 30000
                                         : int64_t(rng() % 0x1000000) - 0x800000;
        x = std::clamp<int64_t>(x + step, -top - 1, top);
        samples.push_back(bytes == 4 ? int32_t(x) : int32_t(uint32_t(x) << (32 - 8 * bytes)));
    }
    return samples;
}

}  // namespace

TEST_F(SeedFileTest, NamesCarryTheCodesRightAlignedAndTheDayOfTheStart) {
    TSeedFileParams params = Params();
    params.BaseDir = "/data/recorderfiles";
    EXPECT_EQ(SeedDayDirectory(params.BaseDir, params.StartTime), "/data/recorderfiles/045");
    EXPECT_EQ(SeedFilePath(params), "/data/recorderfiles/045/STATN.AB.01.2003.045.120000.P_0");
    params.Codes = {"AB", "", "N", "P_5"};
    params.StartTime = At(2004, 12, 31, 3, 4, 5);
    EXPECT_EQ(SeedFilePath(params), "/data/recorderfiles/366/   AB. N.  .2004.366.030405.P_5");
    params.Codes = {"00012345", "LOC", "NET", "P_1"};
    EXPECT_EQ(SeedFilePath(params), "/data/recorderfiles/366/00012345.NET.LOC.2004.366.030405.P_1");
    params.Codes = {"", "", "", "P_0"};
    params.StartTime = At(2003, 3, 1);
    EXPECT_EQ(SeedFilePath(params), "/data/recorderfiles/060/     .  .  .2003.060.000000.P_0");
}

TEST_F(SeedFileTest, NoCodeOrSerialNumberLeavesTheDayDirectory) {
    EXPECT_EQ(SafeStationCode("00012345"), "00012345");
    EXPECT_EQ(SafeStationCode("../../x"), "______x");
    EXPECT_EQ(SafeStationCode(".."), "__");
    EXPECT_EQ(SafeStationCode("AB-c_9 \xB5"), "AB-c_9__");
    for (const std::string& station : {SafeStationCode("../../etc"), std::string("../.."),
                                       std::string("/"), std::string("a/b")}) {
        TSeedFileParams params = Params();
        params.Codes.Station = station;
        params.Codes.Location = "/.";
        const std::vector<int32_t> samples = {256, 512};
        const TSeedFileResult result = WriteSeedFile(params, samples);
        ASSERT_TRUE(result.Status.Ok()) << station << ": " << result.Status.Error().Text;
        EXPECT_EQ(fs::canonical(result.Path).parent_path(), fs::canonical(base_ / "045"))
            << station;
    }
    // Nothing but the day directory was made.
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(base_), {}), 1 + 4);
}

TEST_F(SeedFileTest, LibmseedReadsEverySampleStartTimeAndRateForEachWidthAndRate) {
    struct TCase {
        double rate;
        size_t count;
    };
    for (int bytes : {1, 2, 3, 4}) {
        for (const TCase c : {TCase{0.1, 6}, TCase{0.5, 30}, TCase{100, 30000}, TCase{3000, 40000},
                              TCase{100.0 / 3, 9000}}) {
            SCOPED_TRACE("bytes " + std::to_string(bytes) + " rate " + std::to_string(c.rate));
            TSeedFileParams params = Params(bytes == 4 ? "P_3" : "P_1");
            params.BytesPerSample = bytes;
            params.SampleRate = c.rate;
            params.StartTime = At(2024, 2, 29, 23, 59, 30);
            const std::vector<int32_t> stored = Walk(c.count, bytes, uint32_t(bytes * 7 + c.count));
            const TSeedFileResult result = WriteSeedFile(params, stored);
            ASSERT_TRUE(result.Status.Ok()) << result.Status.Error().Text;
            EXPECT_EQ(fs::file_size(result.Path), result.Records * 4096);

            const TMseedFile file = ReadMseedFile(result.Path);
            ASSERT_TRUE(file.Ok) << file.Error;
            EXPECT_EQ(file.Log, std::vector<std::string>{});
            // The header's rate drops the fraction of a rate such as 33.33, so
            // libmseed sees gaps between the records there.
            if (c.rate < 1 || c.rate == std::trunc(c.rate)) {
                EXPECT_EQ(file.Segments, 1) << "the records join without a gap";
            }
            ASSERT_EQ(file.Records.size(), result.Records);
            std::vector<int32_t> expected;
            for (const int32_t s : stored) {
                expected.push_back(bytes == 4 ? s : s / 256);
            }
            EXPECT_EQ(file.Samples(), expected);
            const TExactRate exact = *ExactRateOf(c.rate);
            int64_t before = 0;
            for (size_t r = 0; r < file.Records.size(); ++r) {
                const TMseedRecord& record = file.Records[r];
                EXPECT_EQ(record.Sequence, int(r + 1));
                EXPECT_EQ(record.SampleRate, c.rate >= 1 ? std::trunc(c.rate) : c.rate);
                EXPECT_EQ(record.Encoding, 10);
                EXPECT_EQ(record.ByteOrder, 0);
                EXPECT_EQ(record.RecordLength, 4096);
                EXPECT_EQ(record.Station, "STATN");
                EXPECT_EQ(record.Network, "AB");
                EXPECT_EQ(record.Location, "01");
                // The file start plus the samples before, exactly, to the ten-thousandth.
                EXPECT_EQ(record.StartMicroseconds,
                          Microseconds(params.StartTime.PlusTicks(TicksForSamples(before, exact))))
                    << "record " << r;
                const double exactStart =
                    double(params.StartTime.Seconds) + double(before) / c.rate;
                EXPECT_NEAR(double(record.StartMicroseconds) / 1e6, exactStart, 1e-4);
                before += record.SampleCount;
            }
            EXPECT_EQ(before, int64_t(c.count));
        }
    }
}

TEST_F(SeedFileTest, TheSecondRecordStartsAfterTheFirstWithSequenceTwo) {
    // 5000 samples whose differences all fit in 8 bits: 3772 in record 1, 1228 in record 2.
    std::vector<int32_t> samples;
    for (int i = 0; i < 5000; ++i) {
        samples.push_back((i % 50) * 256);
    }
    TSeedFileParams params = Params();
    params.SampleRate = 250;
    const TSeedFileResult result = WriteSeedFile(params, samples);
    ASSERT_TRUE(result.Status.Ok());
    ASSERT_EQ(result.Records, 2u);
    const std::vector<char> bytes = Bytes(result.Path);
    ASSERT_EQ(bytes.size(), 8192u);
    const char* second = bytes.data() + 4096;
    EXPECT_EQ(std::string(second, 8), "000002D ");
    const auto u16 = [](const char* p) { return int(uint8_t(p[0]) | uint8_t(p[1]) << 8); };
    EXPECT_EQ(u16(bytes.data() + 30), 3772);
    EXPECT_EQ(u16(second + 30), 1228);
    // 3772 samples at 250 per second: 15.088 s after 12:00:00.
    EXPECT_EQ(second[24], 12);
    EXPECT_EQ(second[25], 0);
    EXPECT_EQ(second[26], 15);
    EXPECT_EQ(u16(second + 28), 880);
    // Its first difference is taken against the last sample of record 1 (3771 % 50 = 21).
    int32_t forward;
    std::memcpy(&forward, second + 64 + 4, 4);
    EXPECT_EQ(forward, 3772 % 50);
    EXPECT_EQ(int8_t(second[64 + 12]), 3772 % 50 - 3771 % 50);
}

TEST_F(SeedFileTest, AnExistingFileIsNeverReplaced) {
    const TSeedFileParams params = Params();
    const std::vector<int32_t> first = {256, 512, 768};
    const TSeedFileResult a = WriteSeedFile(params, first);
    ASSERT_TRUE(a.Status.Ok());
    EXPECT_TRUE(a.Clash.empty());
    const std::vector<char> original = Bytes(a.Path);

    const std::vector<int32_t> second = {-256};
    const TSeedFileResult b = WriteSeedFile(params, second);
    ASSERT_TRUE(b.Status.Ok());
    EXPECT_EQ(b.Path, a.Path + ".1");
    EXPECT_NE(b.Clash.find(a.Path), std::string::npos);
    EXPECT_NE(b.Clash.find(b.Path), std::string::npos);
    const TSeedFileResult c = WriteSeedFile(params, second);
    EXPECT_EQ(c.Path, a.Path + ".2");
    EXPECT_EQ(Bytes(a.Path), original);
    EXPECT_EQ(ReadMseedFile(b.Path).Samples(), std::vector<int32_t>{-1});
}

TEST_F(SeedFileTest, AFileThatCannotBeMadeIsAFailureWithThePathAndTheReason) {
    std::ofstream(base_ / "plain") << "not a directory";
    TSeedFileParams params = Params();
    params.BaseDir = (base_ / "plain" / "data").string();
    const std::vector<int32_t> samples = {256};
    const TSeedFileResult result = WriteSeedFile(params, samples);
    EXPECT_FALSE(result.Status.Ok());
    EXPECT_EQ(result.Path, SeedFilePath(params));
    EXPECT_NE(result.Status.Error().Text.find(params.BaseDir), std::string::npos)
        << result.Status.Error().Text;
    EXPECT_NE(result.Status.Error().Text.find("Not a directory"), std::string::npos)
        << result.Status.Error().Text;
    EXPECT_EQ(result.Status.Error().Errno, ENOTDIR);

    params.SampleRate = 0;
    params.BaseDir = base_.string();
    EXPECT_FALSE(WriteSeedFile(params, samples).Status.Ok());
    EXPECT_FALSE(fs::exists(base_ / "045"));
}

TEST_F(SeedFileTest, AFileCutShortIsNotReportedWritten) {
    // A file size limit stands in for a full disk: the fourth record runs short.
    std::vector<int32_t> samples;
    for (int i = 0; i < 6000; ++i) {
        samples.push_back((i % 2 ? 1 : -1) * (1 << 28));  // 943 samples per record
    }
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old;
    limit.rlim_cur = 3 * 4096 + 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const TSeedFileResult result = WriteSeedFile(Params(), samples);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(result.Status.Ok());
    EXPECT_EQ(result.Records, 3u);
    EXPECT_NE(result.Status.Error().Text.find("File too large"), std::string::npos)
        << result.Status.Error().Text;
    EXPECT_EQ(result.Status.Error().Errno, EFBIG);
    EXPECT_NE(result.Status.Error().Text.find("2829 of 6000"), std::string::npos)
        << result.Status.Error().Text;
    EXPECT_EQ(fs::file_size(result.Path), 3u * 4096) << "cut back to whole records";
    EXPECT_EQ(ReadMseedFile(result.Path).Samples().size(), 2829u);
}

TEST_F(SeedFileTest, AnEmptyListMakesAnEmptyFile) {
    const TSeedFileResult result = WriteSeedFile(Params(), TSampleView());
    EXPECT_TRUE(result.Status.Ok());
    EXPECT_EQ(result.Records, 0u);
    EXPECT_EQ(fs::file_size(result.Path), 0u);
}
