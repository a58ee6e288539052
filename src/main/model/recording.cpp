#include "main/model/recording.h"

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

bool IsFileBoundary(TBlockTime blockTime, int durationMinutes) {
    const TCivilTime civil = blockTime.Civil();
    return civil.Second == 0 && durationMinutes > 0 && civil.Minute % durationMinutes == 0;
}

void TRecorder::BeginBlock(const TRecordingBlock& block, const TSettings& settings) {
    block_ = block;
    settings_ = &settings;
    samplesPerFile_ = SamplesPerFile(settings.DurationMinutes, block.SampleRate);
    boundary_ = IsFileBoundary(block.BlockTime, settings.DurationMinutes);
    if (lists_[0].Empty()) {
        fileStartTime_ = block.BlockTime;
    }
}

void TRecorder::PrepareChannel(int channel) {
    if (channel < 0 || channel >= MaxChannels || settings_ == nullptr) {
        return;
    }
    TRecordingList& list = lists_[static_cast<size_t>(channel)];
    const auto count = static_cast<int64_t>(list.Size());
    const bool due = count + block_.SamplesPerBlock > samplesPerFile_ || (count > 0 && boundary_);
    if (due) {
        // An empty list has no file to write: a block larger than a whole file (which the
        // digitizer never sends) makes no empty files.
        if (!list.Empty()) {
            WriteChannelDataFile(channel, *settings_);
        }
        list.Clear();
        if (channel == block_.ChannelCount - 1) {
            fileStartTime_ = block_.BlockTime;
        }
    }
    if (list.Empty()) {
        formats_[static_cast<size_t>(channel)] = {block_.SampleRate, block_.BytesPerSample};
    }
}

void TRecorder::RecordSample(int channel, int32_t raw) {
    if (channel < 0 || channel >= MaxChannels) {
        return;
    }
    if (!lists_[static_cast<size_t>(channel)].Append(raw) && !memoryFailing_) {
        memoryFailing_ = true;
        news_.Reports.push_back("Not enough memory to hold the samples of channel " +
                                ChannelCode(channel) + " for its data file; samples are lost.");
    }
}

void TRecorder::FlushDataFiles(const TSettings& settings) {
    for (int c = 0; c < MaxChannels; ++c) {
        TRecordingList& list = lists_[static_cast<size_t>(c)];
        if (!list.Empty()) {
            WriteChannelDataFile(c, settings);
        }
        list.Clear();
    }
    memoryFailing_ = false;
}

void TRecorder::WriteChannelDataFile(int channel, const TSettings& settings) {
    const auto index = static_cast<size_t>(channel);
    TSeedFileParams params;
    params.BaseDir = settings.BaseDir;
    params.Codes = {settings.Station, settings.Location, settings.Network, ChannelCode(channel)};
    params.BytesPerSample = formats_[index].BytesPerSample;
    params.SampleRate = formats_[index].SampleRate;
    params.StartTime = TSeedTime{fileStartTime_.Seconds, 0};
    Account(WriteSeedFile(params, lists_[index].View()));
}

// One report per failure streak, when it starts; a line on standard error when it ends.
void TRecorder::Account(const TSeedFileResult& result) {
    if (!result.Clash.empty()) {
        news_.Notices.push_back(result.Clash);
    }
    if (result.Written) {
        if (failing_) {
            news_.Notices.push_back("data files are written again (" + result.Path + "); " +
                                    std::to_string(lostFiles_) + " could not be written");
            failing_ = false;
            lostFiles_ = 0;
        }
        return;
    }
    ++lostFiles_;
    if (!failing_) {
        failing_ = true;
        news_.Reports.push_back("The data file " + result.Path +
                                " could not be written: " + result.Error +
                                ". Recording goes on; further failures are not reported until a "
                                "file is written again.");
    }
}

TRecordingNews TRecorder::TakeNews() {
    TRecordingNews news = std::move(news_);
    news_ = {};
    return news;
}
