// One channel's band on the FFT page: its spectrum from 0 Hz to half the
// sample rate across, 0 to -200 dB downwards, over a grid of tenths of the
// frequency span and 10 dB steps.
#pragma once

#include <QImage>

class TGraphResources;
class TSpectrum;

// Unless `overlay`, the band is filled with the background colour first. Then
// the top line, nine dotted vertical lines, nineteen horizontal ones (dotted
// at -50, -100 and -150 dB) and the spectrum: bins 0 ... N / 2 - 1 joined from
// left to right, bins in column 0 only moving the pen (which starts at the
// top-left corner). Where several bins share a column the segments are drawn
// as vertical runs per column (the column's rows from each segment's one end
// to the other, merged), otherwise as lines.
void DrawFftTrace(QImage& image, const TGraphResources& resources, const TSpectrum& spectrum,
                  bool overlay);
