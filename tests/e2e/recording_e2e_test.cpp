// Recording end to end (FILES_FEATURE builds): the simulator program's counter signal at
// --speed 20 (a file period of one minute passes in three seconds) recorded for several file
// periods, read back with libmseed. Every sample the program received is in the files exactly
// once and in order.
//  - The window, in this process, on the simulator program: Stop and Start, a change of sample
//    rate from the Control page, then SIGTERM through the program's own signal handling.
//  - The kestrel32 program itself on the simulator program, ended by SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "main/application.h"
#include "main/main_form.h"
#include "main/model/ini_file.h"
#include "main/radio_group.h"
#include "seedfile/seed_time.h"
#include "support/child_process.h"
#include "support/mseed_read.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int Channels = 2;
constexpr int Rate = 10;

// digitizer-sim with the counter signal, 20 frames a second at 115200 baud.
std::unique_ptr<TChild> StartSimulator(std::string& device) {
    auto sim = std::make_unique<TChild>(std::vector<std::string>{
        DIGITIZER_SIM, "--channels", std::to_string(Channels), "--rate", std::to_string(Rate),
        "--signal", "counter", "--speed", "20", "--baud", "115200", "--gps", "rmc"});
    const auto lines = sim->ReadLines(1, 5s);
    device = lines.empty() ? std::string() : lines[0];
    return sim;
}

void WriteSettings(const std::string& path, const std::string& base) {
    std::ofstream(path) << "[Comms]\nBaud=115200\n[Data]\nStoredSeconds=86400\n"
                        << "[Files]\nEnable=1\nDurationMinutes=1\nStation=E2E\nLocation=00\n"
                        << "Network=KS\nBaseDir=" << base << "\n";
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

TEST(RecordingEndToEnd, TheWindowRecordsEverySampleOnceThroughStopStartARateChangeAndSigterm) {
    QTemporaryDir dir;
    const std::string base = dir.filePath(QStringLiteral("rec")).toStdString();
    const std::string settings = dir.filePath(QStringLiteral("kestrel32.ini")).toStdString();
    WriteSettings(settings, base);
    std::string device;
    const auto sim = StartSimulator(device);
    ASSERT_FALSE(device.empty()) << sim->Errors();

    InstallTerminationSignals();
    TStartOptions options;
    options.SettingsPath = settings;
    options.Device = device;
    auto form = std::make_unique<TMainForm>(options);
    std::vector<QString> reports;
    form->Prompts().SetReportSink([&](const QString& text) { reports.push_back(text); });
    form->Prompts().SetMessageSink([&](const QString& text) { reports.push_back(text); });
    CloseOnTerminationSignal(form.get());
    form->show();

    // Two minute boundaries pass: two files per channel.
    ASSERT_TRUE(QtWaitFor([&] { return FileCount(base) >= 2 * Channels; }, 20s));
    std::array<int32_t, Channels> first{}, beforeStop{}, afterStart{};
    for (int c = 0; c < Channels; ++c) {
        first[c] = FirstReceived(*form, c);
    }

    // Stop: what was received so far is written; the link stays stopped for a second
    // (twenty seconds of the digitizer's time), then starts again.
    form->StopButtonClick();
    QtRunFor(300ms);
    for (int c = 0; c < Channels; ++c) {
        beforeStop[c] = LastReceived(*form, c);
    }
    QtRunFor(700ms);
    form->StartButtonClick();
    ASSERT_TRUE(QtWaitFor([&] { return FirstReceived(*form, 0) != INT32_MIN; }, 10s));
    for (int c = 0; c < Channels; ++c) {
        ASSERT_TRUE(QtWaitFor([&] { return FirstReceived(*form, c) != INT32_MIN; }, 5s));
        afterStart[c] = FirstReceived(*form, c);
    }

    // A file period and a half later, the sample rate goes from 10 to 20 per second.
    QtRunFor(4500ms);
    const size_t beforeChange = FileCount(base);
    TRadioGroup* rates = form->findChild<TRadioGroup*>(QStringLiteral("SetRateRadioGroup"));
    ASSERT_NE(rates, nullptr);
    for (int i = 0; i < rates->Count(); ++i) {
        if (rates->ItemText(i) == QStringLiteral("20")) {
            rates->Button(i)->click();
        }
    }
    form->findChild<QPushButton*>(QStringLiteral("SRButton"))->click();
    ASSERT_TRUE(QtWaitFor([&] { return form->Model().Format().SampleRate == 20; }, 10s));
    EXPECT_GT(FileCount(base), beforeChange) << "the format change wrote the pending files";

    // Two more file periods, then SIGTERM: the window closes as the program does.
    QtRunFor(6500ms);
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    ASSERT_TRUE(QtWaitFor([&] { return !form->isVisible(); }, 10s));
    std::array<int32_t, Channels> last{};
    for (int c = 0; c < Channels; ++c) {
        const TFftRing& ring = form->Model().Channels().FftRing(c);
        last[c] = ring.Get(ring.Count() - 1) / 256;
    }
    form.reset();
    EXPECT_TRUE(reports.empty()) << reports.front().toStdString();

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
        EXPECT_GE(files.size(), 6u);
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
            if (NameSecond(f.Name) == 0 && &f != &files.back()) {
                // A whole period, unless a Stop, Start or the rate change ended it early.
                EXPECT_GT(samples, 0);
            }
        }
        EXPECT_TRUE(sawTen && sawTwenty);
        EXPECT_GE(atMinute, 3);
    }
}

TEST(RecordingEndToEnd, TheProgramWritesItsFilesWhenEndedBySigterm) {
    QTemporaryDir dir;
    const std::string base = dir.filePath(QStringLiteral("rec")).toStdString();
    const std::string settings = dir.filePath(QStringLiteral("kestrel32.ini")).toStdString();
    WriteSettings(settings, base);
    std::string device;
    const auto sim = StartSimulator(device);
    ASSERT_FALSE(device.empty()) << sim->Errors();

    TChild app({KESTREL32, device, "--settings", settings}, {"QT_QPA_PLATFORM=offscreen"});
    // Two and a half file periods.
    const auto start = std::chrono::steady_clock::now();
    while (FileCount(base) < 2 * Channels && std::chrono::steady_clock::now() - start < 20s) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_GE(FileCount(base), 2u * Channels) << app.Errors();
    std::this_thread::sleep_for(1500ms);
    app.Signal(SIGTERM);
    ASSERT_EQ(app.Wait(10s), 0) << app.Errors();
    EXPECT_EQ(app.Errors().find("kestrel32:"), std::string::npos) << app.Errors();

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
    TIniFile ini;
    ASSERT_TRUE(ini.Load(settings));
    EXPECT_EQ(ini.Get("Files", "Enable"), "1");
}
