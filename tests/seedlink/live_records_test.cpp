// Live records against the archive: the same blocks through TLiveRecords and the SDS writer
// give the same streams with the same codes and the same samples at the same times (read back
// with libmseed), a rate change and a gap in the block times start new series cleanly, and
// --seedlink-flush hands on partial records after that much data time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "recording/live_records.h"
#include "recording/sds_writer.h"
#include "support/mseed_read.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t Start = 1735689570;  // 2024-12-31 23:59:30

// A block of `channels` channels at `rate` with counter samples (channel c from 1000 c on,
// running on from `first`), with the enhanced header's module temperatures.
TRecordBlock Block(int64_t time, int channels, int rate, int64_t first) {
    TRecordBlock block;
    block.Time = time;
    block.ClockLocked = true;
    block.ChannelCount = channels;
    block.SampleRate = rate;
    block.BytesPerSample = 3;
    block.SamplesPerBlock = rate;
    block.SerialNumber = "00012345";
    block.Soh.SupplyMillivolts = 12000 + int(time % 7);
    block.Soh.HasModuleTemperatures = true;
    block.Soh.ModuleDeciCelsius[2] = 215;
    for (int c = 0; c < channels; ++c) {
        for (int i = 0; i < rate; ++i) {
            block.Samples[size_t(c)].push_back(int32_t(1000 * c + first + i) * 256);
        }
    }
    return block;
}

using TSamples = std::vector<std::pair<int64_t, int32_t>>;

// Samples per NET.STA.LOC.CHA of the records in `path`, read with libmseed.
std::map<std::string, TSamples> Read(const std::string& path) {
    const TMseedFile file = ReadMseedFile(path);
    EXPECT_TRUE(file.Ok) << path << ": " << file.Error;
    EXPECT_EQ(file.Log, std::vector<std::string>{}) << path;
    std::map<std::string, TSamples> samples;
    for (const TMseedRecord& r : file.Records) {
        const std::string id = r.Network + "." + r.Station + "." + r.Location + "." + r.Channel;
        for (size_t i = 0; i < r.Samples.size(); ++i) {
            samples[id].push_back(
                {r.StartMicroseconds + int64_t(double(i) * 1e6 / r.SampleRate), r.Samples[i]});
        }
    }
    return samples;
}

class LiveRecords : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("live_records_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The blocks through both; the live records into one file (each checked on the way), the
    // archive's files into one map.
    void Run(const std::vector<TRecordBlock>& blocks, const TLiveSettings& live) {
        TSdsSettings sds;
        sds.Root = (dir_ / "archive").string();
        sds.Network = live.Network;
        sds.Station = live.Station;
        sds.Location = live.Location;
        sds.ChannelCodes = live.ChannelCodes;
        sds.Soh = live.Soh;
        sds.RecordLength = 512;
        std::string bytes;
        {
            TSdsWriter writer(sds);
            TLiveRecords records(live, [&](TLiveRecord record) {
                ASSERT_EQ(record.Bytes.size(), 512u);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.Bytes.data()) + 15, 3),
                          record.Channel);
                EXPECT_LE(record.Start, record.End);
                made_.push_back(record);
                bytes.append(reinterpret_cast<const char*>(record.Bytes.data()), 512);
            });
            for (const TRecordBlock& block : blocks) {
                writer.Take(block);
                records.Take(block);
            }
            records.EndAll();
        }
        std::ofstream((dir_ / "live").string(), std::ios::binary) << bytes;
        live_ = Read((dir_ / "live").string());
        for (const auto& entry : fs::recursive_directory_iterator(dir_ / "archive")) {
            if (entry.is_regular_file()) {
                for (auto& [id, samples] : Read(entry.path().string())) {
                    auto& all = archive_[id];
                    all.insert(all.end(), samples.begin(), samples.end());
                }
            }
        }
        for (auto& entry : archive_) {
            std::sort(entry.second.begin(), entry.second.end());
        }
    }

    fs::path dir_;
    std::vector<TLiveRecord> made_;
    std::map<std::string, TSamples> live_, archive_;
};

}  // namespace

TEST_F(LiveRecords, TheArchivesStreamsAndSamplesAcrossARateChangeAndAGap) {
    std::vector<TRecordBlock> blocks;
    int64_t first = 0;
    for (int64_t t = Start; t < Start + 40; ++t, first += 100) {
        blocks.push_back(Block(t, 3, 100, first));
    }
    // The rate changes: new codes from the block on.
    for (int64_t t = Start + 40; t < Start + 60; ++t, first += 50) {
        blocks.push_back(Block(t, 3, 50, first));
    }
    // Ten seconds missing.
    for (int64_t t = Start + 70; t < Start + 90; ++t, first += 50) {
        blocks.push_back(Block(t, 3, 50, first));
    }
    TLiveSettings settings;
    settings.Network = "XY";
    settings.Location = "00";
    settings.ChannelCodes[1] = "SHN";
    Run(blocks, settings);

    // The same streams, codes and samples as the archive, the station from the serial number.
    std::set<std::string> liveIds, archiveIds;
    for (const auto& entry : live_) {
        liveIds.insert(entry.first);
    }
    for (const auto& entry : archive_) {
        archiveIds.insert(entry.first);
    }
    EXPECT_EQ(liveIds, archiveIds);
    for (const char* id : {"XY.2345.00.HHZ", "XY.2345.00.SHN", "XY.2345.00.BHE", "XY.2345.00.LK3",
                           "XY.2345.00.LEV", "XY.2345.00.LCF"}) {
        EXPECT_TRUE(liveIds.count(id)) << id;
    }
    for (const auto& [id, samples] : archive_) {
        EXPECT_TRUE(live_[id] == samples) << id;
    }
    // Records of one stream follow each other in time; the gap and the rate change each start
    // a record at the block's time.
    std::map<std::string, std::vector<const TLiveRecord*>> byStream;
    for (const TLiveRecord& record : made_) {
        byStream[record.Channel].push_back(&record);
    }
    for (const auto& [channel, records] : byStream) {
        for (size_t k = 1; k < records.size(); ++k) {
            EXPECT_LT(records[k - 1]->End, records[k]->Start) << channel << " record " << k;
        }
    }
    const auto starts = [&](const std::string& channel, int64_t second) {
        for (const TLiveRecord* record : byStream[channel]) {
            if (record->Start == TSeedTime{second, 0}) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(starts("BHZ", Start + 40)) << "the new rate's series begins at its block";
    EXPECT_TRUE(starts("BHZ", Start + 70)) << "a series begins after the gap";
    EXPECT_TRUE(starts("LEV", Start + 70));
    EXPECT_EQ(byStream["HHZ"].back()->End.Seconds, Start + 39) << "ended at the rate change";
}

TEST_F(LiveRecords, FlushHandsOnPartialRecordsAfterItsDataTime) {
    std::vector<TRecordBlock> blocks;
    for (int64_t t = Start; t < Start + 20; ++t) {
        blocks.push_back(Block(t, 1, 20, (t - Start) * 20));
    }
    TLiveSettings settings;
    settings.FlushSeconds = 0;
    Run(blocks, settings);
    // Only full records until the end: the state of health (20 samples) in one record each.
    EXPECT_EQ(live_["XX.2345..LEV"].size(), 20u);
    size_t lev = 0;
    for (const TLiveRecord& record : made_) {
        lev += record.Channel == "LEV" ? 1 : 0;
    }
    EXPECT_EQ(lev, 1u);

    made_.clear();
    live_.clear();
    archive_.clear();
    fs::remove_all(dir_ / "archive");
    settings.FlushSeconds = 5;
    Run(blocks, settings);
    std::vector<int64_t> levStarts;
    for (const TLiveRecord& record : made_) {
        if (record.Channel == "LEV") {
            levStarts.push_back(record.Start.Seconds - Start);
        }
    }
    // Handed on with the blocks 5, 10 and 15 s after the first (each its own sample too), and
    // at the end.
    EXPECT_EQ(levStarts, (std::vector<int64_t>{0, 6, 11, 16})) << "every 5 s of data";
    EXPECT_TRUE(live_["XX.2345..LEV"] == archive_["XX.2345..LEV"]);
    EXPECT_TRUE(live_["XX.2345..HHZ"] == archive_["XX.2345..HHZ"]);
}
