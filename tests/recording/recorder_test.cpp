// The recorder's queue: while its worker is held up (here inside its own news callback), the
// blocks handed over beyond the memory limit push out the oldest waiting ones, never the
// newest, and that is counted at once and reported with its extent; the blocks kept reach the
// archive in order.
#include "recording/recorder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/mseed_read.h"

namespace fs = std::filesystem;

namespace {

TRecordBlock Block(int64_t time) {
    TRecordBlock b;
    b.Time = time;
    b.ChannelCount = 1;
    b.SampleRate = 100;
    b.BytesPerSample = 3;
    b.SamplesPerBlock = 100;
    b.SerialNumber = "12345";
    for (int j = 0; j < 100; ++j) {
        b.Samples[0].push_back(int32_t(time % 1000 * 100 + j) * 256);
    }
    return b;
}

}  // namespace

TEST(Recorder, AHeldUpWorkerLosesTheOldestWaitingBlocksNotTheNewest) {
    const fs::path root = fs::temp_directory_path() / ("recorder_test_" + std::to_string(getpid()));
    fs::remove_all(root);
    // A day file with a partial record at its end: opening it makes news at the first block,
    // and the news callback holds the worker there.
    const int64_t start = 1735689600;  // 2025-01-01 00:00:00
    const fs::path day = root / "2025/XX/2345/HHZ.D/XX.2345..HHZ.D.2025.001";
    fs::create_directories(day.parent_path());
    std::ofstream(day) << "partial";

    TRecorderSettings settings;
    settings.Layout = TArchiveLayout::Sds;
    settings.Sds.Root = root.string();
    settings.Sds.Soh = false;
    settings.MemoryLimit = 2 * 4 * Block(0).Bytes();  // four blocks may wait
    TRecorder recorder(settings);

    std::mutex mutex;
    std::condition_variable cv;
    bool held = false;
    bool release = false;
    const std::thread::id owner = std::this_thread::get_id();
    recorder.SetNewsCallback([&] {
        if (std::this_thread::get_id() == owner) {
            return;  // told at once of what Take itself found
        }
        std::unique_lock lock(mutex);
        held = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
    });
    recorder.Take(Block(start));
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return held; });
    }
    // Twenty more seconds while the worker is held: only the newest four can wait.
    for (int64_t t = start + 1; t <= start + 20; ++t) {
        recorder.Take(Block(t));
        // What waits and what is lost shows at once, though the worker is stuck.
        const TRecorderStats now = recorder.Stats();
        EXPECT_EQ(now.HeldBytes, size_t(std::min<int64_t>(t - start, 4)) * Block(0).Bytes());
        EXPECT_EQ(now.DroppedSamples, std::max<int64_t>(t - start - 4, 0) * 100);
    }
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    cv.notify_all();
    recorder.Close();
    recorder.Drain();

    const TRecordingNews news = recorder.TakeNews();
    ASSERT_EQ(news.Reports.size(), 2u) << "the start of the loss, then its extent";
    EXPECT_NE(news.Reports[0].find("dropped to keep the newest"), std::string::npos);
    EXPECT_NE(news.Reports[1].find("1600 samples of every channel were dropped (blocks of "
                                   "2025-01-01T00:00:01.0000Z to 2025-01-01T00:00:16.0000Z)"),
              std::string::npos)
        << news.Reports[1];
    EXPECT_EQ(recorder.Stats().DroppedSamples, 16 * 100);
    const TMseedFile file = ReadMseedFile(day.string());
    ASSERT_TRUE(file.Ok) << file.Error;
    EXPECT_EQ(file.Log, std::vector<std::string>{});
    ASSERT_EQ(file.Records.size(), 2u) << "the first second, then a gap, then the newest four";
    EXPECT_EQ(file.Records[0].StartMicroseconds, start * 1000000);
    EXPECT_EQ(file.Records[0].SampleCount, 100);
    EXPECT_EQ(file.Records[1].StartMicroseconds, (start + 17) * 1000000);
    EXPECT_EQ(file.Records[1].SampleCount, 400);
    EXPECT_EQ(file.Records[1].Samples.back(), (start + 20) % 1000 * 100 + 99);
    fs::remove_all(root);
}
