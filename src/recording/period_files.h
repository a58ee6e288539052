// The window's layout: the six recording lists, the file start time, the cut rules that decide
// when a channel's data file is due, and the writing of the files with the SEED writer, each
// file whole when its period ends.
//
// Each list is written with the sample rate and bytes per sample it was recorded under; a file
// that cannot be written is reported, once per failure streak, while recording goes on;
// existing files are never replaced (the writer sees to that). Where the data breaks off (a
// block whose time is not the previous block's plus one second) the files end and the next
// ones begin with that block's own time, so that no sample is stamped with a wrong time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recording/archive_writer.h"
#include "recording/recorder_settings.h"
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

// "P_0" to "P_5" for channels 0 to 5.
std::string ChannelCode(int channel);

// The samples per file: the whole part of DurationMinutes x 60 x SampleRate.
int64_t SamplesPerFile(int durationMinutes, double sampleRate);

// The minute boundary rule: the block time's second is 0 and its minute a multiple of
// DurationMinutes.
bool IsFileBoundary(int64_t blockTime, int durationMinutes);

class TPeriodFiles : public TArchiveWriter {
  public:
    explicit TPeriodFiles(TPeriodSettings settings) : settings_(std::move(settings)) {}

    // Settings for the next block (the lists already pending keep theirs only when written
    // first: the window writes them at every change).
    void Configure(const TRecorderSettings& settings) override { settings_ = settings.Periods; }

    // The recording step for one block: a block without samples is passed over (it only
    // tells that the data runs on); for one with samples the samples per file, the boundary
    // test, the file start time when the first channel's list is empty, then for each channel
    // the due test, the writing of a due file, and its samples into the list.
    void Take(const TRecordBlock& block) override;
    // Every list that holds samples written, each with the format it was recorded under, and
    // all six emptied.
    void Flush() override;
    void Close() override { Flush(); }

    const std::array<TRecordingList, MaxChannels>& RecordingLists() const { return lists_; }
    // UTC seconds of the first sample in the lists.
    int64_t FileStartTime() const { return fileStartTime_; }
    // Whether the last file failed and the failure has been reported.
    bool Failing() const { return streak_.Failing(); }

  private:
    struct TListFormat {
        double SampleRate = 0;
        int BytesPerSample = 0;
    };

    void TakeBlock(const TRecordBlock& block);
    bool AnyPending() const;
    void WriteChannelDataFile(int channel);
    void Account(const TSeedFileResult& result, int channel, size_t samples, double rate);

    TPeriodSettings settings_;
    std::array<TRecordingList, MaxChannels> lists_;
    std::array<TListFormat, MaxChannels> formats_{};
    int64_t fileStartTime_ = 0;
    bool haveLast_ = false;
    int64_t lastTime_ = 0;  // of the previous block

    TFailureStreak streak_;
    bool memoryFailing_ = false;
};
