// digitizer-station against digitizer-sim when the archive's disk misbehaves: filled up and
// freed again or full to the end, a day file deleted while open, a damaged end of a day file. In
// every case each sample the unit sent is in the archive once, or counted as lost in the status and
// the log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "seedfile/seed_time.h"
#include "support/child_process.h"
#include "support/sim_journal.h"
#include "support/station_run.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const int64_t Start = SeedTimeOf(2025, 3, 1, 10, 0, 0)->Seconds;

class StationDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("station_disk_e2e_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "archive");
        std::ofstream(dir_ / "station.ini") << "[Station]\n";
    }
    void TearDown() override {
        umount2(Path("archive").c_str(), MNT_DETACH);
        fs::remove_all(dir_);
    }

    std::unique_ptr<TChild> StartSim() {
        auto sim = std::make_unique<TChild>(std::vector<std::string>{
            DIGITIZER_SIM, "--signal", "counter", "--link", Path("dev"), "--journal",
            Path("journal"), "--start", "2025-03-01T10:00:00Z", "--speed", "20"});
        EXPECT_EQ(sim->ReadLines(1, 5s).size(), 1u) << sim->Errors();
        return sim;
    }
    std::unique_ptr<TChild> StartStation() {
        return std::make_unique<TChild>(std::vector<std::string>{
            DIGITIZER_STATION, Path("dev"), "--config", Path("station.ini"), "--archive",
            Path("archive"), "--status-file", Path("status.json"), "--flush-seconds", "5",
            "--no-soh"});
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    bool WaitForUnitTime(int64_t time) { return ::WaitForUnitTime(Path("journal"), time, 60s); }

    // Every archived sample per channel code; a sample twice is a fault.
    std::map<std::string, TTimedSamples> Archived() {
        auto archived = ArchivedSamples(Path("archive"));
        for (const auto& [code, samples] : archived) {
            const auto twice =
                std::adjacent_find(samples.begin(), samples.end(),
                                   [](auto& a, auto& b) { return a.first == b.first; });
            EXPECT_TRUE(twice == samples.end()) << code << " at " << twice->first << " twice";
        }
        return archived;
    }

    int64_t StatusDropped() {
        std::ifstream in(Path("status.json"));
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        const size_t at = text.find("\"dropped_samples\":");
        return at == std::string::npos ? -1 : std::stoll(text.substr(at + 18));
    }

    fs::path dir_;
};

}  // namespace

TEST_F(StationDisk, EverySampleIsArchivedOnceOrCountedLost) {
    const std::string hhz = "archive/2025/XX/2345/HHZ.D/XX.2345..HHZ.D.2025.060";
    struct TRow {
        const char* Name;
        bool NeedsRoot;
        std::function<void()> Before;  // before the station starts
        std::function<void()> During;  // while it records
        const char* Logged;            // in the station's log; empty: nothing asked
        // Sent samples of every channel from this unit time on (and from the first the
        // station took) must be archived or counted.
        std::function<int64_t()> CompleteFrom;
    };
    int64_t deletedAt = 0;
    // A disk of five pages: the station's metadata file and the three day files' first records,
    // and no more.
    const char* const small = "size=20k";
    const TRow rows[] = {
        {"the disk filled and freed", true,
         [&] { ASSERT_EQ(mount("tmpfs", Path("archive").c_str(), "tmpfs", 0, small), 0); },
         [&] {
             ASSERT_TRUE(WaitForUnitTime(Start + 150));
             ASSERT_EQ(mount("tmpfs", Path("archive").c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0);
         },
         "The archive could not be written", [] { return Start; }},
        {"the disk full until the stop", true,
         [&] { ASSERT_EQ(mount("tmpfs", Path("archive").c_str(), "tmpfs", 0, small), 0); }, [] {},
         "samples lost", [] { return Start; }},
        {"a day file deleted while open", false, [] {},
         [&] {
             ASSERT_TRUE(WaitForUnitTime(Start + 60));
             fs::remove(Path(hhz));
             deletedAt = TSimJournalRead::Load(Path("journal")).Frames().back().Time;
         },
         "removed or moved away while open", [&] { return deletedAt + 1; }},
        {"a damaged end of a day file", false,
         [&] {
             fs::create_directories(fs::path(Path(hhz)).parent_path());
             std::ofstream(Path(hhz), std::ios::binary) << std::string(3000, 'D');
         },
         [] {}, "cut 3000 bytes", [] { return Start; }},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        if (row.NeedsRoot && geteuid() != 0) {
            continue;  // mounting a small file system needs root
        }
        TearDown();
        SetUp();
        row.Before();
        auto sim = StartSim();
        auto station = StartStation();
        row.During();
        ASSERT_TRUE(WaitForUnitTime(Start + 300));
        station->Signal(SIGTERM);
        ASSERT_EQ(station->Wait(30s), 0) << station->Errors();
        sim->Signal(SIGTERM);
        sim->Wait();
        const std::string log = station->Errors();
        EXPECT_NE(log.find(row.Logged), std::string::npos) << log;

        const auto archived = Archived();
        ASSERT_TRUE(archived.contains("HHZ")) << log;
        const int64_t last = archived.at("HHZ").back().first / 1000000;
        // From the first frame the station took (it starts after the unit).
        const int64_t first = archived.at("HHZ").front().first / 1000000;
        const auto sent =
            SentSamples(Path("journal"), std::max(row.CompleteFrom(), first), last - 6);
        int64_t missing = 0;
        for (const auto& [code, samples] : sent) {
            const TTimedSamples& got = archived.at(code);
            for (const auto& [time, value] : samples) {
                const auto at =
                    std::lower_bound(got.begin(), got.end(), std::make_pair(time, INT32_MIN));
                if (at == got.end() || at->first != time) {
                    ++missing;
                } else {
                    EXPECT_EQ(at->second, value) << code << " at " << time;
                }
            }
        }
        const int64_t dropped = StatusDropped();
        EXPECT_LE(missing, dropped) << "samples missing that the status does not count";
        if (missing > 0) {
            EXPECT_NE(log.find("samples lost"), std::string::npos) << log;
        }
    }
}
