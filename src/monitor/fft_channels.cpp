#include "monitor/fft_channels.h"

#include <algorithm>

void TSpectra::FftChannel(int channel, const TFftRing& ring, int points, TFftWindow window) {
    if (channel < 0 || channel >= MaxChannels || points <= 0 || ring.Count() < points) {
        return;
    }
    std::unique_ptr<TSpectrum>& result = results_[static_cast<size_t>(channel)];
    if (!result) {
        result = std::make_unique<TSpectrum>();
    }
    const TFftRing::TRuns runs = ring.Newest(points);
    result->Compute(runs.Older, runs.Newer, window);
}

void TSpectra::RecomputeSpectra(const TChannelModel& channels, int channelCount,
                                std::span<const bool, MaxChannels> displayed, int points,
                                TFftWindow window) {
    const int count = std::clamp(channelCount, 0, MaxChannels);
    for (int c = 0; c < count; ++c) {
        if (displayed[static_cast<size_t>(c)]) {
            FftChannel(c, channels.FftRing(c), points, window);
        }
    }
}

const TSpectrum* TSpectra::Result(int channel) const {
    return channel >= 0 && channel < MaxChannels ? results_[static_cast<size_t>(channel)].get()
                                                 : nullptr;
}
