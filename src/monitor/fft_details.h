// The FFT page without its window: where a bin stands in a band, the grid,
// the figures beside the bands and the readout under the mouse. The band
// spans 0 Hz to half the sample rate across and 0 to -200 dB downwards.
#pragma once

#include <cstdint>
#include <string>

#include "monitor/number_format.h"

struct TFftScale {
    double XScale = 0;  // W / (N / 2): bins 0 ... N / 2 - 1 across the band
    double YScale = 0;  // H / 200
    int Height = 0;

    // trunc(bin x XScale).
    int X(int bin) const;
    // trunc(-level x YScale), clamped to 0 ... Height - 1: 0 dB on the top row,
    // -200 dB and below on the bottom one.
    int Y(double level) const;
};

TFftScale MakeFftScale(int width, int height, int points);

// Vertical line j (1 ... 9) at j x W / 10; horizontal line k (1 ... 19) at
// k x H / 20, dotted when k is a multiple of 5 (-50, -100, -150 dB).
inline int FftGridX(int j, int width) {
    return j * width / 10;
}
inline int FftGridY(int k, int height) {
    return k * height / 20;
}

struct TFftDetailsTexts {
    std::string Points;     // "Channel 1 : (1,024 Points)"
    std::string Frequency;  // "x : 0 -> 50.00 Hz"
    std::string Level;      // "y : 0 -> -200.00 dB"
};

TFftDetailsTexts FftDetailsTexts(int channel, int points, double sampleRate,
                                 const TNumberSeparators& separators);

// The readout at (x, y) of a list whose band `item` is under the mouse, each
// band width x height: f = x x sampleRate / (width x 2) Hz, level = -(y -
// height x item) x 200 / height dB; "x: 10.25 Hz, y: -100.00 dB".
std::string FftReadout(int x, int y, int item, int width, int height, double sampleRate,
                       const TNumberSeparators& separators);

// The widest lines the page's figures show, for sizing their column.
std::string WidestFftDetailsText(const TNumberSeparators& separators);
