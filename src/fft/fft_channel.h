// One channel's amplitude spectrum: its newest N raw sample words scaled to
// the converter's full scale, windowed, transformed and turned into dB.
#pragma once

#include <cstdint>
#include <span>

#include "fft/fft.h"
#include "fft/fft_windows.h"

// The level of a bin without magnitude, the bottom of the FFT page's scale
// and its height in dB (0 dB at the top).
inline constexpr double SpectrumFloorDb = -200;

// A left-justified raw word times 2^-31 lies in -1 ... +1.
inline constexpr double RawWordScale = 4.656612873077393e-10;

// The buffer made for older.size() + newer.size() points when it holds
// another number (made anew, so a new N never reuses the old arrays), then
// real[i] = word i x 2^-31 (the older run first) and imag[i] = 0. The gain
// factor plays no part: the scale is the converter's.
void PrepareFftInput(TFftBuffer& buffer, std::span<const int32_t> older,
                     std::span<const int32_t> newer);

// real[i] = 20 log10(sqrt(real[i]^2 + imag[i]^2)), or SpectrumFloorDb where the
// magnitude is 0. The imaginary array keeps the transform's values.
void ToDecibels(TFftBuffer& buffer);

class TSpectrum {
  public:
    // The spectrum of the words older..., newer... (their total a power of
    // two): input, window, forward transform, dB. The buffer and the window's
    // weights are kept while N and the window stay the same.
    void Compute(std::span<const int32_t> older, std::span<const int32_t> newer, TFftWindow window);

    int Points() const { return buffer_.Points; }
    // Bin k's level in dB for 0 <= k < Points(); bins 0 ... Points() / 2 - 1
    // are the ones shown.
    double Level(int bin) const { return buffer_.Real[static_cast<size_t>(bin)]; }
    const TFftBuffer& Buffer() const { return buffer_; }

  private:
    TFftBuffer buffer_;
    TWindowTable window_;
};
