// The archive's day files: the root checked before recording, a damaged tail cut back to the
// last whole record without touching good records, and a file removed while open noticed.
#include "recording/day_file.h"

#include "recording/sds_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace fs = std::filesystem;

namespace {

class DayFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("day_file_test_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(root_ / "locked", fs::perms::owner_all, ec);
        fs::remove_all(root_);
    }
    fs::path root_;
};

}  // namespace

TEST_F(DayFileTest, TheArchiveRootIsMadeOrRefusedWithItsReason) {
    std::ofstream(root_ / "plain") << "x";
    fs::create_directories(root_ / "locked");
    fs::permissions(root_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    struct TRow {
        std::string Root;
        std::string Error;  // empty: usable
        bool NeedsNonRoot = false;
    };
    const TRow rows[] = {
        {"missing/and/deeper", ""},
        {"plain/archive", "cannot make the archive folder"},
        {"plain", "is not a folder"},
        {"locked", "cannot write in the archive folder", true},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Root);
        if (row.NeedsNonRoot && geteuid() == 0) {
            continue;  // root writes in any folder
        }
        const TStatus ready = PrepareArchiveRoot((root_ / row.Root).string());
        if (row.Error.empty()) {
            EXPECT_TRUE(ready) << ready.Error().Text;
            EXPECT_TRUE(fs::is_directory(root_ / row.Root));
            EXPECT_TRUE(fs::is_empty(root_ / row.Root)) << "the probe is removed";
        } else {
            ASSERT_FALSE(ready);
            EXPECT_NE(ready.Error().Text.find(row.Error), std::string::npos) << ready.Error().Text;
        }
    }
}

// Damage near the end of a day file: only what is not a whole record at the very end is cut;
// a damaged record with whole records after it stays, and the numbering runs on after the
// highest number in the file.
TEST_F(DayFileTest, OnlyATailThatIsNotAWholeRecordIsCut) {
    TSdsSettings settings;
    settings.Root = (root_ / "archive").string();
    settings.Soh = false;
    settings.FlushSeconds = 5;
    const int64_t start = SeedTimeOf(2025, 3, 1, 10, 0, 0)->Seconds;
    {
        TSdsWriter writer(settings);
        for (int64_t t = start; t < start + 30; ++t) {
            TRecordBlock b;
            b.Time = t;
            b.ChannelCount = 1;
            b.SampleRate = 100;
            b.BytesPerSample = 3;
            b.SamplesPerBlock = 100;
            b.SerialNumber = "12345";
            for (int j = 0; j < 100; ++j) {
                b.Samples[0].push_back(int32_t((t - start) * 100 + j) * 256);
            }
            writer.Take(b);
        }
        writer.Close();
    }
    const fs::path file = root_ / "archive/2025/XX/2345/HHZ.D/XX.2345..HHZ.D.2025.060";
    const std::string good = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const size_t record = 4096;
    ASSERT_EQ(good.size(), 6 * record);
    struct TRow {
        const char* Name;
        std::function<std::string(std::string)> Damage;
        size_t KeptLength;
        const char* Notice;  // empty: none
    };
    const TRow rows[] = {
        {"a record cut short", [](std::string f) { return f + std::string(1500, 'D'); }, 6 * record,
         "cut 1500 bytes"},
        {"the last record's header damaged",
         [](std::string f) { return f.replace(5 * record, 8, "XXXXXXXX"); }, 5 * record,
         "cut 4096 bytes"},
        {"a damaged record before the last",
         [](std::string f) { return f.replace(4 * record, 8, "XXXXXXXX"); }, 6 * record,
         "damaged stretch with whole records after it"},
        {"a damaged record and a record cut short",
         [](std::string f) { return f.replace(3 * record, 8, "XXXXXXXX") + "partial"; }, 6 * record,
         "cut 7 bytes"},
        {"whole records", [](std::string f) { return f; }, 6 * record, ""},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << row.Damage(good);
        TDayFile day;
        std::string notice;
        ASSERT_TRUE(day.Open(file.string(), notice));
        EXPECT_EQ(fs::file_size(file), row.KeptLength);
        if (*row.Notice == 0) {
            EXPECT_EQ(notice, "");
        } else {
            EXPECT_NE(notice.find(row.Notice), std::string::npos) << notice;
        }
        EXPECT_EQ(day.LastSequence(), row.KeptLength / record) << "after the highest";
    }
}
