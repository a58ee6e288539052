// Traces drawn as vertical runs of pixels per column: where consecutive
// points of a trace lie in the same or neighbouring columns, the segment
// between them covers, in each of its end points' columns, every row from one
// end row to the other. The runs of one column merge into one fill, so a long
// trace costs one rectangle per column rather than one line per point.
#pragma once

#include <QColor>
#include <QPen>
#include <QPoint>
#include <cstdint>

class QPainter;

// Columns this far right are never visible; pen positions and line ends are
// kept within it so that the rasterizer never sees huge coordinates.
inline constexpr int64_t FarColumn = int64_t{1} << 16;

inline int ClampColumn(int64_t x) {
    return static_cast<int>(x < FarColumn ? x : FarColumn);
}

// The end of a line from `from` to (x, y), pulled back along the line to
// FarColumn when x lies beyond it.
QPoint LineEnd(QPoint from, int64_t x, int y);

// Vertical runs of one colour in a band `width` wide, merged per column. The
// runs of neighbouring segments in a column share a row, so their union is
// one run: painting it once gives the pixels of painting each.
class TColumnRuns {
  public:
    TColumnRuns(QPainter& painter, const QColor& colour, int width)
        : painter_(painter), colour_(colour), width_(width) {}
    ~TColumnRuns() { Flush(); }
    TColumnRuns(const TColumnRuns&) = delete;
    TColumnRuns& operator=(const TColumnRuns&) = delete;

    // The rows between y0 and y1 in `column`.
    void Add(int64_t column, int y0, int y1) {
        const int top = y0 < y1 ? y0 : y1;
        const int bottom = y0 < y1 ? y1 : y0;
        if (column != column_) {
            Flush();
            column_ = column;
            top_ = top;
            bottom_ = bottom;
        } else {
            top_ = top < top_ ? top : top_;
            bottom_ = bottom > bottom_ ? bottom : bottom_;
        }
    }
    // A segment from `from` to (x, y): the run of its rows in each column it
    // touches when they are neighbours, otherwise a line with `pen`.
    void Segment(QPoint from, int64_t x, int y, const QPen& pen);
    // Paints the pending run.
    void Flush();

  private:
    QPainter& painter_;
    QColor colour_;
    int width_;
    int64_t column_ = -1;
    int top_ = 0;
    int bottom_ = 0;
};
