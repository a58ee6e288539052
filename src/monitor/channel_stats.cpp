#include "monitor/channel_stats.h"

#include <algorithm>
#include <cmath>

#include "monitor/voltage_format.h"

void TChannelModel::UpdateChannelStatistics(const TSampleSet& samples, int channelCount,
                                            int samplesPerBlock, double sampleRate,
                                            std::span<const int32_t, MaxChannels> gainFactor) {
    if (!dbReferenceSet_) {
        dbReference_ = 8388608 / std::sqrt(2.0);
        dbReferenceSet_ = true;
    }
    if (samples.DatLength == 0) {
        return;
    }
    const int64_t limit = StoredSampleLimit(sampleRate);
    const int64_t perBlock = std::max(samplesPerBlock, 0);
    const int channels = std::clamp(channelCount, 0, MaxChannels);
    for (int c = 0; c < channels; ++c) {
        const std::vector<int32_t>& words = samples.Channel[c];
        const size_t count = std::min(words.size(), static_cast<size_t>(perBlock));
        UpdateChannel(c, std::span<const int32_t>(words.data(), count), perBlock, limit,
                      gainFactor[c]);
    }
    if (offsetAlpha_ == 1.0) {
        offsetAlpha_ = dcTimeConst_;
    }
    if (averageAlpha_ > offsetAlpha_) {
        averageAlpha_ *= 0.9;
    }
}

void TChannelModel::UpdateChannel(int channel, std::span<const int32_t> raw,
                                  int64_t samplesPerBlock, int64_t limit, int32_t gainFactor) {
    TChannelHistory& history = histories_[channel];
    if (limit < static_cast<int64_t>(history.Size()) + samplesPerBlock) {
        // The window is full: start again, keeping the memory for the next fill.
        history.Clear(static_cast<size_t>(std::max(limit, samplesPerBlock)));
    }

    TChannelStats& stats = stats_[channel];
    TFftRing& ring = rings_[channel];
    const double offsetAtStart = stats.Offset;
    double sumSquares = 0;
    history.Append(raw);  // a failure restarts the history with this block (see TChannelHistory)
    for (const int32_t word : raw) {
        ring.Push(word);
        const double v = SampleToMicrovolts(word, gainFactor);
        stats.Offset = stats.Offset + (v - stats.Offset) * offsetAlpha_;
        const double d = v - offsetAtStart;
        sumSquares += d * d;
    }
    if (raw.empty()) {
        return;
    }
    stats.AcRms = std::sqrt(sumSquares / static_cast<double>(raw.size()));
    const double x = gainFactor * stats.AcRms / dbReference_;
    stats.RmsDb = x > 0 ? 20 * std::log10(x) : 0;
    stats.AvRmsDb = stats.AvRmsDb + (stats.RmsDb - stats.AvRmsDb) * averageAlpha_;
}

void TChannelModel::ResetChannelHistories(const std::function<void()>& clearTemperaturesAndFlush) {
    ResetChannelStatistics();
    ClearChannelHistories();
    if (clearTemperaturesAndFlush) {
        clearTemperaturesAndFlush();
    }
    ResetFftRings();
}

void TChannelModel::ResetChannelStatistics() {
    offsetAlpha_ = 1.0;
    averageAlpha_ = 1.0;
    stats_.fill(TChannelStats{});
}

void TChannelModel::ClearChannelHistories() {
    for (TChannelHistory& history : histories_) {
        history.Clear();
    }
}

void TChannelModel::ResetFftRings() {
    for (TFftRing& ring : rings_) {
        ring.Reset();
    }
}

void TChannelModel::SetDcTimeConst(double value) {
    dcTimeConst_ = value;
    offsetAlpha_ = value;
}

int64_t TChannelModel::StoredSampleLimit(double sampleRate) const {
    const double limit = std::trunc(storedSeconds_ * sampleRate);
    if (!(limit > 0)) {
        return 0;
    }
    return limit < 9.0e18 ? static_cast<int64_t>(limit) : static_cast<int64_t>(9.0e18);
}
