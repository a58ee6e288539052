#include "main/channel_trace.h"

#include <QPainter>
#include <algorithm>
#include <vector>

#include "main/band_frame.h"
#include "main/column_runs.h"
#include "main/graph_resources.h"
#include "monitor/channel_history.h"
#include "monitor/column_summary.h"
#include "monitor/trace_scale.h"

namespace {

void BeginSweep(QPainter& painter, const TGraphResources& resources, int width, int height,
                bool overlay) {
    if (!overlay) {
        FillBand(painter, width, height, resources.WaveBackgroundBrush());
    }
    DrawTopLine(painter, resources, width);
    DrawCentreLine(painter, resources, width, height / 2);
}

// Where the pen stands after sample j.
QPoint PenAfter(const TChannelHistory& history, size_t j, const TTraceScale& scale) {
    const int64_t x = scale.X(static_cast<int64_t>(j));
    return {x >= 1 ? ClampColumn(x) : 0, scale.Y(history[j])};
}

// A pass from Start 0 with at least one sample per column: one run per column.
void DrawColumns(QPainter& painter, const TGraphResources& resources,
                 const TChannelHistory& history, const TTraceScale& scale, int width) {
    std::vector<TMinMax> columns;
    SummarizeColumns(history, 0, scale.XScale, width, columns);
    const QColor colour = resources.WavePen().color();
    for (int x = 0; x < width; ++x) {
        const TMinMax& range = columns[static_cast<size_t>(x)];
        if (!range.Empty()) {
            const int top = scale.Y(range.Max);
            painter.fillRect(QRect(x, top, 1, scale.Y(range.Min) - top + 1), colour);
        }
    }
}

// Sample by sample from `start`: runs while the columns are neighbours
// (xScale <= 1), lines otherwise. Returns where the pen stands.
QPoint DrawSegments(QPainter& painter, const TGraphResources& resources,
                    const TChannelHistory& history, size_t start, const TTraceScale& scale,
                    int width, QPoint pen) {
    const bool runs = scale.XScale <= 1;
    TColumnRuns trace(painter, resources.WavePen().color(), width);
    for (size_t j = start; j < history.Size(); ++j) {
        const int64_t x = scale.X(static_cast<int64_t>(j));
        const int y = scale.Y(history[j]);
        if (x >= 1) {
            const bool first = j == start;
            const QPen& linePen = first ? resources.FirstSamplePen() : resources.WavePen();
            if (!runs) {
                painter.setPen(linePen);
                painter.drawLine(pen, LineEnd(pen, x, y));
            } else if (first) {
                // Painted at once, before any run of the trace colour.
                TColumnRuns firstRuns(painter, linePen.color(), width);
                firstRuns.Segment(pen, x, y, linePen);
            } else {
                trace.Segment(pen, x, y, linePen);
            }
        }
        pen = QPoint(x >= 1 ? ClampColumn(x) : 0, y);
        if (x >= width) {
            // Every later sample lies further right, out of the band.
            return PenAfter(history, history.Size() - 1, scale);
        }
    }
    return pen;
}

}  // namespace

void DrawChannelTrace(QImage& image, const TGraphResources& resources,
                      const TChannelHistory& history, const TTraceDraw& draw, TTraceSweep& sweep) {
    const int width = image.width();
    const int height = image.height();
    if (draw.NewSweep) {
        sweep.End = QPoint(0, height / 2);
        sweep.DcRef = draw.SweepDcRef;
    }
    if (image.isNull()) {
        return;
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (draw.NewSweep) {
        BeginSweep(painter, resources, width, height, draw.Overlay);
    }
    const TTraceScale scale =
        MakeTraceScale(width, height, draw.Span, draw.GainFactor, draw.Zoom, sweep.DcRef);
    if (draw.Start >= history.Size()) {
        return;
    }
    if (draw.Start == 0 && scale.XScale <= 1) {
        DrawColumns(painter, resources, history, scale, width);
        sweep.End = PenAfter(history, history.Size() - 1, scale);
        return;
    }
    sweep.End = DrawSegments(painter, resources, history, draw.Start, scale, width, sweep.End);
}
