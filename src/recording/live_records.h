// Records for live delivery, made from the blocks as they come: every data channel and every
// state-of-health reading its own stream of 512-byte miniSEED records (big-endian, Steim-1,
// blockette 1000), named with the same codes as the archive's streams. A record is handed on
// as soon as it is full; with FlushSeconds the partial records of every stream are handed on
// too, each time that much data time has passed, so that a client sees the data sooner. A
// series runs on while every block follows the one before by one second and the format
// stays; otherwise it ends with a partial record and a new one begins at the block's time.
// Runs on the thread that receives the blocks; the sink must not wait.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "recording/live_record.h"
#include "recording/record_block.h"
#include "recording/stream_codes.h"
#include "seedfile/mseed_series.h"

struct TLiveSettings {
    std::string Network = "XX";
    std::string Station;  // empty: from the unit's serial number
    std::string Location;
    // As the archive's (TSdsSettings::ChannelCodes).
    std::array<std::string, MaxChannels> ChannelCodes;
    bool Soh = true;       // the state-of-health streams
    int FlushSeconds = 0;  // 0: full records only

    bool operator==(const TLiveSettings&) const = default;
};

class TLiveRecords {
  public:
    using TSink = std::function<void(TLiveRecord)>;
    static constexpr size_t RecordLength = 512;

    TLiveRecords(TLiveSettings settings, TSink sink);
    TLiveRecords(const TLiveRecords&) = delete;
    TLiveRecords& operator=(const TLiveRecords&) = delete;

    // Settings for the next block; every series ends first when they change.
    void Configure(const TLiveSettings& settings);
    // One block, in order; those without samples too.
    void Take(const TRecordBlock& block);
    // Every partial record handed on now; the series run on.
    void Flush();
    // Every series ended (its partial record handed on), as at the end of the recording.
    void EndAll();

    int64_t RecordsMade() const { return records_; }

  private:
    struct TStream {
        TSeedCodes Codes;
        bool Soh = false;
        std::optional<TMseedSeries> Series;
        int NextSequence = 1;
    };
    struct TFormat {
        int ChannelCount = 0;
        double SampleRate = 0;
        int BytesPerSample = 0;
        std::string Station;
        bool operator==(const TFormat&) const = default;
    };

    TStream& StreamFor(const std::string& station, const TStreamCode& code, bool soh);
    void Append(TStream& stream, std::span<const int32_t> samples, int64_t start, double rate,
                uint8_t flags, int quality);
    void EndSeries(TStream& stream);
    void Hand(const TSeriesRecord& record);

    TLiveSettings settings_;
    TSink sink_;
    std::map<std::string, TStream> streams_;  // by NET.STA.LOC.CHA
    std::optional<TFormat> format_;
    bool haveLast_ = false;
    int64_t lastTime_ = 0;
    int64_t lastFlush_ = 0;
    int64_t records_ = 0;
    std::vector<int32_t> scaled_;
};
