// The spectra of the FFT page: per channel none until the first computation,
// then the last one computed. They survive resets of the histories; a
// channel whose ring holds fewer samples than asked keeps its old spectrum.
#pragma once

#include <array>
#include <memory>
#include <span>

#include "digitizer/data_block.h"
#include "fft/fft_channel.h"
#include "monitor/channel_stats.h"
#include "monitor/fft_ring.h"

class TSpectra {
  public:
    // FftChannel: the spectrum of the newest `points` samples of `ring`, when
    // the ring holds that many.
    void FftChannel(int channel, const TFftRing& ring, int points, TFftWindow window);
    // RecomputeSpectra: FftChannel for every channel below channelCount that
    // `displayed` shows.
    void RecomputeSpectra(const TChannelModel& channels, int channelCount,
                          std::span<const bool, MaxChannels> displayed, int points,
                          TFftWindow window);

    // The channel's spectrum; nullptr before its first.
    const TSpectrum* Result(int channel) const;

  private:
    std::array<std::unique_ptr<TSpectrum>, MaxChannels> results_;
};
