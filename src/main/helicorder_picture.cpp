#include "main/helicorder_picture.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

constexpr double FullScale = 8388608;  // 2^23 counts
constexpr double ClipRows = 1.5;       // the trace reaches at most this many rows either side
constexpr int MarkBar = 3;             // pixels of an event's bar at the top of its rows

int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// "HH:MM" of a UTC time.
QString RowLabel(int64_t seconds) {
    const int64_t ofDay = seconds - FloorDiv(seconds, 86400) * 86400;
    return QStringLiteral("%1:%2")
        .arg(ofDay / 3600, 2, 10, QLatin1Char('0'))
        .arg(ofDay / 60 % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

QColor THelicorderPicture::RowShade(const QColor& background, bool odd) {
    if (!odd) {
        return background;
    }
    // A shade lighter on a dark background, darker on a light one.
    const bool dark = background.lightness() < 128;
    const int toward = dark ? 255 : 0;
    const auto mix = [toward](int c) { return c + (toward - c) * 14 / 100; };
    return QColor(mix(background.red()), mix(background.green()), mix(background.blue()));
}

QColor THelicorderPicture::MarkShade(const QColor& background, const QColor& mark) {
    const auto mix = [](int b, int m) { return b + (m - b) * 40 / 100; };
    return QColor(mix(background.red(), mark.red()), mix(background.green(), mark.green()),
                  mix(background.blue(), mark.blue()));
}

int THelicorderPicture::LabelWidth(const QFont& font) {
    return QFontMetrics(font).horizontalAdvance(QStringLiteral("00:00 UTC")) + 8;
}

int THelicorderPicture::RowTop(int row, int rows, int height) {
    return static_cast<int>(static_cast<int64_t>(row) * height / std::max(rows, 1));
}

void THelicorderPicture::Draw(QImage& image, const THelicorderDraw& draw) {
    labelWidth_ = LabelWidth(draw.Font);
    DrawBand(image, draw, 0, draw.Rows.Count - 1);
}

void THelicorderPicture::DrawRowsFrom(QImage& image, const THelicorderDraw& draw, int first) {
    labelWidth_ = LabelWidth(draw.Font);
    // The rows above too, as far as the new rows' traces reach up into them.
    const int reach = static_cast<int>(std::ceil(ClipRows));
    DrawBand(image, draw, std::clamp(first - reach, 0, draw.Rows.Count - 1), draw.Rows.Count - 1);
}

void THelicorderPicture::DrawBand(QImage& image, const THelicorderDraw& draw, int first, int last) {
    const THelicorderRows& rows = draw.Rows;
    const int height = image.height();
    const int width = image.width();
    if (height <= 0 || width <= labelWidth_ || rows.Count <= 0 || first > last) {
        return;
    }
    const int bandTop = RowTop(first, rows.Count, height);
    const int bandBottom = RowTop(last + 1, rows.Count, height);  // exclusive
    const int plotWidth = width - labelWidth_;
    const QColor shade = MarkShade(draw.Background, draw.Mark);
    // The columns each event covers in row r.
    const auto forEventSpans = [&](int r, const auto& use) {
        if (draw.Events == nullptr) {
            return;
        }
        const double rowStart = static_cast<double>(rows.Start(r));
        for (const TEvent& event : *draw.Events) {
            const double from =
                static_cast<double>(event.Start.Seconds) + event.Start.Nanoseconds * 1e-9;
            const double to = static_cast<double>(event.End.Seconds) + event.End.Nanoseconds * 1e-9;
            if (to < rowStart || from >= rowStart + rows.RowSeconds) {
                continue;
            }
            const double x0 = (from - rowStart) / rows.RowSeconds * plotWidth;
            const double x1 = (to - rowStart) / rows.RowSeconds * plotWidth;
            const int left = std::clamp(static_cast<int>(std::floor(x0)), 0, plotWidth - 1);
            const int right = std::clamp(static_cast<int>(std::ceil(x1)), left + 1, plotWidth);
            use(labelWidth_ + left, right - left);
        }
    };
    {
        QPainter painter(&image);
        painter.setClipRect(0, bandTop, width, bandBottom - bandTop);
        for (int r = first; r <= last; ++r) {
            const int top = RowTop(r, rows.Count, height);
            const int bottom = RowTop(r + 1, rows.Count, height);
            // The shade follows the row's time, so that it stays with the row as rows move up.
            const bool odd = FloorDiv(rows.Start(r), rows.RowSeconds) % 2 != 0;
            painter.fillRect(0, top, width, bottom - top, RowShade(draw.Background, odd));
            forEventSpans(r,
                          [&](int x, int w) { painter.fillRect(x, top, w, bottom - top, shade); });
        }
        // The start of a row at its left, as often as the labels' height allows.
        painter.setFont(draw.Font);
        painter.setPen(draw.Trace);
        const QFontMetrics metrics(draw.Font);
        const double rowHeight = static_cast<double>(height) / rows.Count;
        const int every = std::max(1, static_cast<int>(std::ceil(metrics.height() / rowHeight)));
        for (int r = first; r <= last; ++r) {
            if ((rows.Count - 1 - r) % every != 0) {
                continue;
            }
            const int centre = static_cast<int>((r + 0.5) * rowHeight);
            painter.drawText(
                QRect(0, centre - metrics.height() / 2, labelWidth_ - 4, metrics.height()),
                Qt::AlignRight | Qt::AlignVCenter,
                RowLabel(rows.Start(r)) + QStringLiteral(" UTC"));
        }
    }
    if (draw.Source != nullptr) {
        // The traces of the rows above whose clipped excursion reaches into the band, too.
        const int reach = static_cast<int>(std::ceil(ClipRows));
        for (int r = std::max(0, first - reach); r <= last; ++r) {
            DrawTrace(image, draw, r, bandTop, bandBottom);
        }
    }
    // Over the traces, a bar at the top of each row under an event.
    QPainter painter(&image);
    painter.setClipRect(0, bandTop, width, bandBottom - bandTop);
    for (int r = first; r <= last; ++r) {
        const int top = RowTop(r, rows.Count, height);
        const int bar =
            std::max(1, std::min(MarkBar, (RowTop(r + 1, rows.Count, height) - top) / 4));
        forEventSpans(r, [&](int x, int w) { painter.fillRect(x, top, w, bar, draw.Mark); });
    }
}

void THelicorderPicture::DrawTrace(QImage& image, const THelicorderDraw& draw, int row, int clipTop,
                                   int clipBottom) const {
    const THelicorderRows& rows = draw.Rows;
    const THelicorder& source = *draw.Source;
    const int height = image.height();
    const int plotWidth = image.width() - labelWidth_;
    const double rowHeight = static_cast<double>(height) / rows.Count;
    const double baseline = (row + 0.5) * rowHeight;
    const double scale = draw.Zoom * rowHeight / 2 / FullScale;  // pixels per count
    const double clip = ClipRows * rowHeight;
    const int64_t firstSlot = THelicorder::SlotOf(rows.Start(row));
    const int64_t rowSlots = static_cast<int64_t>(rows.RowSeconds) * THelicorder::SlotsPerSecond;
    if (firstSlot > source.NewestSlot() || firstSlot + rowSlots <= source.OldestSlot()) {
        return;
    }
    const double centre = source.Centre(draw.Channel, draw.Series, firstSlot, firstSlot + rowSlots);
    const QRgb colour = draw.Trace.rgb();
    const auto pixel = [&](double value) {
        const double offset = std::clamp((value - centre) * scale, -clip, clip);
        return static_cast<int>(std::lround(baseline - offset));
    };
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    bool havePrevious = false;
    int previousTop = 0, previousBottom = 0;
    for (int x = 0; x < plotWidth; ++x) {
        const int64_t from = firstSlot + x * rowSlots / plotWidth;
        const int64_t to = std::max(from + 1, firstSlot + (x + 1) * rowSlots / plotWidth);
        const THelicorder::TRange range = source.Range(draw.Channel, draw.Series, from, to);
        if (range.Empty()) {
            havePrevious = false;
            continue;
        }
        int top = pixel(range.Max);
        int bottom = pixel(range.Min);
        const int ownTop = top, ownBottom = bottom;
        if (havePrevious) {
            // Joined to the previous column where they do not overlap.
            top = std::min(top, previousBottom);
            bottom = std::max(bottom, previousTop);
        }
        previousTop = ownTop;
        previousBottom = ownBottom;
        havePrevious = true;
        const int y0 = std::max(top, clipTop);
        const int y1 = std::min(bottom, clipBottom - 1);
        for (int y = y0; y <= y1; ++y) {
            reinterpret_cast<QRgb*>(bits + y * stride)[labelWidth_ + x] = colour;
        }
    }
}
