// Recording end to end (FILES_FEATURE builds): the simulator program's counter signal at
// --speed 20 (a file period of one minute passes in three seconds) recorded, read back with
// libmseed. Every sample the program received is in the files exactly once and in order.
//  - The window, built as the program builds it, on the simulator program for more than half
//    an hour of the unit's time: thirty file periods and more, Stop and Start, a change of
//    sample rate from the Control page, then SIGTERM through the program's own signal handling.
//  - The kestrel32 program itself on the simulator program, ended by SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/e2e_fixture.h"
#include "support/mseed_read.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int Channels = 2;
constexpr int Rate = 10;

// The unit: the counter signal, 20 frames a second at 115200 baud.
const std::vector<std::string> CounterUnit = {"--channels", std::to_string(Channels),
                                              "--rate",     std::to_string(Rate),
                                              "--signal",   "counter",
                                              "--speed",    "20",
                                              "--baud",     "115200",
                                              "--gps",      "rmc"};

std::string RecordingSettings(const std::string& base) {
    return "[Comms]\nBaud=115200\n[Data]\nStoredSeconds=86400\n[Files]\nEnable=1\n"
           "DurationMinutes=1\nStation=E2E\nLocation=00\nNetwork=KS\nBaseDir=" +
           base + "\n";
}

struct TRecorded {
    std::string Name;
    TMseedFile File;
};

// The channel's files in name (that is, time) order.
std::vector<TRecorded> FilesOf(const std::string& base, int channel) {
    std::vector<TRecorded> files;
    if (!fs::exists(base)) {
        return files;
    }
    const std::string code = "P_" + std::to_string(channel);
    for (const auto& entry : fs::recursive_directory_iterator(base)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.ends_with(code)) {
            files.push_back({name, ReadMseedFile(entry.path().string())});
        }
    }
    std::sort(files.begin(), files.end(),
              [](const TRecorded& a, const TRecorded& b) { return a.Name < b.Name; });
    return files;
}

size_t FileCount(const std::string& base) {
    return fs::exists(base)
               ? static_cast<size_t>(std::count_if(
                     fs::recursive_directory_iterator(base), fs::recursive_directory_iterator(),
                     [](const auto& e) { return e.is_regular_file(); }))
               : 0;
}

// The counter's sample index k of a recorded 3-byte sample of channel c (1000 c + k).
int64_t CounterIndex(int32_t value, int channel) {
    return int64_t(value) - 1000 * channel;
}

// Checks what every file holds, and returns the channel's counter indices in file order.
std::vector<int64_t> ReadChannel(const std::string& base, int channel) {
    std::vector<int64_t> indices;
    for (const TRecorded& f : FilesOf(base, channel)) {
        EXPECT_TRUE(f.File.Ok) << f.Name << ": " << f.File.Error;
        EXPECT_EQ(f.File.Log, std::vector<std::string>{}) << f.Name;
        EXPECT_EQ(f.File.Segments, 1) << f.Name;
        EXPECT_FALSE(f.File.Records.empty()) << f.Name;
        for (const int32_t v : f.File.Samples()) {
            indices.push_back(CounterIndex(v, channel));
        }
    }
    return indices;
}

// Runs of consecutive indices: [first, last] of each.
std::vector<std::pair<int64_t, int64_t>> Runs(const std::vector<int64_t>& indices) {
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (const int64_t k : indices) {
        if (runs.empty() || k != runs.back().second + 1) {
            runs.push_back({k, k});
        } else {
            runs.back().second = k;
        }
    }
    return runs;
}

// The seconds field of the time in a file name (STATN.NK.LO.YYYY.DDD.HHMMSS.P_c).
int NameSecond(const std::string& name) {
    const size_t end = name.rfind(".P_");
    return std::stoi(name.substr(end - 2, 2));
}

int32_t LastReceived(const TMainForm& form, int channel) {
    const TChannelHistory& history = form.Model().Channels().ChannelHistory(channel);
    return history.IsEmpty() ? INT32_MIN : history[history.Size() - 1] / 256;
}

int32_t FirstReceived(const TMainForm& form, int channel) {
    const TChannelHistory& history = form.Model().Channels().ChannelHistory(channel);
    return history.IsEmpty() ? INT32_MIN : history[0] / 256;
}

}  // namespace

using RecordingEndToEnd = TEndToEndTest;

TEST_F(RecordingEndToEnd,
       TheWindowRecordsEverySampleOnceForHalfAnHourThroughStopStartARateChangeAndSigterm) {
    const std::string base = Path("rec");
    WriteSettings(RecordingSettings(base));
    StartSim(CounterUnit);
    OpenWindow();
    const TMainForm& form = Window();
    // Minutes of the unit's time since the first block the window received.
    auto minutes = [&] {
        return Received().empty() ? 0.0 : (Received().back() - Received().front()) / 60.0;
    };

    // Eight file periods.
    ASSERT_TRUE(WaitUntil([&] { return minutes() >= 8; }, 60s));
    std::array<int32_t, Channels> first{}, beforeStop{}, afterStart{};
    for (int c = 0; c < Channels; ++c) {
        first[c] = FirstReceived(form, c);
    }

    // Stop: what was received so far is written; the link stays stopped for a second
    // (twenty seconds of the unit's time), then starts again.
    Click("StopButton");
    // The whole frame that waited for the next tag when the link stopped is still taken.
    WaitUntil([] { return false; }, 200ms);
    const size_t atStop = Received().size();
    WaitUntil([] { return false; }, 1s);
    EXPECT_EQ(Received().size(), atStop) << "nothing arrives while stopped";
    for (int c = 0; c < Channels; ++c) {
        beforeStop[c] = LastReceived(form, c);
    }
    Click("StartButton");
    for (int c = 0; c < Channels; ++c) {
        ASSERT_TRUE(WaitUntil([&] { return FirstReceived(form, c) != INT32_MIN; }, 10s));
        afterStart[c] = FirstReceived(form, c);
    }

    // At a quarter of an hour the sample rate goes from 10 to 20 per second.
    ASSERT_TRUE(WaitUntil([&] { return minutes() >= 15; }, 60s));
    const size_t beforeChange = FileCount(base);
    Select("SetRateRadioGroup", "20");
    Click("SRButton");
    ASSERT_TRUE(WaitUntil([&] { return form.Model().Format().SampleRate == 20; }, 10s));
    form.Model().WaitForRecorder();  // the files are written on the recorder's thread
    EXPECT_GT(FileCount(base), beforeChange) << "the format change wrote the pending files";

    // Past half an hour, SIGTERM: the window closes as the program does.
    ASSERT_TRUE(WaitUntil([&] { return minutes() >= 31; }, 90s));
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    ASSERT_TRUE(WaitUntil([&] { return !form.isVisible(); }, 10s));
    std::array<int32_t, Channels> last{};
    for (int c = 0; c < Channels; ++c) {
        const TFftRing& ring = form.Model().Channels().FftRing(c);
        last[c] = ring.Get(ring.Count() - 1) / 256;
    }
    const std::vector<uint32_t> blocks = Received();
    form_.reset();
    EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();

    // Every frame reached the window but those sent while it was stopped.
    size_t gaps = 0;
    for (size_t i = 1; i < blocks.size(); ++i) {
        gaps += blocks[i] != blocks[i - 1] + 1 ? 1 : 0;
    }
    EXPECT_EQ(gaps, 1u);
    EXPECT_TRUE(std::is_sorted(blocks.begin(), blocks.end()));

    for (int c = 0; c < Channels; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        const std::vector<int64_t> indices = ReadChannel(base, c);
        ASSERT_FALSE(indices.empty());
        // In order, each once, and nothing missing but the samples sent while stopped.
        const auto runs = Runs(indices);
        ASSERT_EQ(runs.size(), 2u) << "one gap, while the link was stopped";
        EXPECT_EQ(runs[0].first, CounterIndex(first[c], c));
        EXPECT_EQ(runs[0].second, CounterIndex(beforeStop[c], c));
        EXPECT_EQ(runs[1].first, CounterIndex(afterStart[c], c));
        EXPECT_EQ(runs[1].second, CounterIndex(last[c], c));
        EXPECT_GT(runs[1].first, runs[0].second + 1);

        // Files cut by the rule start at a minute; the rates follow the change.
        const std::vector<TRecorded> files = FilesOf(base, c);
        EXPECT_GE(files.size(), 31u);
        int atMinute = 0;
        bool sawTen = false, sawTwenty = false;
        for (const TRecorded& f : files) {
            atMinute += NameSecond(f.Name) == 0 ? 1 : 0;
            const double rate = f.File.Records.front().SampleRate;
            EXPECT_TRUE(rate == 10 || rate == 20) << f.Name;
            EXPECT_FALSE(sawTwenty && rate == 10) << "10 per second after 20: " << f.Name;
            sawTen = sawTen || rate == 10;
            sawTwenty = sawTwenty || rate == 20;
            const int64_t samples = int64_t(f.File.Samples().size());
            EXPECT_LE(samples, 60 * int64_t(rate)) << f.Name;
            EXPECT_GT(samples, 0) << f.Name;
        }
        EXPECT_TRUE(sawTen && sawTwenty);
        EXPECT_GE(atMinute, 28);
    }
}

TEST_F(RecordingEndToEnd, TheProgramWritesItsFilesWhenEndedBySigterm) {
    const std::string base = Path("rec");
    WriteSettings(RecordingSettings(base));
    StartSim(CounterUnit);
    StartProgram();
    // Two and a half file periods.
    ASSERT_TRUE(WaitUntil([&] { return FileCount(base) >= 2 * Channels; }, 30s))
        << Program().Errors();
    WaitUntil([] { return false; }, 1500ms);
    Program().Signal(SIGTERM);
    ASSERT_EQ(Program().Wait(10s), 0) << Program().Errors();
    EXPECT_EQ(Program().Errors().find("kestrel32:"), std::string::npos) << Program().Errors();

    for (int c = 0; c < Channels; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        const std::vector<int64_t> indices = ReadChannel(base, c);
        const auto runs = Runs(indices);
        ASSERT_EQ(runs.size(), 1u) << "every sample once and in order";
        const std::vector<TRecorded> files = FilesOf(base, c);
        ASSERT_EQ(files.size(), 3u) << "two periods cut and the one SIGTERM wrote";
        EXPECT_EQ(NameSecond(files[1].Name), 0);
        EXPECT_EQ(NameSecond(files[2].Name), 0);
        EXPECT_EQ(files[1].File.Samples().size(), size_t(60 * Rate)) << "a whole minute";
        EXPECT_GT(files[2].File.Samples().size(), 0u);
    }
    EXPECT_EQ(SavedSettings().Get("Files", "Enable"), "1");
}
