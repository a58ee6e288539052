// Resident memory of the window at its largest settings: 86,400 seconds shown of six channels
// at 500 samples per second (the highest rate six channels reach: a frame's rate summed over
// its channels is at most 3000 samples per second), 100 hours of temperature readings, six
// 8192-point spectra. The window runs offscreen on a device that does not open.
//
// Counters (MB = 10^6 bytes), read from /proc/self/statm:
//   rss_idle_MB   the window built and shown with these settings, nothing received yet;
//   rss_full_MB   after a day of blocks at that rate (the channel histories full) and
//                 100 hours of blocks (the temperature histories full), every page drawn;
//   held_MB       what the model itself holds: the six histories with their summaries
//                 (TChannelHistory::MemoryBytes), the temperature readings and the rings;
//   samples_MB    the bare samples: 4 bytes per stored sample, the least any store needs;
//   growth_over_samples   (rss_full - rss_idle) / samples_MB.
// The blocks of the fill go to the model directly (spectra off); the pages draw the last
// block, then everything whole.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "main/channels_page.h"
#include "main/fft_page.h"
#include "main/link_session.h"
#include "main/main_form.h"
#include "main/monitor_page.h"
#include "main/temperatures_page.h"
#include "support/blocks.h"

namespace {

constexpr int Channels = 6;
constexpr int Rate = 500;
constexpr int ShownSeconds = 86400;
constexpr int StoredHours = 100;
constexpr int Points = 8192;

double ResidentMegabytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

// Eight blocks of noise, used in turn, with the block count and temperatures changing.
class TBlocks {
  public:
    TBlocks() {
        std::mt19937 random(3);
        for (int b = 0; b < 8; ++b) {
            blocks_.push_back(MakeOwnedBlock({.Channels = Channels,
                                              .Rate = Rate,
                                              .BytesPerSample = 1,
                                              .GainCode = std::string("G\x12"),
                                              .Mde = true,
                                              .Counts = [&random](int, int) {
                                                  return static_cast<int32_t>(random() % 255) - 127;
                                              }}));
        }
    }
    TDataBlock& Next() {
        TDataBlock& block = *blocks_[count_ % blocks_.size()];
        ++count_;
        block.Header->BlockCount = static_cast<uint32_t>(count_);
        for (int c = 0; c < Channels; ++c) {
            block.Header->ModuleTemp[c] = 20 + 0.1 * static_cast<double>((count_ + 37 * c) % 200);
        }
        return block;
    }
    // A copy of the next block for the window, which frees what it is given.
    TDataBlock* NextCopy() {
        TDataBlock& next = Next();
        TDataBlock* copy = NewBlock();
        copy->Header = std::make_unique<TBlockHeader>(*next.Header);
        copy->Gps = std::make_unique<TGpsInfo>(*next.Gps);
        copy->Samples = std::make_unique<TSampleSet>(*next.Samples);
        copy->Sum = std::make_unique<TBlockSum>(*next.Sum);
        return copy;
    }

  private:
    std::vector<TBlockPtr> blocks_;
    size_t count_ = 0;
};

void BM_ResidentAtLargestSettings(benchmark::State& state) {
    for (auto _ : state) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "memorybench.XXXXXX").string();
        const std::string dir = mkdtemp(pattern.data());
        const std::string settings = dir + "/kestrel32.ini";
        std::ofstream(settings) << "[Data]\nStoredSeconds=" << ShownSeconds
                                << "\n[Temperatures]\nStoredHours=" << StoredHours
                                << "\n[FFT]\nPoints=" << Points
                                << "\nWindow=Blackman Harris\nAutoCalc=1\n";
        TStartOptions options;
        options.SettingsPath = settings;
        options.Device = dir + "/no-such-device";
        auto form = std::make_unique<TMainForm>(options);
        form->Prompts().SetMessageSink([](const QString&) {});
        form->Timer()->stop();
        form->show();
        QApplication::processEvents();
        const double idle = ResidentMegabytes();

        // The first block through the window (the pages lay out six channels), then the fill,
        // then the last block through the window again: 360,001 blocks in all, the last
        // 86,400 of them shown. Until then one second is shown (as if the user had chosen
        // the day just then), so the histories end full rather than just restarted.
        TBlocks blocks;
        form->ProcessBlock(blocks.NextCopy());
        TMonitorModel& model = form->Model();
        const std::optional<int32_t> baud = form->Session().BaudRate();  // as the window gives it
        model.SetAutoCalc(false);
        const int64_t blocksInAll = int64_t{StoredHours} * 3600 + 1;
        const int64_t beforeTheDay = blocksInAll - ShownSeconds + 1;
        model.SetStoredSeconds(1);
        for (int64_t b = 1; b < beforeTheDay; ++b) {
            model.ProcessBlock(blocks.Next(), baud);
        }
        model.SetStoredSeconds(ShownSeconds);
        for (int64_t b = beforeTheDay; b < blocksInAll - 1; ++b) {
            model.ProcessBlock(blocks.Next(), baud);
        }
        model.SetAutoCalc(true);
        form->ProcessBlock(blocks.NextCopy());
        for (TMonitorPage* page : std::initializer_list<TMonitorPage*>{
                 form->ChannelsPage(), form->TemperaturesPage(), form->FftPage()}) {
            page->BlockArrived(true);
        }
        for (int tab = 0; tab < TMainForm::TabCount; ++tab) {
            form->PageControl()->setCurrentIndex(tab);
            QApplication::processEvents();
        }
        const double full = ResidentMegabytes();

        const TChannelModel& channels = model.Channels();
        double held = 0;
        double stored = 0;
        for (int c = 0; c < Channels; ++c) {
            held += static_cast<double>(channels.ChannelHistory(c).MemoryBytes());
            stored += static_cast<double>(channels.ChannelHistory(c).Size());
            held += static_cast<double>(model.Temperatures()[static_cast<size_t>(c)].size() *
                                        sizeof(TTemperatureReading));
            held += static_cast<double>(channels.FftRing(c).Capacity()) * sizeof(int32_t);
        }
        if (stored != double{Channels} * Rate * ShownSeconds) {
            state.SkipWithError("the channel histories are not full");
        }
        if (model.Temperatures()[0].size() != size_t{StoredHours} * 3600 + 1) {
            state.SkipWithError("the temperature histories are not full");
        }
        state.counters["rss_idle_MB"] = idle;
        state.counters["rss_full_MB"] = full;
        state.counters["held_MB"] = held / 1e6;
        state.counters["samples_MB"] = stored * 4 / 1e6;
        state.counters["growth_over_samples"] = (full - idle) / (stored * 4 / 1e6);
        state.counters["temperature_readings"] =
            static_cast<double>(model.Temperatures()[0].size() * Channels);

        form.reset();
        std::filesystem::remove_all(dir);
    }
}
BENCHMARK(BM_ResidentAtLargestSettings)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
