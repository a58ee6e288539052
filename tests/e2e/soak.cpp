// The soak: hours of the unit's time at high speed against the window built as the program
// builds it, with every page shown in turn, the temperature log and recording on, 8192-point
// spectra after every block, and faults on the line. Run by scripts/soak (in a build with
// FILES_FEATURE and AddressSanitizer, whose leak check runs at the end); not a CTest test.
//
// Environment: KESTREL32_SOAK_MINUTES (minutes of the unit's time, 120), KESTREL32_SOAK_SPEED
// (frames a second, 10), KESTREL32_SOAK_CSV (where the memory samples go, soak.csv).
//
// Once a minute of the unit's time the resident memory is written to the CSV file with what
// the histories hold. The histories fill up to their configured size (StoredSeconds of
// samples, StoredHours of temperatures); beyond them the resident memory must not grow. At
// the end every sample of every block the window received is in the data files, once and in
// order.
#include <QCheckBox>
#include <QTabWidget>
#if !defined(__SANITIZE_ADDRESS__)
#include <malloc.h>
#endif
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sim/signals.h"
#include "support/e2e_fixture.h"
#include "support/mseed_read.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int Channels = 6;
constexpr int Rate = 100;
constexpr int StoredHours = 1;
// "MOD" planted in the samples of a 3-byte stream reads as this sample.
constexpr int32_t PlantedTag = 0x444F4D;

double EnvNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != 0 ? std::atof(text) : fallback;
}

int64_t ResidentKiB() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoll(line.substr(6));
        }
    }
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

// Bytes the program has allocated and not freed: unlike the resident memory, without what the
// allocator keeps back of freed blocks (the sanitizer's quarantine, its per-size caches).
int64_t HeapKiB() {
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>((info.uordblks + info.hblkhd) / 1024);
#endif
}

struct TSample {
    double Minutes = 0;  // of the unit's time since the first block
    double WallSeconds = 0;
    int64_t ResidentKiB = 0;
    int64_t HistoryKiB = 0;
    size_t Blocks = 0;
    int64_t HeapKiB = 0;
};

class Soak : public TEndToEndTest {
  protected:
    // What the model keeps of the past: the channel histories, the temperature readings and
    // the samples waiting for their data file.
    int64_t HistoryKiB() const {
        const TMonitorModel& model = form_->Model();
        size_t bytes = 0;
        for (int c = 0; c < Channels; ++c) {
            bytes += model.Channels().ChannelHistory(c).MemoryBytes();
            bytes += model.Temperatures()[c].size() * sizeof(TTemperatureReading);
        }
        bytes += model.Recorder().Stats().HeldBytes;
        return static_cast<int64_t>(bytes / 1024);
    }

    double Minutes() const {
        return Received().empty() ? 0 : (Received().back() - Received().front()) / 60.0;
    }
};

TEST_F(Soak, HoursOfFramesWithEveryPageRecordingAndFaults) {
    const double minutes = EnvNumber("KESTREL32_SOAK_MINUTES", 120);
    const double speed = EnvNumber("KESTREL32_SOAK_SPEED", 10);
    const char* csvName = std::getenv("KESTREL32_SOAK_CSV");
    const std::string csvPath = csvName != nullptr && *csvName != 0 ? csvName : "soak.csv";
    // The channel histories fill in the first quarter of the run (ten minutes at most).
    const int storedSeconds = std::clamp(static_cast<int>(minutes * 15), 60, 600);
    const std::string base = Path("rec");
    WriteSettings("[Comms]\nBaud=115200\n[Data]\nStoredSeconds=" + std::to_string(storedSeconds) +
                  "\n[Temperatures]\nStoredHours=" + std::to_string(StoredHours) +
                  "\n[FFT]\nAutoCalc=1\nPoints=8192\n[Files]\nEnable=1\nDurationMinutes=5\n"
                  "Station=SOAK\nLocation=00\nNetwork=KS\nBaseDir=" +
                  base + "\n");
    char speedText[32];
    std::snprintf(speedText, sizeof speedText, "%g", speed);
    StartSim({"--channels", std::to_string(Channels),
              "--rate",     std::to_string(Rate),
              "--gps",      "reports",
              "--signal",   "counter",
              "--baud",     "115200",
              "--speed",    speedText,
              "--seed",     "3",
              "--fault",    "corrupt=0.01",
              "--fault",    "drop=0.01",
              "--fault",    "mod-in-samples=0.02",
              "--fault",    "silence=0.005"});
    ASSERT_FALSE(HasFatalFailure());
    OpenWindow();
    Window().Prompts().SetSaveFileHook(
        [this](const QString&) { return QString::fromStdString(Path("temperatures.txt")); });
    Find<QCheckBox>("LogToFile")->click();
    ASSERT_EQ(Window().Model().TemperatureLogName(), Path("temperatures.txt"));

    std::ofstream csv(csvPath);
    ASSERT_TRUE(csv.good()) << csvPath;
    csv << "frame_minutes,wall_seconds,rss_kib,history_kib,blocks,heap_kib\n";
    std::vector<TSample> samples;
    const auto start = TClock::now();
    const auto limit = std::chrono::duration<double>(minutes * 60 / speed * 2 + 120);
    for (int minute = 0; minute <= minutes; ++minute) {
        ASSERT_TRUE(WaitUntil([&] { return Minutes() >= minute; }, 60s))
            << "minute " << minute << ": the unit's frames stopped arriving";
        TSample s;
        s.Minutes = Minutes();
        s.WallSeconds = std::chrono::duration<double>(TClock::now() - start).count();
        s.ResidentKiB = ResidentKiB();
        s.HistoryKiB = HistoryKiB();
        s.Blocks = Received().size();
        s.HeapKiB = HeapKiB();
        samples.push_back(s);
        csv << s.Minutes << ',' << s.WallSeconds << ',' << s.ResidentKiB << ',' << s.HistoryKiB
            << ',' << s.Blocks << ',' << s.HeapKiB << '\n'
            << std::flush;
        std::printf(
            "minute %3d: %8lld KiB resident, %8lld KiB allocated, %6lld KiB of histories, %zu "
            "blocks\n",
            minute, static_cast<long long>(s.ResidentKiB), static_cast<long long>(s.HeapKiB),
            static_cast<long long>(s.HistoryKiB), s.Blocks);
        std::fflush(stdout);
        // Every page in turn is the one shown and repainted.
        Window().PageControl()->setCurrentIndex((minute + 1) % TMainForm::TabCount);
        ASSERT_LT(TClock::now() - start, limit) << "the window fell behind the unit";
    }
    Window().close();
    const std::vector<uint32_t> blocks = Received();
    EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();
    form_.reset();
    StopSim();

    // Memory: once the channel histories are full, what the program has allocated grows no
    // more than what the histories and recording lists still take on, give or take a little;
    // the resident memory, which also holds what the allocator keeps back of freed blocks,
    // within a wider margin.
    const auto full = std::find_if(samples.begin(), samples.end(), [&](const TSample& s) {
        return s.Minutes >= storedSeconds / 60.0 + 1;
    });
    ASSERT_NE(full, samples.end()) << "the run ended before the histories were full";
    const auto beyondHistories = [&](int64_t TSample::*kib) {
        int64_t worst = 0;
        for (auto s = full; s != samples.end(); ++s) {
            const int64_t grown =
                ((*s).*kib - (*full).*kib) - 2 * (s->HistoryKiB - full->HistoryKiB);
            worst = std::max(worst, grown);
        }
        return worst;
    };
    const int64_t heap = beyondHistories(&TSample::HeapKiB);
    const int64_t resident = beyondHistories(&TSample::ResidentKiB);
    std::printf(
        "growth beyond the histories since minute %.0f: allocated %lld KiB, resident %lld KiB "
        "at most\n",
        full->Minutes, static_cast<long long>(heap), static_cast<long long>(resident));
    EXPECT_LE(heap, 2 * 1024) << "KiB allocated beyond the histories";
    EXPECT_LE(resident, 24 * 1024) << "KiB resident beyond the histories";

    // Every sample of every block received, once and in order, in the data files (a sample
    // with "MOD" planted in it reads as the planted tag).
    for (int c = 0; c < Channels; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(base)) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && name.ends_with("P_" + std::to_string(c))) {
                files.push_back(entry.path().string());
            }
        }
        std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
            return fs::path(a).filename() < fs::path(b).filename();
        });
        std::vector<int32_t> recorded;
        for (const std::string& file : files) {
            const TMseedFile read = ReadMseedFile(file);
            EXPECT_TRUE(read.Ok) << file << ": " << read.Error;
            const std::vector<int32_t> values = read.Samples();
            recorded.insert(recorded.end(), values.begin(), values.end());
        }
        size_t at = 0, wrong = 0, planted = 0;
        for (const uint32_t block : blocks) {
            for (uint64_t k = uint64_t(block - 1) * Rate; k < uint64_t(block) * Rate; ++k, ++at) {
                if (at >= recorded.size()) {
                    break;
                }
                const int32_t expected = CounterValue(c, k, 3);
                planted += recorded[at] != expected && recorded[at] == PlantedTag ? 1 : 0;
                wrong += recorded[at] != expected && recorded[at] != PlantedTag ? 1 : 0;
            }
        }
        EXPECT_EQ(recorded.size(), blocks.size() * Rate);
        EXPECT_EQ(wrong, 0u);
        std::printf("channel %d: %zu samples in %zu files, %zu with the planted tag\n", c + 1,
                    recorded.size(), files.size(), planted);
    }
}

}  // namespace
