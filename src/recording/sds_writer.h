// The archive layout: every channel and state-of-health reading its own stream of miniSEED
// records (big-endian, Steim-1, blockette 1000), appended to one file per stream and UTC day
// as each record fills. A series runs on while every block follows the one before by one
// second and the format stays; otherwise it ends with a partial record and a new one begins at
// the block's own time, so that a gap in the data is a gap in the archive. No record spans
// midnight. Every FlushSeconds of data time the partial records are written and the files
// synced, so that a power cut loses at most that much. A record the disk does not take is held
// in memory, in order, and written as soon as it can be.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recording/archive_writer.h"
#include "recording/day_file.h"
#include "recording/recorder_settings.h"
#include "recording/stream_codes.h"
#include "seedfile/mseed_series.h"

class TSdsWriter : public TArchiveWriter {
  public:
    explicit TSdsWriter(TSdsSettings settings);
    ~TSdsWriter() override;

    // Settings for the next block: the series end first (and the files close) when anything
    // changes.
    void Configure(const TRecorderSettings& settings) override;

    void Take(const TRecordBlock& block) override;
    void Flush() override;
    void Close() override;
    size_t HeldBytes() const override { return heldBytes_; }
    int64_t DropHeld(size_t limit) override;
    int64_t DropAllHeld() override;

    // The records of state-of-health streams are this long, whatever the data's record length:
    // they are mostly partial records, written every FlushSeconds.
    static constexpr size_t SohRecordLength = 512;

  private:
    struct THeldRecord {
        std::vector<uint8_t> Bytes;
        TSeedTime Start;
        TSeedTime End;
        size_t Samples = 0;
    };
    struct TStream {
        TSeedCodes Codes;
        std::string Id;  // NET.STA.LOC.CHA
        size_t RecordLength = 4096;
        bool Soh = false;  // a state-of-health stream
        std::optional<TMseedSeries> Series;
        int NextSequence = 0;  // 0 until the stream's first file has been looked at
        TDayFile File;
        std::deque<THeldRecord> Held;
        uint64_t LastWritten = 0;  // the writer's count of records at this stream's last one
        bool SyncFailing = false;  // its file's last sync failed (reported once a streak)
    };

    TStream& StreamFor(const TStreamCode& code, bool soh);
    void Append(TStream& stream, std::span<const int32_t> samples, int64_t seriesStart, double rate,
                uint8_t flags, int quality);
    void EndSeries(TStream& stream);
    void EndAllSeries();
    void Write(TStream& stream, const TSeriesRecord& record);
    // The held records of all streams, oldest first, until the disk refuses one.
    bool WriteHeld();
    TStream* OldestHeld();
    bool WriteOne(TStream& stream, std::span<const uint8_t> bytes, TSeedTime start, TSeedTime end,
                  size_t samples);
    void Failed(const std::string& error);
    void Recovered(const std::string& path);
    void SyncFiles();
    // Removes the day files that KeepDays and MinFreePercent ask to go.
    void Prune();

    TSdsSettings settings_;
    std::map<std::string, std::unique_ptr<TStream>> streams_;  // by id

    // The data series in force: format and codes of the blocks they hold.
    struct TFormat {
        int ChannelCount = 0;
        double SampleRate = 0;
        int BytesPerSample = 0;
        std::string Station;
        bool operator==(const TFormat&) const = default;
    };
    std::optional<TFormat> format_;
    bool haveLast_ = false;
    int64_t lastTime_ = 0;
    int64_t lastFlush_ = 0;

    size_t heldBytes_ = 0;
    uint64_t recordsWritten_ = 0;
    TFailureStreak streak_;
    bool dropping_ = false;  // held records have been dropped, and that was reported
    TStreamLoss loss_;       // of the shortage going on
};
