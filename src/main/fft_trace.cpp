#include "main/fft_trace.h"

#include <QPainter>

#include "fft/fft_channel.h"
#include "main/band_frame.h"
#include "main/column_runs.h"
#include "main/graph_resources.h"
#include "monitor/fft_details.h"

namespace {

void DrawGrid(QPainter& painter, const TGraphResources& resources, int width, int height) {
    DrawTopLine(painter, resources, width);
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setPen(resources.CentreLinePen());
    for (int j = 1; j <= 9; ++j) {
        const int x = FftGridX(j, width);
        painter.drawLine(x, 0, x, height - 1);
    }
    for (int k = 1; k <= 19; ++k) {
        painter.setPen(k % 5 == 0 ? resources.CentreLinePen() : resources.GridPen());
        const int y = FftGridY(k, height);
        painter.drawLine(0, y, width - 1, y);
    }
}

}  // namespace

void DrawFftTrace(QImage& image, const TGraphResources& resources, const TSpectrum& spectrum,
                  bool overlay) {
    if (image.isNull()) {
        return;
    }
    const int width = image.width();
    const int height = image.height();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (!overlay) {
        FillBand(painter, width, height, resources.FftBackgroundBrush());
    }
    DrawGrid(painter, resources, width, height);

    const TFftScale scale = MakeFftScale(width, height, spectrum.Points());
    const int half = spectrum.Points() / 2;
    const QPen& pen = resources.FftPen();
    const bool runs = scale.XScale <= 1;
    TColumnRuns trace(painter, pen.color(), width);
    painter.setPen(pen);
    QPoint at(0, 0);
    for (int bin = 0; bin < half; ++bin) {
        const int x = scale.X(bin);
        const int y = scale.Y(spectrum.Level(bin));
        if (x >= 1) {
            if (runs) {
                trace.Segment(at, x, y, pen);
            } else {
                painter.drawLine(at, LineEnd(at, x, y));
            }
            at = QPoint(ClampColumn(x), y);
        } else {
            at = QPoint(0, y);
        }
    }
}
