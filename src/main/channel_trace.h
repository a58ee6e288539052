// One channel's trace in its band image on the Channels page: a sweep from
// the left edge, extended block by block, one history sample per step.
#pragma once

#include <QImage>
#include <QPoint>
#include <cstddef>
#include <cstdint>

class TChannelHistory;
class TGraphResources;

// What a channel's trace keeps between blocks.
struct TTraceSweep {
    QPoint End;        // where the last segment ended: the pen's position
    double DcRef = 0;  // microvolts subtracted from the samples during this sweep
};

// One channel's part of a Channels page's DrawTraces pass.
struct TTraceDraw {
    size_t Start = 0;       // the first history index drawn
    bool NewSweep = false;  // begin a sweep first (a full redraw, or Start 0)
    bool Overlay = false;   // a new sweep keeps the old trace; the lines are drawn again
    double SweepDcRef = 0;  // the DC level that a new sweep fixes
    int64_t Span = 0;       // samples across the band's width
    int32_t GainFactor = 1;
    double Zoom = 1;
};

// Draws history[Start ...] into `image` (the band, width W and height H).
//
// A new sweep fills the band with the background (unless Overlay), draws the
// top line and the dotted centre line at H / 2, and starts the pen at
// (0, H / 2) with the DC level SweepDcRef. Sample j stands at column
// trunc(j x W / Span) and row trunc(H / 2 - yScale x (microvolts - DcRef)),
// clamped to the band; a sample in column 0 only moves the pen, any other is
// joined to the pen's position. The segment into sample Start is drawn in the
// first-sample colour, the rest in the trace colour, so an incremental pass
// marks the block boundary; a sweep's first sample is in column 0, so a pass
// from Start 0 draws in the trace colour only.
//
// With at least one sample per column (W <= Span) a segment is drawn as the
// run of rows between its two ends in each column it touches, and a pass from
// Start 0 as one run per column from the column's highest to its lowest row
// (SummarizeColumns): the same pixels, at a cost that follows the band's
// width rather than the history's length. With fewer samples than columns the
// segments are drawn as lines. Samples beyond the band's right edge are not
// visited past the first one there; the pen still ends at the last sample.
void DrawChannelTrace(QImage& image, const TGraphResources& resources,
                      const TChannelHistory& history, const TTraceDraw& draw, TTraceSweep& sweep);
