// The six channels' display histories, FFT rings and running statistics, fed
// once per received block on the main thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "digitizer/data_block.h"
#include "monitor/channel_history.h"
#include "monitor/fft_ring.h"

struct TChannelStats {
    double Offset = 0;   // exponentially smoothed level, microvolts
    double AcRms = 0;    // RMS of the last block about the offset at its start, microvolts
    double RmsDb = 0;    // AcRms in dB relative to a full-scale sine
    double AvRmsDb = 0;  // exponentially smoothed RmsDb, dB
};

class TChannelModel {
  public:
    static constexpr double DefaultDCTimeConst = 0.003;

    TChannelModel() = default;

    // Appends one block's samples to the histories and rings of channels 0 to
    // channelCount - 1 and updates their statistics; gainFactor[c] is 1 or 10.
    // A set with DatLength 0 changes nothing. A channel without samples
    // (samplesPerBlock 0) keeps its AcRms, RmsDb and AvRmsDb; the smoothing
    // factors still advance. A channel array shorter than samplesPerBlock
    // contributes the words it holds.
    void UpdateChannelStatistics(const TSampleSet& samples, int channelCount, int samplesPerBlock,
                                 double sampleRate,
                                 std::span<const int32_t, MaxChannels> gainFactor);

    // ResetChannelStatistics, ClearChannelHistories, then clearTemperaturesAndFlush
    // (the temperature histories, ChannelTemperature and the pending data files
    // belong to others), then ResetFftRings.
    void ResetChannelHistories(const std::function<void()>& clearTemperaturesAndFlush);
    // OffsetAlpha and AverageAlpha back to 1; every channel's statistics to 0.
    void ResetChannelStatistics();
    // Empties the six histories and frees their memory; statistics and rings stay.
    void ClearChannelHistories();
    // Every ring back to empty with all entries 0.
    void ResetFftRings();

    // Sets DCTimeConst and OffsetAlpha at once; AverageAlpha is not touched.
    void SetDcTimeConst(double value);
    double DcTimeConst() const { return dcTimeConst_; }
    // Takes effect at the next update.
    void SetStoredSeconds(int seconds) { storedSeconds_ = seconds; }
    int StoredSeconds() const { return storedSeconds_; }
    // trunc(StoredSeconds x sampleRate); 0 for a rate that is not positive.
    int64_t StoredSampleLimit(double sampleRate) const;

    const TChannelHistory& ChannelHistory(int channel) const { return histories_[channel]; }
    const TFftRing& FftRing(int channel) const { return rings_[channel]; }
    const TChannelStats& ChannelStats(int channel) const { return stats_[channel]; }
    double OffsetAlpha() const { return offsetAlpha_; }
    double AverageAlpha() const { return averageAlpha_; }
    // 8388608 / sqrt(2), set by the first update; 0 before it.
    double DbReference() const { return dbReference_; }

  private:
    void UpdateChannel(int channel, std::span<const int32_t> raw, int64_t samplesPerBlock,
                       int64_t limit, int32_t gainFactor);

    std::array<TChannelHistory, MaxChannels> histories_;
    std::array<TFftRing, MaxChannels> rings_;
    std::array<TChannelStats, MaxChannels> stats_;
    double offsetAlpha_ = 1.0;
    double averageAlpha_ = 1.0;
    double dbReference_ = 0;
    bool dbReferenceSet_ = false;
    double dcTimeConst_ = DefaultDCTimeConst;
    int storedSeconds_ = 30;
};
