// The archive's day files: the root checked before recording, a damaged tail cut back to the
// last whole record without touching good records, and a file removed while open noticed.
#include "recording/day_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
