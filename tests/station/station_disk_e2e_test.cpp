// digitizer-station against digitizer-sim when the archive's disk misbehaves: filled up and
// freed again or full to the end, a day file deleted while open, a damaged end of a day file. In
// every case each sample the unit sent is in the archive once, or counted as lost in the status and
// the log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "seedfile/seed_time.h"
#include "sim/signals.h"
#include "support/child_process.h"
#include "support/mseed_read.h"
#include "support/sim_journal.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using TSamples = std::map<int64_t, int32_t>;  // time in µs: value

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

    bool WaitForUnitTime(int64_t time) {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < end) {
            const auto frames = TSimJournalRead::Load(Path("journal")).Frames();
            if (!frames.empty() && frames.back().Time >= time) {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // Every archived sample per channel code; a sample twice is a fault.
    std::map<std::string, TSamples> Archived() {
        std::map<std::string, TSamples> archived;
        for (const auto& entry : fs::recursive_directory_iterator(dir_ / "archive")) {
            const std::string relative = fs::relative(entry.path(), dir_ / "archive").string();
            if (!entry.is_regular_file() || relative[0] == '.' ||
                entry.path().filename().string()[0] == '.') {  // .owners/ and the like
                continue;
            }
            const TMseedFile file = ReadMseedFile(entry.path().string());
            EXPECT_TRUE(file.Ok) << entry.path() << ": " << file.Error;
            for (const TMseedRecord& r : file.Records) {
                for (size_t i = 0; i < r.Samples.size(); ++i) {
                    const int64_t t = r.StartMicroseconds + int64_t(double(i) * 1e6 / r.SampleRate);
                    EXPECT_TRUE(archived[r.Channel].emplace(t, r.Samples[i]).second)
                        << r.Channel << " at " << t << " twice";
                }
            }
        }
        return archived;
    }

    // What the unit sent whole, per channel code, of the frames from `from` to `to`.
    std::map<std::string, TSamples> Sent(int64_t from, int64_t to) {
        std::map<std::string, TSamples> sent;
        for (const auto& f : TSimJournalRead::Load(Path("journal")).Frames()) {
            if (!f.Intact || f.Time < from || f.Time > to) {
                continue;
            }
            for (int c = 0; c < f.Channels; ++c) {
                for (int j = 0; j < f.Samples; ++j) {
                    sent[std::string("HH") + "ZNE123"[c]]
                        [f.Time * 1000000 + int64_t(double(j) * 1e6 / f.Rate)] =
                            CounterValue(c, f.First[size_t(c)] + uint64_t(j), f.Bytes);
                }
            }
        }
        return sent;
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
    const TRow rows[] = {
        {"the disk filled and freed", true,
         [&] { ASSERT_EQ(mount("tmpfs", Path("archive").c_str(), "tmpfs", 0, "size=16k"), 0); },
         [&] {
             ASSERT_TRUE(WaitForUnitTime(Start + 150));
             ASSERT_EQ(mount("tmpfs", Path("archive").c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0);
         },
         "The archive could not be written", [] { return Start; }},
        {"the disk full until the stop", true,
         [&] { ASSERT_EQ(mount("tmpfs", Path("archive").c_str(), "tmpfs", 0, "size=16k"), 0); },
         [] {}, "samples lost", [] { return Start; }},
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
        const int64_t last = archived.at("HHZ").rbegin()->first / 1000000;
        // From the first frame the station took (it starts after the unit).
        const int64_t first = archived.at("HHZ").begin()->first / 1000000;
        const auto sent = Sent(std::max(row.CompleteFrom(), first), last - 6);
        int64_t missing = 0;
        for (const auto& [code, samples] : sent) {
            const TSamples& got = archived.at(code);
            for (const auto& [time, value] : samples) {
                const auto at = got.find(time);
                if (at == got.end()) {
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
