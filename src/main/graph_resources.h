// The pens and brushes shared by the graph pages (Channels, Temperatures,
// FFT): three fixed pens and those made from the colour settings, which are
// made again whenever the colours change.
#pragma once

#include <QBrush>
#include <QColor>
#include <QPen>
#include <cstdint>

#include "colours/colour_value.h"

struct TSettings;

class TGraphResources {
  public:
    // The colour pens and brushes at the settings' defaults.
    TGraphResources();
    explicit TGraphResources(const TSettings& settings);

    // Makes the colour pens and brushes again from the settings' colours.
    void SetColours(const TSettings& settings);

    // Fixed: the band's top line, the grid, and the dotted centre line.
    const QPen& FrameLinePen() const { return frameLinePen_; }
    const QPen& GridPen() const { return gridPen_; }
    const QPen& CentreLinePen() const { return centreLinePen_; }

    // Channels page: trace, the segment into each block's first sample, background.
    const QPen& WavePen() const { return wavePen_; }
    const QPen& FirstSamplePen() const { return firstSamplePen_; }
    const QBrush& WaveBackgroundBrush() const { return waveBackgroundBrush_; }

    // Temperatures page: the dots' outline and fill, background.
    const QPen& TemperaturePen() const { return temperaturePen_; }
    const QBrush& TemperatureDotBrush() const { return temperatureDotBrush_; }
    const QBrush& TemperatureBackgroundBrush() const { return temperatureBackgroundBrush_; }

    // FFT page: spectrum, background.
    const QPen& FftPen() const { return fftPen_; }
    const QBrush& FftBackgroundBrush() const { return fftBackgroundBrush_; }

  private:
    QPen frameLinePen_;
    QPen gridPen_;
    QPen centreLinePen_;
    QPen wavePen_;
    QPen firstSamplePen_;
    QBrush waveBackgroundBrush_;
    QPen temperaturePen_;
    QBrush temperatureDotBrush_;
    QBrush temperatureBackgroundBrush_;
    QPen fftPen_;
    QBrush fftBackgroundBrush_;
};
