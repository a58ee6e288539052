// Per pixel column of a trace band, the smallest and largest raw word that the
// drawing of the trace reaches there, so that a long history is redrawn with
// one vertical line per column instead of one line per sample.
#pragma once

#include <cstddef>
#include <vector>

#include "monitor/channel_history.h"

// The trace drawing visits history indices j = first, first + 1, ... up to the
// last sample, puts sample j in column x(j) = TraceColumn(j, xScale) =
// trunc(j x xScale), only moves the pen there when x(j) is 0 and otherwise
// draws a segment from the previous point. The segment into sample `first`
// starts where an earlier draw ended; it is the caller's and is not counted.
//
// Column c holds the samples a ... b (every j >= first with x(j) = c). out[c] is
// the min and max raw word of:
//   c >= 1: samples max(a - 1, first) ... min(b + 1, last sample): its own, the
//           one before (the segment coming in from the left) and the one after
//           (the segment going out to the right);
//   c = 0:  samples b and b + 1 (the single segment that leaves column 0; the
//           samples before b only moved the pen), or nothing when b is the last;
//   and is empty (Min > Max) when the column holds no sample or c is past the
//   last sample's column. Columns 0 ... columns - 1 are filled; samples beyond
//   them count only as the "one after" of the last column.
//
// Why this gives the drawing's pixels: take a segment to cover, in the columns
// of both of its end points, every row from one end row to the other (a
// segment inside one column is exactly that vertical line). When consecutive
// samples lie in the same or adjacent columns, which holds whenever xScale <= 1
// (at least one sample per column), the rows covered in column c are then
// exactly Y(out[c].Max) ... Y(out[c].Min) for the drawing's TTraceScale::Y,
// which never increases with the raw word, clamping included. A rasterizer
// that splits a one-column step between its two columns covers a subset of
// those rows at that step, never rows outside them.
// With fewer samples than columns (xScale > 1) the columns that a segment
// merely crosses are reported empty: draw the segments themselves there.
//
// Cost: for each column a few index steps and one TChannelHistory::MinMax over
// its own samples, so a full redraw costs in proportion to the band's width,
// not to the history's length. Nothing is filled for an xScale that is not
// positive, and out is resized to `columns`.
void SummarizeColumns(const TChannelHistory& history, size_t first, double xScale, int columns,
                      std::vector<TMinMax>& out);
