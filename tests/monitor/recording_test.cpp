// Recording in the model: the cut rules of each file period, flushes at Start, Stop, a format
// change and the end (each list written with the format it was recorded under), the station
// from the serial number, and a base directory that cannot be written. Every file is read
// back with libmseed.
#include "recording/period_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "monitor/monitor_model.h"
#include "support/blocks.h"
#include "support/mseed_read.h"

namespace fs = std::filesystem;

namespace {

TBlockTime At(int hour, int minute, int second) {
    return *TBlockTime::FromCivil(2024, 2, 29, hour, minute, second);
}

struct TFileSeen {
    std::string Name;  // below the base directory
    TMseedFile File;
};

class RecordingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() /
                ("recording_test_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        settings_.Enable = 1;
        settings_.BaseDir = base_.string();
        settings_.Station = "STATN";
        settings_.Location = "LO";
        settings_.Network = "NK";
    }
    void TearDown() override { fs::remove_all(base_); }

    void Start(TBlockTime now) {
        now_ = now;
        model_ = std::make_unique<TMonitorModel>(settings_, TNumberSeparators{},
                                                 [this] { return now_; });
    }

    // One block of the shape's format; channel c's sample k (counting every sample of the
    // channel fed so far) is 1000 * c + k converter counts.
    TBlockOutcome Feed(TBlockShape shape = {}) {
        shape.BlockCount = ++blockCount_;
        std::array<int64_t, MaxChannels> first = fed_;
        shape.Counts = [first](int c, int j) { return int32_t(1000 * c + first[size_t(c)] + j); };
        for (int c = 0; c < shape.Channels; ++c) {
            fed_[size_t(c)] += shape.Rate;
        }
        TBlockOutcome outcome = model_->ProcessBlock(*MakeOwnedBlock(shape), 19200);
        Collect(outcome);
        return outcome;
    }
    // What the block's recording had to say, once the recorder's thread has done it.
    void Collect(const TBlockOutcome& outcome) {
        TRecordingNews news = News();
        for (auto& r : outcome.Reports) {
            reports_.push_back(r);
        }
        for (auto& r : news.Reports) {
            reports_.push_back(r);
        }
        for (auto& n : outcome.Notices) {
            notices_.push_back(n);
        }
        for (auto& n : news.Notices) {
            notices_.push_back(n);
        }
    }
    // Stop or the end: the pending files written, on the recorder's thread.
    void FlushDataFiles() {
        model_->FlushDataFiles();
        model_->WaitForRecorder();
    }
    TRecordingNews News() {
        model_->WaitForRecorder();
        return model_->TakeRecordingNews();
    }
    const TPeriodFiles& Recorder() {
        model_->WaitForRecorder();
        return *model_->Recorder().PeriodFiles();
    }
    void FeedFor(int blocks, const TBlockShape& shape = {}) {
        for (int i = 0; i < blocks; ++i) {
            Feed(shape);
        }
    }
    TBlockTime BlockTime() const { return model_->BlockTime(); }

    // The files under the base directory, in name order, each read with libmseed.
    std::vector<TFileSeen> Files() const {
        model_->WaitForRecorder();
        std::vector<TFileSeen> files;
        if (!fs::exists(base_)) {
            return files;
        }
        for (const auto& entry : fs::recursive_directory_iterator(base_)) {
            if (entry.is_regular_file()) {
                files.push_back({fs::relative(entry.path(), base_).string(),
                                 ReadMseedFile(entry.path().string())});
            }
        }
        std::sort(files.begin(), files.end(),
                  [](const TFileSeen& a, const TFileSeen& b) { return a.Name < b.Name; });
        return files;
    }
    std::vector<std::string> Names(const std::string& channel) const {
        std::vector<std::string> names;
        for (const TFileSeen& f : Files()) {
            if (f.Name.ends_with(channel)) {
                names.push_back(f.Name);
            }
        }
        return names;
    }
    // Every file of the channel is whole (no libmseed message, one segment), and together,
    // in name order, they hold 1000 * c + k for k from `first` on, each once.
    void ExpectEverySampleOnce(int channel, int64_t first, int64_t count, int bytes = 3) const {
        std::vector<int32_t> all;
        for (const TFileSeen& f : Files()) {
            if (!f.Name.ends_with(ChannelCode(channel))) {
                continue;
            }
            EXPECT_TRUE(f.File.Ok) << f.Name;
            EXPECT_EQ(f.File.Log, std::vector<std::string>{}) << f.Name;
            EXPECT_EQ(f.File.Segments, 1) << f.Name;
            const auto samples = f.File.Samples();
            all.insert(all.end(), samples.begin(), samples.end());
        }
        ASSERT_EQ(int64_t(all.size()), count) << ChannelCode(channel);
        const int32_t scale = bytes == 4 ? 1 : 1 << (8 * (3 - bytes));
        for (int64_t k = 0; k < count; ++k) {
            ASSERT_EQ(all[size_t(k)], int32_t(1000 * channel + first + k) * scale)
                << ChannelCode(channel) << " sample " << k;
        }
    }

    fs::path base_;
    TSettings settings_;
    TBlockTime now_;
    std::unique_ptr<TMonitorModel> model_;
    uint32_t blockCount_ = 0;
    std::array<int64_t, MaxChannels> fed_{};
    std::vector<std::string> reports_;
    std::vector<std::string> notices_;
};

}  // namespace

TEST(RecordingList, GrowsChunkByChunkAndShowsItsChunksAsOneList) {
    TRecordingList list;
    const size_t count = 3 * TRecordingList::ChunkSize + 17;
    for (size_t i = 0; i < count; ++i) {
        ASSERT_TRUE(list.Append(int32_t(i * 7)));
    }
    ASSERT_EQ(list.Size(), count);
    const TSampleView view = list.View();
    ASSERT_EQ(view.Size(), count);
    for (size_t i : {size_t{0}, TRecordingList::ChunkSize - 1, TRecordingList::ChunkSize,
                     2 * TRecordingList::ChunkSize, count - 1}) {
        EXPECT_EQ(list[i], int32_t(i * 7));
        EXPECT_EQ(view[i], int32_t(i * 7));
    }
    list.Clear();
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(list.View().Size(), 0u);
}

TEST_F(RecordingTest, FirstFileFromTheFirstBlockThenAtTheMultiplesOfTheDuration) {
    settings_.DurationMinutes = 5;
    Start(At(10, 3, 27));
    const TBlockShape shape{.Channels = 2, .Rate = 10};
    // 10:03:27 up to 10:04:59: nothing due yet.
    FeedFor(93, shape);
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(Recorder().FileStartTime(), At(10, 3, 27).Seconds);
    // The block of 10:05:00 writes both channels' files and starts the next period.
    Feed(shape);
    EXPECT_EQ(BlockTime(), At(10, 5, 0));
    EXPECT_EQ(Names("P_0"), std::vector<std::string>{"060/STATN.NK.LO.2024.060.100327.P_0"});
    EXPECT_EQ(Names("P_1"), std::vector<std::string>{"060/STATN.NK.LO.2024.060.100327.P_1"});
    EXPECT_EQ(Recorder().FileStartTime(), At(10, 5, 0).Seconds);
    EXPECT_EQ(Recorder().RecordingLists()[0].Size(), 10u);
    // 10:05:01 to 10:10:00: the next file is due at 10:10:00 and holds 300 seconds.
    FeedFor(300, shape);
    EXPECT_EQ(BlockTime(), At(10, 10, 0));
    EXPECT_EQ(Names("P_1"), (std::vector<std::string>{"060/STATN.NK.LO.2024.060.100327.P_1",
                                                      "060/STATN.NK.LO.2024.060.100500.P_1"}));
    const TMseedFile second =
        ReadMseedFile((base_ / "060/STATN.NK.LO.2024.060.100500.P_1").string());
    EXPECT_EQ(second.Samples().size(), 3000u);
    EXPECT_EQ(second.Records.front().StartMicroseconds, At(10, 5, 0).Seconds * 1000000);
    EXPECT_TRUE(reports_.empty());
    EXPECT_TRUE(notices_.empty());
    // Stop: the rest goes out, named with its first block's time.
    FlushDataFiles();
    EXPECT_EQ(Names("P_0").back(), "060/STATN.NK.LO.2024.060.101000.P_0");
    for (int c = 0; c < 2; ++c) {
        ExpectEverySampleOnce(c, 0, 394 * 10);
    }
}

TEST_F(RecordingTest, SevenMinutePeriodsEndAtTheHour) {
    settings_.DurationMinutes = 7;
    Start(At(10, 49, 30));
    const TBlockShape shape{.Channels = 1, .Rate = 1};
    // 10:49:30 to 11:07:00 inclusive.
    FeedFor(17 * 60 + 31, shape);
    EXPECT_EQ(BlockTime(), At(11, 7, 0));
    EXPECT_EQ(Names("P_0"), (std::vector<std::string>{"060/STATN.NK.LO.2024.060.104930.P_0",
                                                      "060/STATN.NK.LO.2024.060.105600.P_0",
                                                      "060/STATN.NK.LO.2024.060.110000.P_0"}));
    const auto files = Files();
    EXPECT_EQ(files[0].File.Samples().size(), 390u);  // 10:49:30 to 10:55:59
    EXPECT_EQ(files[1].File.Samples().size(), 240u);  // 10:56:00 to 10:59:59
    EXPECT_EQ(files[2].File.Samples().size(), 420u);  // 11:00:00 to 11:06:59
    FlushDataFiles();
    ExpectEverySampleOnce(0, 0, 17 * 60 + 31);
}

TEST_F(RecordingTest, AtOneSampleInTenSecondsTheSampleCountCutsTheFile) {
    settings_.DurationMinutes = 1;
    Start(At(10, 0, 5));
    // One channel at 0.1 samples per second: blocks with one sample or none.
    const auto feed = [this](bool sample) {
        TBlockShape shape{.Channels = 1, .Rate = sample ? 1 : 0};
        shape.BlockCount = ++blockCount_;
        const int64_t k = fed_[0];
        shape.Counts = [k](int, int) { return int32_t(k); };
        fed_[0] += shape.Rate;
        TDataBlock* block = MakeBlock(shape);
        block->Header->TotalRate = -10;
        TBlockOutcome outcome = model_->ProcessBlock(*block, 19200);
        FreeBlock(block);
        Collect(outcome);
        return outcome;
    };
    for (int i = 0; i < 6; ++i) {
        feed(true);
        feed(false);  // passed over: no due test, no start time
    }
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(Recorder().RecordingLists()[0].Size(), 6u);
    feed(true);  // 6 + 1 > 6: the file of six samples is due
    const auto files = Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].Name, "060/STATN.NK.LO.2024.060.100005.P_0");
    EXPECT_EQ(files[0].File.Samples(), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(files[0].File.Records[0].SampleRate, 0.1);
    EXPECT_EQ(files[0].File.Records[0].SampleRateMultiplier, -10);
    EXPECT_EQ(Recorder().FileStartTime(), At(10, 0, 17).Seconds);
}

TEST_F(RecordingTest, AFormatChangeWritesThePendingListsAsTheyWereRecorded) {
    settings_.DurationMinutes = 60;
    settings_.UseSerialNumber = 1;
    Start(At(12, 0, 0));
    // 90 seconds of three channels, 100 per second, 3 bytes, serial number 00012345.
    FeedFor(90, {.Channels = 3, .Rate = 100});
    EXPECT_EQ(model_->Settings().Station, "00012345");
    EXPECT_TRUE(Files().empty());
    // Another rate, width and serial number: the pending files keep 100 per second, 3 bytes
    // and the station they were recorded for; the new station is safe for file names.
    TBlockShape next{.Channels = 2, .Rate = 200, .BytesPerSample = 2, .SerialNumber = "../x/.."};
    now_ = At(12, 1, 30);  // another unit (serial number): the block time comes from the clock
    Feed(next);
    EXPECT_EQ(model_->Settings().Station, "___x___");
    auto files = Files();
    ASSERT_EQ(files.size(), 3u);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(files[size_t(c)].Name, "060/00012345.NK.LO.2024.060.120000." + ChannelCode(c));
        EXPECT_EQ(files[size_t(c)].File.Records[0].SampleRate, 100);
        EXPECT_EQ(files[size_t(c)].File.Records[0].Station, "00012");
        ExpectEverySampleOnce(c, 0, 9000);
    }
    // The new format's files: 2-byte samples on the 24-bit scale, 200 per second.
    FeedFor(9, next);
    FlushDataFiles();
    const auto names = Names("P_0");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], "060/___x___.NK.LO.2024.060.120130.P_0");
    const TMseedFile second = ReadMseedFile((base_ / names[1]).string());
    EXPECT_EQ(second.Records[0].SampleRate, 200);
    EXPECT_EQ(second.Samples().size(), 2000u);
    EXPECT_EQ(second.Samples()[0], int32_t(9000 * 256));
    EXPECT_TRUE(fs::exists(base_ / "060" / "00012345.NK.LO.2024.060.120000.P_2"));
    EXPECT_FALSE(fs::exists(base_ / "060" / "___x___.NK.LO.2024.060.120130.P_2"))
        << "a channel beyond the count is not recorded";
}

TEST_F(RecordingTest, StartAndTheEndWriteWhatIsPendingAndDisabledRecordsNothing) {
    settings_.DurationMinutes = 60;
    Start(At(12, 0, 0));
    FeedFor(90, {.Channels = 1, .Rate = 10});
    // Start after half an hour stopped: the unit counted on meanwhile, and its count times
    // the next block.
    model_->Restart();
    model_->WaitForRecorder();
    EXPECT_EQ(Names("P_0"), std::vector<std::string>{"060/STATN.NK.LO.2024.060.120000.P_0"});
    EXPECT_TRUE(Recorder().RecordingLists()[0].Empty());
    blockCount_ += 30 * 60 - 89;
    FeedFor(5, {.Channels = 1, .Rate = 10});
    FlushDataFiles();
    EXPECT_EQ(Names("P_0").back(), "060/STATN.NK.LO.2024.060.123001.P_0");
    EXPECT_TRUE(News().Empty());
    // Started again with a unit that counts again from the same number (a power cycle) in the
    // same second of the computer's clock: the name is taken, the file gets ".1", and
    // standard error hears of it.
    model_->Restart();
    model_->WaitForRecorder();
    now_ = At(12, 30, 1);
    blockCount_ -= 5;
    FeedFor(5, {.Channels = 1, .Rate = 10});
    FlushDataFiles();
    EXPECT_TRUE(fs::exists(base_ / "060" / "STATN.NK.LO.2024.060.123001.P_0.1"));
    const TRecordingNews clash = News();
    ASSERT_EQ(clash.Notices.size(), 1u);
    EXPECT_NE(clash.Notices[0].find("123001.P_0.1"), std::string::npos);
    EXPECT_TRUE(clash.Reports.empty());

    fs::remove_all(base_);
    settings_.Enable = 0;
    Start(At(13, 0, 0));
    FeedFor(70, {.Channels = 1, .Rate = 10});
    FlushDataFiles();
    EXPECT_FALSE(fs::exists(base_));
    EXPECT_TRUE(Recorder().RecordingLists()[0].Empty());
}

TEST_F(RecordingTest, AnUnwritableBaseDirectoryIsReportedOnceAndRecordingResumes) {
    // A base directory under a plain file cannot be made (even by root).
    fs::create_directories(base_);
    const fs::path blocker = base_ / "blocker";
    std::ofstream(blocker) << "x";
    settings_.BaseDir = (blocker / "data").string();
    settings_.DurationMinutes = 1;
    Start(At(9, 0, 30));
    const TBlockShape shape{.Channels = 3, .Rate = 10};
    // Three periods cut, three channels each: nine files lost, one report.
    FeedFor(30 + 60 + 60 + 1, shape);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_NE(reports_[0].find((blocker / "data" / "060").string()), std::string::npos)
        << reports_[0];
    EXPECT_NE(reports_[0].find("Not a directory"), std::string::npos) << reports_[0];
    EXPECT_TRUE(notices_.empty());
    EXPECT_TRUE(Recorder().Failing());

    // The way is cleared: the next period's files are written, and the end of the streak
    // is told on standard error.
    fs::remove(blocker);
    FeedFor(60, shape);
    EXPECT_EQ(reports_.size(), 1u);
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_NE(notices_[0].find("9 could not be written"), std::string::npos) << notices_[0];
    EXPECT_FALSE(Recorder().Failing());
    EXPECT_EQ(Names("P_2"),
              std::vector<std::string>{"blocker/data/060/STATN.NK.LO.2024.060.090300.P_2"});

    // A second streak is reported again, at Stop too.
    fs::remove_all(base_ / "blocker");
    std::ofstream(blocker) << "x";
    FlushDataFiles();
    const TRecordingNews news = News();
    EXPECT_EQ(news.Reports.size(), 1u);
}

TEST_F(RecordingTest, LostFramesEndTheFileSoThatEveryRecordStartsAtItsTrueTime) {
    // Blocks timed by GPS, some of them lost on the way (damaged frames, a silence): each
    // break ends the files, and the next ones begin at their own first block's time.
    settings_.DurationMinutes = 60;
    Start(At(11, 0, 0));
    const TBlockShape shape{.Channels = 2, .Rate = 50};
    const auto feed = [&](int second, bool lost) {
        const TBlockTime t = At(12, 0, 0) + second;
        TBlockShape s = shape;
        s.BlockCount = ++blockCount_;
        const std::array<int64_t, MaxChannels> first = fed_;
        s.Counts = [first](int c, int j) { return int32_t(1000 * c + first[size_t(c)] + j); };
        for (int c = 0; c < s.Channels; ++c) {
            fed_[size_t(c)] += s.Rate;
        }
        if (lost) {
            return;
        }
        TBlockPtr block = MakeOwnedBlock(s);
        const TCivilTime civil = t.Civil();
        TGpsInfo& gps = *block->Gps;
        gps.Present = 1;
        gps.Year = int16_t(civil.Year);
        gps.Month = int16_t(civil.Month);
        gps.Day = int16_t(civil.Day);
        gps.Hour = int16_t(civil.Hour);
        gps.Minute = int16_t(civil.Minute);
        gps.Second = int16_t(civil.Second);
        block->Header->LastValidGpsBlock = int32_t(s.BlockCount);
        Collect(model_->ProcessBlock(*block, 19200));
    };
    const std::set<int> lost = {20, 41, 42, 43, 90};
    for (int second = 0; second < 120; ++second) {
        feed(second, lost.count(second) != 0);
    }
    FlushDataFiles();
    EXPECT_EQ(Names("P_1"),
              (std::vector<std::string>{
                  "060/STATN.NK.LO.2024.060.120000.P_1", "060/STATN.NK.LO.2024.060.120021.P_1",
                  "060/STATN.NK.LO.2024.060.120044.P_1", "060/STATN.NK.LO.2024.060.120131.P_1"}));
    // Sample k of the channel was taken at 12:00:00 + k / 50 s: every record starts there.
    for (const TFileSeen& f : Files()) {
        EXPECT_EQ(f.File.Log, std::vector<std::string>{}) << f.Name;
        const int c = f.Name.back() - '0';
        for (const TMseedRecord& record : f.File.Records) {
            const int64_t k = record.Samples.front() - 1000 * c;
            EXPECT_EQ(record.StartMicroseconds, At(12, 0, 0).Seconds * 1000000 + k * 20000)
                << f.Name << " record " << record.Sequence;
        }
    }
    EXPECT_TRUE(reports_.empty());
}
