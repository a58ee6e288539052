// The Helicorder's picture: a title (station, channel, date, filter) at the top; one channel's
// min/max slots (THelicorder) as rows of equal length under each other, the oldest at the top,
// the trace colour alternating from row to row; each row's start in UTC at its left on whole
// hours (every row when there is room), the date on the row that starts at midnight with a
// line above it; minute ticks along the rows and the minutes from a row's start along the
// bottom; the rows in alternating shades of the background; the events found shaded over the
// part of each row they cover with a bar of the mark colour at the row's top and bottom over the
// trace (a frame in the highlight colour around the one highlighted); where the samples reached
// the converter's full scale, the trace in the clip colour. The trace lies about each row's
// centre line at a scale, clipped at a row and a half either side of it. A pixel column shows
// the lowest and highest value of the slots it covers, joined to its neighbour, written
// straight into the image.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <deque>

#include "detect/event_detector.h"
#include "monitor/helicorder.h"

struct THelicorderDraw {
    const THelicorder* Source = nullptr;
    const std::deque<TEvent>* Events = nullptr;  // none: no marks
    int Channel = 0;                             // 0-based
    THelicorder::TSeries Series = THelicorder::TSeries::Raw;
    THelicorderRows Rows;
    // The counts from a row's centre line that reach its edge.
    double HalfRowCounts = 8388608;
    uint64_t Highlight = 0;  // the event framed; 0: none
    QString Title;
    QColor Background = Qt::black;
    QColor Trace = Qt::green;
    QColor Mark = Qt::red;  // the events' shade, blended into the background
    QFont Font;
};

class THelicorderPicture {
  public:
    // The picture's colours, as the rows and marks are painted.
    static QColor RowShade(const QColor& background, bool odd);
    static QColor MarkShade(const QColor& background, const QColor& mark);
    // The trace's colour on odd rows: its hue turned half way round (red for a grey trace).
    static QColor AlternateTrace(const QColor& trace);
    // White on a dark background, black on a light one.
    static QColor ClipColour(const QColor& background);
    static QColor HighlightColour() { return {0xff, 0xff, 0x40}; }
    // Whether a row is odd: by its time, so that it keeps its colours as rows move up.
    static bool OddRow(const THelicorderRows& rows, int row);
    // The pixel rows the title and the minutes' axis take at `font`.
    static int Margins(const QFont& font);

    // The layout last drawn: the label column's width, the rows' pixel rows (row r covers
    // RowTop(r) to RowTop(r + 1) - 1), the title above them and the minutes' axis below.
    int PlotLeft() const { return labelWidth_; }
    int RowTop(int row) const;
    int RowsTop() const { return rowsTop_; }
    int RowsBottom() const { return rowsBottom_; }

    // The whole picture drawn again into `image` (its size is kept; RGB32).
    void Draw(QImage& image, const THelicorderDraw& draw);
    // Rows `first` to the last drawn again, with the rows above that their traces reach into
    // and the neighbours' traces reaching into them: the newest samples added to a picture
    // drawn with the same rows.
    void DrawRowsFrom(QImage& image, const THelicorderDraw& draw, int first);

  private:
    void Measure(const QImage& image, const THelicorderDraw& draw);
    void DrawTitleAndAxis(QImage& image, const THelicorderDraw& draw) const;
    void DrawBand(QImage& image, const THelicorderDraw& draw, int first, int last);
    void DrawTrace(QImage& image, const THelicorderDraw& draw, int row, int clipTop,
                   int clipBottom) const;
    int labelWidth_ = 0;
    int rowsTop_ = 0;
    int rowsBottom_ = 0;
    int rowCount_ = 1;
};
