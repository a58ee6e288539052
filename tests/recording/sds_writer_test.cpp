// The archive layout, read back with libmseed: a run across midnight and a year's end with a
// lost stretch and a rate change puts every sample once, at its true time, into the right day
// files, with no record across midnight; a day file left with a partial record is cut back and
// appended to; a disk that fails holds the records in order, reports once and catches up.
#include "recording/sds_writer.h"
#include "recording/archive_spans.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <set>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "support/mseed_read.h"

namespace fs = std::filesystem;

namespace {

int64_t At(int year, int month, int day, int hour, int minute, int second) {
    return SeedTimeOf(year, month, day, hour, minute, second)->Seconds;
}

// Counter samples: channel c's k-th sample since the start is 1000 c + k, 3-byte words.
struct TFeeder {
    std::array<int64_t, MaxChannels> Next{};

    TRecordBlock Block(int64_t time, int channels, int rate, bool locked = true) {
        TRecordBlock b;
        b.Time = time;
        b.ClockLocked = locked;
        b.ChannelCount = channels;
        b.SampleRate = rate;
        b.BytesPerSample = 3;
        b.SamplesPerBlock = rate;
        b.SerialNumber = "00012345";
        b.Soh.SupplyMillivolts = 12000 + int32_t(time % 7);
        b.Soh.Satellites = 9;
        b.Soh.GpsFix = 1;
        for (int c = 0; c < channels; ++c) {
            for (int j = 0; j < rate; ++j) {
                b.Samples[size_t(c)].push_back(int32_t(1000 * c + Next[size_t(c)]++) * 256);
            }
        }
        return b;
    }
};

class SdsWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("sds_writer_test_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        settings_.Root = root_.string();
    }
    void TearDown() override { fs::remove_all(root_); }

    // Every file under the root by its path below it.
    std::map<std::string, TMseedFile> Files() const {
        std::map<std::string, TMseedFile> files;
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            if (entry.is_regular_file()) {
                files[fs::relative(entry.path(), root_).string()] =
                    ReadMseedFile(entry.path().string());
            }
        }
        return files;
    }

    fs::path root_;
    TSdsSettings settings_;
};

}  // namespace

TEST_F(SdsWriterTest, ACrossMidnightRunWithALossAndARateChangeKeepsEverySampleAtItsTime) {
    settings_.RecordLength = 512;
    TSdsWriter writer(settings_);
    TFeeder feeder;
    // Expected (time in µs, value) of every sample, per channel code.
    std::map<std::string, std::vector<std::pair<int64_t, int32_t>>> sent;
    const auto feed = [&](int64_t time, int channels, int rate) {
        TRecordBlock block = feeder.Block(time, channels, rate);
        static const char* orient = "ZNE";
        for (int c = 0; c < channels; ++c) {
            const std::string code = std::string(rate >= 80 ? "H" : "B") + "H" + orient[c];
            for (int j = 0; j < rate; ++j) {
                sent[code].push_back({time * 1000000 + j * 1000000 / rate,
                                      block.Samples[size_t(c)][size_t(j)] / 256});
            }
        }
        writer.Take(block);
    };
    // Two minutes up to a year's end and past it, at 100 per second on three channels.
    const int64_t start = At(2024, 12, 31, 23, 59, 0);
    for (int64_t t = start; t < start + 120; ++t) {
        feed(t, 3, 100);
    }
    // Seven seconds lost, then 30 more; then two channels at 40 per second.
    for (int64_t t = start + 127; t < start + 157; ++t) {
        feed(t, 3, 100);
    }
    for (int64_t t = start + 157; t < start + 200; ++t) {
        feed(t, 2, 40);
    }
    writer.Close();
    EXPECT_TRUE(writer.TakeNews().Empty());

    const auto files = Files();
    for (const char* name : {"2024/XX/2345/HHZ.D/XX.2345..HHZ.D.2024.366",
                             "2025/XX/2345/HHE.D/XX.2345..HHE.D.2025.001",
                             "2025/XX/2345/BHN.D/XX.2345..BHN.D.2025.001",
                             "2024/XX/2345/LEV.D/XX.2345..LEV.D.2024.366",
                             "2025/XX/2345/LCF.D/XX.2345..LCF.D.2025.001"}) {
        EXPECT_TRUE(files.count(name)) << name;
    }
    EXPECT_FALSE(files.count("2025/XX/2345/BHE.D/XX.2345..BHE.D.2025.001"));

    // Per stream, the samples of its files in order, each with the time its record gives it.
    std::map<std::string, std::vector<std::pair<int64_t, int32_t>>> archived;
    for (const auto& [name, file] : files) {
        ASSERT_TRUE(file.Ok) << name << ": " << file.Error;
        EXPECT_EQ(file.Log, std::vector<std::string>{}) << name;
        for (const TMseedRecord& r : file.Records) {
            EXPECT_EQ(r.RecordLength, 512);
            EXPECT_EQ(r.IoFlags & 0x20, 0x20) << "locked to GPS";
            const int64_t day = r.StartMicroseconds / 86400000000;
            const int64_t last =
                r.StartMicroseconds + int64_t((r.SampleCount - 1) * 1e6 / r.SampleRate);
            EXPECT_EQ(last / 86400000000, day)
                << name << ": a record across midnight at " << r.StartMicroseconds;
            for (size_t i = 0; i < r.Samples.size(); ++i) {
                archived[r.Channel].push_back(
                    {r.StartMicroseconds + int64_t(i * 1000000 / r.SampleRate), r.Samples[i]});
            }
        }
    }
    for (const auto& [code, samples] : sent) {
        EXPECT_EQ(archived[code], samples) << code;
    }
    // One state-of-health sample per block, at the block's time.
    ASSERT_EQ(archived["LEV"].size(), 120u + 30u + 43u);
    EXPECT_EQ(archived["LEV"][120].first, (start + 127) * 1000000);
    EXPECT_EQ(archived["LEV"][120].second, 12000 + int32_t((start + 127) % 7));
    EXPECT_EQ(archived["LCS"].front().second, 9);
}

TEST_F(SdsWriterTest, APartialRecordLeftBehindIsCutOffAndTheNumberingRunsOn) {
    settings_.Soh = false;
    settings_.FlushSeconds = 10;
    const int64_t start = At(2025, 3, 1, 10, 0, 0);
    TFeeder feeder;
    {
        TSdsWriter writer(settings_);
        for (int64_t t = start; t < start + 30; ++t) {
            writer.Take(feeder.Block(t, 1, 100));
        }
        writer.Close();
    }
    const fs::path file = root_ / "2025/XX/2345/HHZ.D/XX.2345..HHZ.D.2025.060";
    const TMseedFile before = ReadMseedFile(file.string());
    ASSERT_TRUE(before.Ok);
    const int lastSequence = before.Records.back().Sequence;
    const auto whole = fs::file_size(file);
    // The process was killed while writing: half a record at the end.
    std::ofstream(file, std::ios::app | std::ios::binary) << std::string(1500, 'D');

    TSdsWriter writer(settings_);
    for (int64_t t = start + 40; t < start + 50; ++t) {
        writer.Take(feeder.Block(t, 1, 100));
    }
    writer.Close();
    const TRecordingNews news = writer.TakeNews();
    ASSERT_EQ(news.Notices.size(), 1u);
    EXPECT_NE(news.Notices[0].find("cut 1500 bytes"), std::string::npos) << news.Notices[0];
    const TMseedFile after = ReadMseedFile(file.string());
    ASSERT_TRUE(after.Ok) << after.Error;
    EXPECT_EQ(after.Log, std::vector<std::string>{});
    EXPECT_GT(fs::file_size(file), whole);
    EXPECT_EQ(after.Records[before.Records.size()].Sequence, lastSequence + 1);
    EXPECT_EQ(after.Samples().size(), 40u * 100);
    EXPECT_EQ(after.Segments, 2) << "the ten lost seconds are a gap";
}

TEST_F(SdsWriterTest, ADiskThatFailsHoldsTheRecordsInOrderReportsOnceAndCatchesUp) {
    // A root below a plain file cannot be made, even by root.
    fs::create_directories(root_);
    const fs::path blocker = root_ / "blocker";
    std::ofstream(blocker) << "x";
    settings_.Root = (blocker / "archive").string();
    settings_.FlushSeconds = 5;
    const int64_t start = At(2025, 6, 1, 0, 0, 0);
    TFeeder feeder;
    TSdsWriter writer(settings_);
    for (int64_t t = start; t < start + 30; ++t) {
        writer.Take(feeder.Block(t, 2, 100));
    }
    TRecordingNews news = writer.TakeNews();
    ASSERT_EQ(news.Reports.size(), 1u) << "once per streak";
    EXPECT_NE(news.Reports[0].find("Not a directory"), std::string::npos) << news.Reports[0];
    EXPECT_GT(writer.HeldBytes(), 0u);
    EXPECT_EQ(writer.Stats().Streams.size(), 0u) << "nothing is on disk yet";

    // Space comes back: everything held goes out, in order, before anything newer.
    fs::remove(blocker);
    for (int64_t t = start + 30; t < start + 40; ++t) {
        writer.Take(feeder.Block(t, 2, 100));
    }
    writer.Close();
    news = writer.TakeNews();
    EXPECT_TRUE(news.Reports.empty());
    ASSERT_EQ(news.Notices.size(), 1u);
    EXPECT_NE(news.Notices[0].find("written to the archive again"), std::string::npos);
    EXPECT_EQ(writer.HeldBytes(), 0u);
    const TMseedFile z =
        ReadMseedFile((blocker / "archive/2025/XX/2345/HHN.D/XX.2345..HHN.D.2025.152").string());
    ASSERT_TRUE(z.Ok);
    EXPECT_EQ(z.Log, std::vector<std::string>{});
    EXPECT_EQ(z.Segments, 1);
    ASSERT_EQ(z.Samples().size(), 4000u);
    EXPECT_EQ(z.Samples()[3999], 1000 + 3999);

    // A second writer of the same streams (another station with the same codes) is kept out
    // of the day files; it holds its records until the first lets go.
    writer.Take(feeder.Block(start + 40, 2, 100));
    writer.Flush();  // its day files are open again
    {
        TSdsWriter second(settings_);
        second.Take(feeder.Block(start + 40, 2, 100));
        second.Flush();
        const TRecordingNews refused = second.TakeNews();
        ASSERT_EQ(refused.Reports.size(), 1u);
        EXPECT_NE(refused.Reports[0].find("being written by another process"), std::string::npos)
            << refused.Reports[0];
        EXPECT_GT(second.HeldBytes(), 0u);
    }
    writer.Close();

    // With memory for only a little, the oldest held records are dropped and counted.
    fs::remove_all(blocker);
    std::ofstream(blocker) << "x";
    for (int64_t t = start + 41; t < start + 70; ++t) {
        writer.Take(feeder.Block(t, 2, 100));
    }
    const int64_t dropped = writer.DropHeld(4096);
    EXPECT_GT(dropped, 0);
    EXPECT_LE(writer.HeldBytes(), 4096u);
    EXPECT_EQ(writer.Stats().DroppedSamples, dropped);
    news = writer.TakeNews();
    ASSERT_EQ(news.Reports.size(), 2u);
    EXPECT_NE(news.Reports[1].find("dropped"), std::string::npos) << news.Reports[1];
}

// A disk that takes less than the data for a minute: the held records are retried oldest
// first across all streams, so each stream loses the same span; the shortage is reported once
// at its start and once, with the true loss per stream, when everything held is written; a
// small record that fits meanwhile is no recovery.
TEST_F(SdsWriterTest, AShortDiskCostsEveryStreamTheSameAndTheLossIsLoggedWhole) {
    settings_.FlushSeconds = 5;
    const int64_t start = At(2025, 6, 1, 0, 0, 0);
    bool limited = false;
    int64_t budget = 0;  // bytes the disk takes while limited
    SetDayFileWriteHook([&](const std::string&, size_t size) -> TStatus {
        if (!limited) {
            return {};
        }
        if (budget < int64_t(size)) {
            return TError{"write: No space left on device", ENOSPC};
        }
        budget -= int64_t(size);
        return {};
    });
    TFeeder feeder;
    TSdsWriter writer(settings_);
    std::vector<std::string> reports, notices;
    const auto collect = [&] {
        TRecordingNews news = writer.TakeNews();
        reports.insert(reports.end(), news.Reports.begin(), news.Reports.end());
        notices.insert(notices.end(), news.Notices.begin(), news.Notices.end());
    };
    const int seconds = 120;
    for (int64_t t = start; t < start + seconds; ++t) {
        limited = t >= start + 10 && t < start + 100;
        budget += limited ? 600 : 0;  // a quarter of what comes
        writer.Take(feeder.Block(t, 3, 100));
        writer.DropHeld(16384);
        collect();
    }
    limited = false;
    writer.Close();
    collect();
    SetDayFileWriteHook({});

    ASSERT_EQ(notices.size(), 1u) << "one recovery, when nothing is held any more";
    EXPECT_NE(notices[0].find("written to the archive again"), std::string::npos);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_NE(reports[0].find("No space left"), std::string::npos) << reports[0];
    EXPECT_NE(reports[1].find("dropped"), std::string::npos) << reports[1];
    const std::string& loss = reports[2];
    EXPECT_NE(loss.find("The disk takes records again"), std::string::npos) << loss;

    // Every sample is on disk or in the loss, per stream.
    std::map<std::string, int64_t> lost;
    for (const auto& [path, file] : Files()) {
        ASSERT_TRUE(file.Ok) << path;
        EXPECT_EQ(file.Log, std::vector<std::string>{}) << path;
        const std::string name = fs::path(path).filename().string();
        const std::string id = name.substr(0, name.find(".D."));
        const bool data = id.find("..HH") != std::string::npos;
        const int64_t fed = data ? seconds * 100 : seconds;
        const int64_t kept = int64_t(file.Samples().size());
        const size_t at = loss.find(" " + id + " ");
        const int64_t reported =
            at == std::string::npos ? 0 : std::stoll(loss.substr(at + id.size() + 2));
        EXPECT_EQ(kept + reported, fed) << id << " in " << loss;
        lost[id] = reported;
    }
    // The same span for every data stream, to a record (500 samples: one flush period).
    ASSERT_GT(lost["XX.2345..HHZ"], 0) << loss;
    EXPECT_LE(std::abs(lost["XX.2345..HHN"] - lost["XX.2345..HHZ"]), 500) << loss;
    EXPECT_LE(std::abs(lost["XX.2345..HHE"] - lost["XX.2345..HHZ"]), 500) << loss;
}

// A disk that reports an I/O error when asked to sync: told once per file and streak, with the
// error in the figures, and its end told too.
TEST_F(SdsWriterTest, AFailedSyncIsReportedOnceAndItsEndTold) {
    settings_.FlushSeconds = 5;
    const int64_t start = At(2025, 6, 1, 0, 0, 0);
    bool failing = false;
    SetDayFileWriteHook([&](const std::string&, size_t size) -> TStatus {
        if (size == 0 && failing) {
            return TError{"cannot put the file on the disk: Input/output error", EIO};
        }
        return {};
    });
    TFeeder feeder;
    TSdsWriter writer(settings_);
    std::vector<std::string> reports, notices;
    for (int64_t t = start; t < start + 60; ++t) {
        failing = t >= start + 10 && t < start + 40;
        writer.Take(feeder.Block(t, 1, 100));
        TRecordingNews news = writer.TakeNews();
        reports.insert(reports.end(), news.Reports.begin(), news.Reports.end());
        notices.insert(notices.end(), news.Notices.begin(), news.Notices.end());
    }
    const std::string error = writer.Stats().LastError;
    writer.Close();
    SetDayFileWriteHook({});

    // One data stream and the state-of-health streams: one report each, and one end each.
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.size(), notices.size());
    for (const std::string& report : reports) {
        EXPECT_NE(report.find("Input/output error"), std::string::npos) << report;
    }
    for (const std::string& notice : notices) {
        EXPECT_NE(notice.find("again"), std::string::npos) << notice;
    }
    EXPECT_NE(error.find("Input/output error"), std::string::npos) << error;
}

// A day file removed or moved away while open: the next record goes to a new file under its
// name, and the log says so; nothing after it is lost.
TEST_F(SdsWriterTest, ADayFileRemovedOrMovedWhileOpenIsOpenedAnew) {
    settings_.Soh = false;
    settings_.FlushSeconds = 5;
    const int64_t start = At(2025, 3, 1, 10, 0, 0);
    const fs::path file = root_ / "2025/XX/2345/HHZ.D/XX.2345..HHZ.D.2025.060";
    for (const bool moved : {false, true}) {
        SCOPED_TRACE(moved ? "moved" : "removed");
        fs::remove_all(root_);
        TFeeder feeder;
        TSdsWriter writer(settings_);
        for (int64_t t = start; t < start + 20; ++t) {
            writer.Take(feeder.Block(t, 1, 100));
        }
        writer.Flush();
        const size_t before = ReadMseedFile(file.string()).Samples().size();
        ASSERT_GT(before, 0u);
        if (moved) {
            fs::rename(file, root_ / "elsewhere");
        } else {
            fs::remove(file);
        }
        for (int64_t t = start + 20; t < start + 40; ++t) {
            writer.Take(feeder.Block(t, 1, 100));
        }
        writer.Close();
        const TRecordingNews news = writer.TakeNews();
        ASSERT_EQ(news.Notices.size(), 1u);
        EXPECT_NE(news.Notices[0].find("removed or moved away while open"), std::string::npos);
        const TMseedFile after = ReadMseedFile(file.string());
        ASSERT_TRUE(after.Ok) << after.Error;
        EXPECT_EQ(after.Samples().size(), 4000u - before);
        EXPECT_EQ(after.Samples().back(), 3999);
        if (moved) {
            EXPECT_EQ(ReadMseedFile((root_ / "elsewhere").string()).Samples().size(), before);
        }
    }
}

// Whole day files go, oldest day first across all streams, never the day being written: by
// age (KeepDays), and while the disk is short of space (MinFreePercent); each is counted and
// logged.
TEST_F(SdsWriterTest, OldDayFilesAreRemovedOldestFirstNeverToday) {
    settings_.Soh = false;
    settings_.FlushSeconds = 5;
    struct TRow {
        int KeepDays, MinFreePercent;
        std::vector<int> Kept;  // days of year left of 55 to 61 (60 is written, 61 is ahead)
    };
    const TRow rows[] = {
        {0, 0, {55, 56, 57, 58, 59, 60, 61}},
        {2, 0, {58, 59, 60, 61}},
        {0, 99, {60, 61}},  // short of space: every day before today goes
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(std::to_string(row.KeepDays) + " days, " + std::to_string(row.MinFreePercent) +
                     " %");
        fs::remove_all(root_);
        // The spans picture knows a minute of every day file; the removed days leave it.
        const auto spans = std::make_shared<TArchiveSpans>();
        settings_.Spans = spans;
        const int64_t newYear = At(2025, 1, 1, 0, 0, 0) * 1000000;
        for (int day = 55; day <= 61; ++day) {
            for (const char* cha : {"HHZ", "HHN"}) {
                const int64_t dayStart = newYear + int64_t{day - 1} * 86400 * 1000000;
                spans->Add(TStreamKey{"XX", "2345", "", cha}, dayStart, dayStart + 60000000, 100,
                           0);
                const fs::path f =
                    root_ / "2025/XX/2345" / (std::string(cha) + ".D") /
                    ("XX.2345.." + std::string(cha) + ".D.2025.0" + std::to_string(day));
                fs::create_directories(f.parent_path());
                std::ofstream(f) << "x";
            }
        }
        settings_.KeepDays = row.KeepDays;
        settings_.MinFreePercent = row.MinFreePercent;
        TSdsWriter writer(settings_);
        TFeeder feeder;
        const int64_t start = At(2025, 3, 1, 10, 0, 0);  // day 60
        for (int64_t t = start; t < start + 12; ++t) {
            writer.Take(feeder.Block(t, 2, 100));
        }
        writer.Close();
        std::vector<int> kept;
        for (int day = 55; day <= 61; ++day) {
            const std::string suffix = ".2025.0" + std::to_string(day);
            const bool z = fs::exists(root_ / "2025/XX/2345/HHZ.D" / ("XX.2345..HHZ.D" + suffix));
            const bool n = fs::exists(root_ / "2025/XX/2345/HHN.D" / ("XX.2345..HHN.D" + suffix));
            EXPECT_EQ(z, n) << "whole days, all streams: " << suffix;
            if (z) {
                kept.push_back(day);
            }
        }
        EXPECT_EQ(kept, row.Kept);
        std::set<int> spanDays;
        for (const TStreamSpans& stream :
             spans->Select([](const TStreamKey&) { return true; }, INT64_MIN, INT64_MAX)) {
            for (const TDataSpan& span : stream.Spans) {
                spanDays.insert(int((span.Start - newYear) / (int64_t{86400} * 1000000)) + 1);
            }
        }
        EXPECT_EQ(std::vector<int>(spanDays.begin(), spanDays.end()), row.Kept);
        const int64_t removed = int64_t(2 * (7 - row.Kept.size()));
        EXPECT_EQ(writer.Stats().FilesRemoved, removed);
        const TRecordingNews news = writer.TakeNews();
        EXPECT_EQ(
            int64_t(std::count_if(news.Notices.begin(), news.Notices.end(),
                                  [](const std::string& n) { return n.starts_with("removed "); })),
            removed);
        EXPECT_EQ(ReadMseedFile((root_ / "2025/XX/2345/HHZ.D/XX.2345..HHZ.D.2025.060").string())
                      .Samples()
                      .size(),
                  1200u);
    }
}

TEST_F(SdsWriterTest, TwoSensorsUnderTwoLocationsAndTheTimingQualityOfEveryRecord) {
    // A broadband sensor on channels 1 to 3, an accelerometer on 4 to 6 under location 10;
    // the GPS locked, then lost for ten minutes, then back.
    settings_.RecordLength = 512;
    settings_.Location = "00";
    settings_.ChannelCodes = {"HHZ", "HHN", "HHE", "10.HNZ", "10.HNN", "10.HNE"};
    TSdsWriter writer(settings_);
    TFeeder feeder;
    const int64_t start = At(2025, 3, 1, 0, 0, 0);
    // The quality each block's samples were taken with, by its time.
    std::map<int64_t, int> quality;
    for (int64_t t = start; t < start + 900; ++t) {
        const bool lost = t >= start + 100 && t < start + 700;
        TRecordBlock block = feeder.Block(t, 6, 20, !lost);
        block.Soh.GpsFix = lost ? 0 : 1;
        block.Soh.GpsFixAge = lost ? int32_t(t - (start + 99)) : 0;
        quality[t] = lost ? std::max(10, 90 - int(t - (start + 99)) / 60) : 100;
        writer.Take(block);
    }
    writer.Close();

    const auto files = Files();
    std::set<std::string> streams;
    for (const auto& [name, file] : files) {
        ASSERT_TRUE(file.Ok) << name << ": " << file.Error;
        EXPECT_EQ(file.Log, std::vector<std::string>{}) << name;
        for (const TMseedRecord& r : file.Records) {
            streams.insert(r.Location + "." + r.Channel);
            // The lowest quality of the blocks whose samples the record holds.
            const int64_t first = r.StartMicroseconds / 1000000;
            const int64_t last =
                (r.StartMicroseconds + (r.SampleCount - 1) * 1000000 / int64_t(r.SampleRate)) /
                1000000;
            int lowest = 100;
            for (int64_t t = first; t <= last; ++t) {
                lowest = std::min(lowest, quality.at(t));
            }
            EXPECT_EQ(r.TimingQuality, lowest) << name << " record " << r.Sequence;
            EXPECT_EQ(r.IoFlags & SeedClockLocked, lowest == 100 ? SeedClockLocked : 0)
                << name << " record " << r.Sequence;
        }
    }
    // Band B by the rate of 20 per second; the state of health under the station's location.
    EXPECT_EQ(streams,
              (std::set<std::string>{"00.BHZ", "00.BHN", "00.BHE", "10.BNZ", "10.BNN", "10.BNE",
                                     "00.LEV", "00.LEC", "00.LKS", "00.LCS", "00.LCF"}));
    EXPECT_TRUE(files.count("2025/XX/2345/BNE.D/XX.2345.10.BNE.D.2025.060"));
    // Every quality from 100 down to the floor shows somewhere.
    const TMseedFile& z = files.at("2025/XX/2345/BHZ.D/XX.2345.00.BHZ.D.2025.060");
    std::set<int> seen;
    for (const TMseedRecord& r : z.Records) {
        seen.insert(r.TimingQuality);
    }
    EXPECT_TRUE(seen.count(100) && seen.count(90) && seen.count(81));
}
