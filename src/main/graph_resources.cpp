#include "main/graph_resources.h"

#include "monitor/settings.h"

namespace {

// One pixel wide whatever the painter's transformation.
QPen LinePen(const QColor& colour, Qt::PenStyle style = Qt::SolidLine) {
    QPen pen(colour, 1, style);
    pen.setCosmetic(true);
    return pen;
}

}  // namespace

TGraphResources::TGraphResources() : TGraphResources(TSettings{}) {}

TGraphResources::TGraphResources(const TSettings& settings)
    : frameLinePen_(LinePen(QColor(200, 200, 200))),
      gridPen_(LinePen(QColor(96, 96, 96))),
      centreLinePen_(LinePen(QColor(192, 192, 192), Qt::DotLine)) {
    SetColours(settings);
}

void TGraphResources::SetColours(const TSettings& settings) {
    wavePen_ = LinePen(ColourFromSetting(settings.DataFgdCol));
    firstSamplePen_ = LinePen(ColourFromSetting(settings.DataFirstSampleCol));
    waveBackgroundBrush_ = QBrush(ColourFromSetting(settings.DataBgdCol));
    temperaturePen_ = LinePen(ColourFromSetting(settings.TemperaturesFgdCol));
    temperatureDotBrush_ = QBrush(ColourFromSetting(settings.TemperaturesFgdCol));
    temperatureBackgroundBrush_ = QBrush(ColourFromSetting(settings.TemperaturesBgdCol));
    fftPen_ = LinePen(ColourFromSetting(settings.FftFgdCol));
    fftBackgroundBrush_ = QBrush(ColourFromSetting(settings.FftBgdCol));
}
