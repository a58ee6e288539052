#include "recording/period_files.h"

#include <cmath>
#include <new>

void TRecordingList::Clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    size_ = 0;
}

bool TRecordingList::Grow() {
    try {
        chunks_.push_back(std::unique_ptr<int32_t[]>(new int32_t[ChunkSize]));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

TSampleView TRecordingList::View() const {
    std::vector<std::span<const int32_t>> pieces;
    pieces.reserve(chunks_.size());
    for (size_t first = 0; first < size_; first += ChunkSize) {
        pieces.emplace_back(chunks_[first >> ChunkShift].get(), std::min(ChunkSize, size_ - first));
    }
    return TSampleView(std::move(pieces));
}

std::string ChannelCode(int channel) {
    return "P_" + std::to_string(channel);
}

int64_t SamplesPerFile(int durationMinutes, double sampleRate) {
    const double samples = std::trunc(static_cast<double>(durationMinutes) * 60 * sampleRate);
    if (!(samples > 0)) {
        return 0;
    }
    return samples < 9.0e18 ? static_cast<int64_t>(samples) : static_cast<int64_t>(9.0e18);
}

bool IsFileBoundary(int64_t blockTime, int durationMinutes) {
    const TSeedCivil civil = CivilOf(TSeedTime{blockTime, 0});
    return civil.Second == 0 && durationMinutes > 0 && civil.Minute % durationMinutes == 0;
}

bool TPeriodFiles::AnyPending() const {
    for (const TRecordingList& list : lists_) {
        if (!list.Empty()) {
            return true;
        }
    }
    return false;
}

void TPeriodFiles::Take(const TRecordBlock& block) {
    TakeBlock(block);
    stats_.HeldBytes = 0;
    for (const TRecordingList& list : lists_) {
        stats_.HeldBytes += list.Size() * sizeof(int32_t);
    }
}

void TPeriodFiles::TakeBlock(const TRecordBlock& block) {
    ++stats_.Blocks;
    const bool continues = haveLast_ && block.Time == lastTime_ + 1;
    haveLast_ = true;
    lastTime_ = block.Time;
    if (!block.HasSamples()) {
        return;
    }
    // The data broke off since the previous block: the pending files end where it did.
    if (!continues && AnyPending()) {
        Flush();
    }

    const int64_t samplesPerFile = SamplesPerFile(settings_.DurationMinutes, block.SampleRate);
    const bool boundary = IsFileBoundary(block.Time, settings_.DurationMinutes);
    if (lists_[0].Empty()) {
        fileStartTime_ = block.Time;
    }
    for (int c = 0; c < block.ChannelCount; ++c) {
        const auto index = static_cast<size_t>(c);
        TRecordingList& list = lists_[index];
        const auto count = static_cast<int64_t>(list.Size());
        const bool due = count + block.SamplesPerBlock > samplesPerFile || (count > 0 && boundary);
        if (due) {
            // An empty list has no file to write: a block larger than a whole file (which
            // the digitizer never sends) makes no empty files.
            if (!list.Empty()) {
                WriteChannelDataFile(c);
            }
            list.Clear();
            if (c == block.ChannelCount - 1) {
                fileStartTime_ = block.Time;
            }
        }
        if (list.Empty()) {
            formats_[index] = {block.SampleRate, block.BytesPerSample};
        }
        for (const int32_t raw : block.Samples[index]) {
            if (!list.Append(raw) && !memoryFailing_) {
                memoryFailing_ = true;
                news_.Reports.push_back("Not enough memory to hold the samples of channel " +
                                        ChannelCode(c) + " for its data file; samples are lost.");
            }
        }
    }
}

void TPeriodFiles::Flush() {
    for (int c = 0; c < MaxChannels; ++c) {
        TRecordingList& list = lists_[static_cast<size_t>(c)];
        if (!list.Empty()) {
            WriteChannelDataFile(c);
        }
        list.Clear();
    }
    memoryFailing_ = false;
    stats_.HeldBytes = 0;
}

void TPeriodFiles::WriteChannelDataFile(int channel) {
    const auto index = static_cast<size_t>(channel);
    TSeedFileParams params;
    params.BaseDir = settings_.BaseDir;
    params.Codes = {settings_.Station, settings_.Location, settings_.Network, ChannelCode(channel)};
    params.BytesPerSample = formats_[index].BytesPerSample;
    params.SampleRate = formats_[index].SampleRate;
    params.StartTime = TSeedTime{fileStartTime_, 0};
    const TSampleView samples = lists_[index].View();
    Account(WriteSeedFile(params, samples), channel, samples.Size(), params.SampleRate);
}

// One report per failure streak, when it starts; a line on standard error when it ends.
void TPeriodFiles::Account(const TSeedFileResult& result, int channel, size_t samples,
                           double rate) {
    if (!result.Clash.empty()) {
        news_.Notices.push_back(result.Clash);
    }
    if (result.Status) {
        TStreamStats& stream = StreamStats(ChannelCode(channel));
        stream.SamplesRecorded += static_cast<int64_t>(samples);
        if (samples > 0) {
            const TExactRate exact = ExactRateOf(rate).value_or(TExactRate{1, 1});
            stream.LastSample = TSeedTime{fileStartTime_, 0}.PlusTicks(
                TicksForSamples(static_cast<int64_t>(samples) - 1, exact));
        }
        if (const std::optional<int> lost = streak_.Succeed()) {
            news_.Notices.push_back("data files are written again (" + result.Path + "); " +
                                    std::to_string(*lost) + " could not be written");
        }
        return;
    }
    const std::string& error = result.Status.Error().Text;
    NoteError("The data file " + result.Path + " could not be written: " + error);
    if (streak_.Fail()) {
        news_.Reports.push_back("The data file " + result.Path + " could not be written: " + error +
                                ". Recording goes on; further failures are not reported until a "
                                "file is written again.");
    }
}
