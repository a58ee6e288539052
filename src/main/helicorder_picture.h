// The Helicorder's picture: one channel's min/max slots (THelicorder) as rows of equal length
// under each other, the oldest at the top, each row's start in UTC at its left, the rows in
// alternating shades of the background, the events found shaded over the part of each row
// they cover with a bar of the mark colour at the row's top over the trace, and the trace about
// each row's centre line at a zoom, clipped at a row and a half either side of it. A pixel column
// shows the lowest and highest value of the slots it covers, joined to its neighbour, written
// straight into the image.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <deque>

#include "detect/event_detector.h"
#include "monitor/helicorder.h"

struct THelicorderDraw {
    const THelicorder* Source = nullptr;
    const std::deque<TEvent>* Events = nullptr;  // none: no marks
    int Channel = 0;                             // 0-based
    THelicorder::TSeries Series = THelicorder::TSeries::Raw;
    THelicorderRows Rows;
    // 2^23 / Zoom counts from the centre line reach half a row (as on the Channels page).
    double Zoom = 1;
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

    // Width of the time labels' column at `font`.
    static int LabelWidth(const QFont& font);
    // The rows' pixel rows: row r covers RowTop(r) to RowTop(r + 1) - 1.
    static int RowTop(int row, int rows, int height);
    // The first pixel column of the traces.
    int PlotLeft() const { return labelWidth_; }

    // The whole picture drawn again into `image` (its size is kept; RGB32).
    void Draw(QImage& image, const THelicorderDraw& draw);
    // Rows `first` to the last drawn again, with the rows above that their traces reach into
    // and the neighbours' traces reaching into them: the newest samples added to a picture
    // drawn with the same rows.
    void DrawRowsFrom(QImage& image, const THelicorderDraw& draw, int first);

  private:
    void DrawBand(QImage& image, const THelicorderDraw& draw, int first, int last);
    void DrawTrace(QImage& image, const THelicorderDraw& draw, int row, int clipTop,
                   int clipBottom) const;
    int labelWidth_ = 0;
};
