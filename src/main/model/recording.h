// Recording, the main window's half: the six recording lists, the file start time,
// the cut rules that decide when a channel's data file is due, and the writing of the files
// with the SEED writer. Fed by TChannelModel through the TSampleRecorder hook, owned by the
// monitor model, main thread only.
//
// Each list is written with the sample rate and bytes per sample it was recorded under; a file
// that cannot be written is reported, once per failure streak, while recording goes on; existing
// files are never replaced (the writer sees to that).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "digitizer/data_block.h"
#include "main/model/block_time.h"
#include "main/model/channel_stats.h"
#include "main/model/settings.h"
#include "seedfile/seed_file.h"

// One channel's samples awaiting their data file, as the block holds them. Stored in chunks
// that never move: growing to the 10.8 million samples of an hour at 3000 samples per second
// allocates one more chunk now and then and copies nothing.
class TRecordingList {
  public:
    static constexpr size_t ChunkShift = 16;
    static constexpr size_t ChunkSize = size_t{1} << ChunkShift;  // 65536 samples, 256 KiB

    // False when no memory could be had for the sample (it is not stored).
    bool Append(int32_t sample) {
        if ((size_ & (ChunkSize - 1)) == 0 && !Grow()) {
            return false;
        }
        chunks_[size_ >> ChunkShift][size_ & (ChunkSize - 1)] = sample;
        ++size_;
        return true;
    }
    // Empties the list and frees its memory.
    void Clear();

    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    int32_t operator[](size_t index) const {
        return chunks_[index >> ChunkShift][index & (ChunkSize - 1)];
    }
    // The samples as the SEED writer takes them: one piece per chunk.
    TSampleView View() const;

  private:
    bool Grow();

    std::vector<std::unique_ptr<int32_t[]>> chunks_;
    size_t size_ = 0;
};

// What the recording step needs of the current block (block processing has set it).
struct TRecordingBlock {
    TBlockTime BlockTime;
    int ChannelCount = 0;     // 1 to 6
    int SamplesPerBlock = 0;  // per channel
    double SampleRate = 0;    // samples per second per channel
    int BytesPerSample = 0;   // 1 to 4
};

// What recording has to tell: failures for the user (a message that does not block, and
// standard error), and lines for standard error only (a file name that was taken, the end of
// a failure streak).
struct TRecordingNews {
    std::vector<std::string> Reports;
    std::vector<std::string> Notices;

    bool Empty() const { return Reports.empty() && Notices.empty(); }
};

// "P_0" to "P_5" for channels 0 to 5.
std::string ChannelCode(int channel);

// The samples per file: the whole part of DurationMinutes x 60 x SampleRate.
int64_t SamplesPerFile(int durationMinutes, double sampleRate);

// The minute boundary rule: the block time's second is 0 and its minute a multiple of
// DurationMinutes.
bool IsFileBoundary(TBlockTime blockTime, int durationMinutes);

class TRecorder : public TSampleRecorder {
  public:
    // Steps 1 to 3 of the recording step, once for a block that carries samples while
    // recording is on, before its channels: the samples per file, the boundary test, and the
    // file start time when the first channel's list is empty. `settings` must stay valid until
    // the block's channels are done.
    void BeginBlock(const TRecordingBlock& block, const TSettings& settings);
    // Step 4.1 and 4.2 for channel c: when its file is due it is written and the list emptied;
    // after the last channel's the file start time becomes the block time.
    void PrepareChannel(int channel) override;
    // Step 4.3: one sample into the channel's list.
    void RecordSample(int channel, int32_t raw) override;

    // Every list that holds samples written, each with the format it was recorded under, and
    // all six emptied (Start, Stop, a format change, the end of the program).
    void FlushDataFiles(const TSettings& settings);
    // The channel's list written to its file with BaseDir, the codes, FileStartTime and the
    // list's own rate and bytes per sample. The list is not cleared.
    void WriteChannelDataFile(int channel, const TSettings& settings);

    const std::array<TRecordingList, MaxChannels>& RecordingLists() const { return lists_; }
    TBlockTime FileStartTime() const { return fileStartTime_; }
    // Whether the last file failed and the failure has been reported.
    bool Failing() const { return failing_; }

    // What has happened since the last call; cleared.
    TRecordingNews TakeNews();

  private:
    struct TListFormat {
        double SampleRate = 0;
        int BytesPerSample = 0;
    };

    void Account(const TSeedFileResult& result);

    std::array<TRecordingList, MaxChannels> lists_;
    std::array<TListFormat, MaxChannels> formats_{};
    TBlockTime fileStartTime_;

    // The block being recorded.
    TRecordingBlock block_;
    const TSettings* settings_ = nullptr;
    int64_t samplesPerFile_ = 0;
    bool boundary_ = false;

    // A failure streak: reported at its first file, its end told on standard error.
    bool failing_ = false;
    int lostFiles_ = 0;
    bool memoryFailing_ = false;
    TRecordingNews news_;
};
