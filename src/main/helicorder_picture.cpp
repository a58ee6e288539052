#include "main/helicorder_picture.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "monitor/block_time.h"

namespace {

constexpr double FullScale = 8388608;  // 2^23 counts
constexpr double ClipRows = 1.5;       // the trace reaches at most this many rows either side
constexpr int MarkBar = 3;             // pixels of an event's bar at the top of its rows

int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int64_t SecondOfDay(int64_t seconds) {
    return seconds - FloorDiv(seconds, 86400) * 86400;
}

// "HH:MM" of a UTC time, or its date at midnight.
QString RowLabel(int64_t seconds) {
    const int64_t ofDay = SecondOfDay(seconds);
    if (ofDay == 0) {
        const auto civil = TBlockTime{seconds}.Civil();
        return QStringLiteral("%1-%2-%3")
            .arg(static_cast<long long>(civil.Year), 4, 10, QLatin1Char('0'))
            .arg(civil.Month, 2, 10, QLatin1Char('0'))
            .arg(civil.Day, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2")
        .arg(ofDay / 3600, 2, 10, QLatin1Char('0'))
        .arg(ofDay / 60 % 60, 2, 10, QLatin1Char('0'));
}

QColor Mix(const QColor& from, const QColor& to, int percent) {
    const auto mix = [percent](int a, int b) { return a + (b - a) * percent / 100; };
    return QColor(mix(from.red(), to.red()), mix(from.green(), to.green()),
                  mix(from.blue(), to.blue()));
}

int TitleHeight(const QFont& font) {
    return QFontMetrics(font).height() + 4;
}

int AxisHeight(const QFont& font) {
    return QFontMetrics(font).height() + 6;
}

}  // namespace

QColor THelicorderPicture::RowShade(const QColor& background, bool odd) {
    if (!odd) {
        return background;
    }
    // A shade lighter on a dark background, darker on a light one.
    return Mix(background, background.lightness() < 128 ? Qt::white : Qt::black, 14);
}

QColor THelicorderPicture::MarkShade(const QColor& background, const QColor& mark) {
    return Mix(background, mark, 40);
}

QColor THelicorderPicture::AlternateTrace(const QColor& trace) {
    if (trace.hsvHue() < 0) {
        return QColor(0xff, 0x50, 0x50);
    }
    return QColor::fromHsv((trace.hsvHue() + 180) % 360, trace.hsvSaturation(),
                           std::max(trace.value(), 200));
}

int THelicorderPicture::Margins(const QFont& font) {
    return TitleHeight(font) + AxisHeight(font);
}

QColor THelicorderPicture::ClipColour(const QColor& background) {
    return background.lightness() < 128 ? Qt::white : Qt::black;
}

bool THelicorderPicture::OddRow(const THelicorderRows& rows, int row) {
    return FloorDiv(rows.Start(row), rows.RowSeconds) % 2 != 0;
}

int THelicorderPicture::RowTop(int row) const {
    return rowsTop_ +
           static_cast<int>(static_cast<int64_t>(row) * (rowsBottom_ - rowsTop_) / rowCount_);
}

void THelicorderPicture::Measure(const QImage& image, const THelicorderDraw& draw) {
    const QFontMetrics metrics(draw.Font);
    labelWidth_ = std::max(metrics.horizontalAdvance(QStringLiteral("00:00 UTC")),
                           metrics.horizontalAdvance(QStringLiteral("0000-00-00"))) +
                  8;
    rowsTop_ = TitleHeight(draw.Font);
    rowsBottom_ = std::max(rowsTop_ + 1, image.height() - AxisHeight(draw.Font));
    rowCount_ = std::max(draw.Rows.Count, 1);
}

void THelicorderPicture::Draw(QImage& image, const THelicorderDraw& draw) {
    Measure(image, draw);
    image.fill(draw.Background);
    DrawTitleAndAxis(image, draw);
    DrawBand(image, draw, 0, draw.Rows.Count - 1);
}

void THelicorderPicture::DrawRowsFrom(QImage& image, const THelicorderDraw& draw, int first) {
    Measure(image, draw);
    // The rows above too, as far as the new rows' traces reach up into them.
    const int reach = static_cast<int>(std::ceil(ClipRows));
    DrawBand(image, draw, std::clamp(first - reach, 0, draw.Rows.Count - 1), draw.Rows.Count - 1);
}

void THelicorderPicture::DrawTitleAndAxis(QImage& image, const THelicorderDraw& draw) const {
    QPainter painter(&image);
    painter.setFont(draw.Font);
    painter.setPen(draw.Trace);
    const QFontMetrics metrics(draw.Font);
    painter.drawText(QRect(4, 0, image.width() - 8, rowsTop_), Qt::AlignLeft | Qt::AlignVCenter,
                     draw.Title);
    // The minutes from a row's start, as often as the labels' width allows.
    const int plotWidth = image.width() - labelWidth_;
    const double minutes = draw.Rows.RowSeconds / 60.0;
    if (plotWidth <= 0 || minutes <= 0) {
        return;
    }
    const int least = metrics.horizontalAdvance(QStringLiteral("00")) * 2;
    double step = minutes;
    for (const double candidate : {1.0, 2.0, 5.0, 10.0, 15.0, 30.0}) {
        if (plotWidth * candidate / minutes >= least) {
            step = candidate;
            break;
        }
    }
    const int top = rowsBottom_;
    painter.drawText(QRect(0, top + 2, labelWidth_ - 4, metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter,
                     QCoreApplication::translate("THelicorderPicture", "min"));
    for (double m = 0; m <= minutes + 1e-9; m += step) {
        const int x =
            labelWidth_ + std::min(static_cast<int>(m / minutes * plotWidth), plotWidth - 1);
        painter.drawLine(x, top, x, top + 2);
        const QString text = QString::number(m);
        const int width = metrics.horizontalAdvance(text);
        const int left = std::clamp(x - width / 2, labelWidth_, image.width() - width);
        painter.drawText(QRect(left, top + 3, width, metrics.height()), Qt::AlignCenter, text);
    }
}

void THelicorderPicture::DrawBand(QImage& image, const THelicorderDraw& draw, int first, int last) {
    const THelicorderRows& rows = draw.Rows;
    const int width = image.width();
    if (rowsBottom_ <= rowsTop_ || width <= labelWidth_ || rows.Count <= 0 || first > last) {
        return;
    }
    const int bandTop = RowTop(first);
    const int bandBottom = RowTop(last + 1);  // exclusive
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
            use(labelWidth_ + left, right - left, event.Id == draw.Highlight && event.Id != 0);
        }
    };
    const QFontMetrics metrics(draw.Font);
    const double rowHeight = static_cast<double>(rowsBottom_ - rowsTop_) / rows.Count;
    {
        QPainter painter(&image);
        painter.setClipRect(0, bandTop, width, bandBottom - bandTop);
        const QColor tick = Mix(draw.Background, draw.Trace, 45);
        const int minutes = rows.RowSeconds / 60;
        for (int r = first; r <= last; ++r) {
            const int top = RowTop(r);
            const int bottom = RowTop(r + 1);
            painter.fillRect(0, top, width, bottom - top,
                             RowShade(draw.Background, OddRow(rows, r)));
            forEventSpans(
                r, [&](int x, int w, bool) { painter.fillRect(x, top, w, bottom - top, shade); });
            // A tick at every minute along the row's top.
            for (int m = 1; m < minutes; ++m) {
                const int x =
                    labelWidth_ + static_cast<int>(static_cast<int64_t>(m) * plotWidth / minutes);
                painter.fillRect(x, top, 1, std::min(2, bottom - top), tick);
            }
            if (SecondOfDay(rows.Start(r)) == 0 && r > 0) {
                painter.fillRect(0, top, width, 1, draw.Trace);  // midnight
            }
        }
        // A row's start at its left, on whole multiples of a period that leaves room for them.
        painter.setFont(draw.Font);
        painter.setPen(draw.Trace);
        int64_t period = rows.RowSeconds;
        for (const int64_t candidate : {900, 1800, 3600, 7200, 10800, 21600, 43200, 86400}) {
            period = std::max<int64_t>(candidate, rows.RowSeconds);
            if (candidate % rows.RowSeconds == 0 &&
                static_cast<double>(period) / rows.RowSeconds * rowHeight >= metrics.height()) {
                break;
            }
        }
        for (int r = first; r <= last; ++r) {
            const int64_t start = rows.Start(r);
            if (start - FloorDiv(start, period) * period != 0) {
                continue;
            }
            const int centre = static_cast<int>(rowsTop_ + (r + 0.5) * rowHeight);
            const bool midnight = SecondOfDay(start) == 0;
            painter.drawText(
                QRect(0, centre - metrics.height() / 2, labelWidth_ - 4, metrics.height()),
                Qt::AlignRight | Qt::AlignVCenter,
                midnight ? RowLabel(start) : RowLabel(start) + QStringLiteral(" UTC"));
        }
    }
    if (draw.Source != nullptr) {
        // The traces of the rows above whose clipped excursion reaches into the band, too.
        const int reach = static_cast<int>(std::ceil(ClipRows));
        for (int r = std::max(0, first - reach); r <= last; ++r) {
            DrawTrace(image, draw, r, bandTop, bandBottom);
        }
    }
    // Over the traces, a bar at the top and bottom of each row under an event; a frame around
    // the highlighted one.
    QPainter painter(&image);
    painter.setClipRect(0, bandTop, width, bandBottom - bandTop);
    const QColor highlight = HighlightColour();
    for (int r = first; r <= last; ++r) {
        const int top = RowTop(r);
        const int bottom = RowTop(r + 1);
        const int bar = std::max(1, std::min(MarkBar, (bottom - top) / 4));
        forEventSpans(r, [&](int x, int w, bool highlighted) {
            const QColor& colour = highlighted ? highlight : draw.Mark;
            painter.fillRect(x, top, w, bar, colour);
            painter.fillRect(x, bottom - bar, w, bar, colour);
            if (highlighted) {
                painter.fillRect(x, top, 2, bottom - top, highlight);
                painter.fillRect(x + w - 2, top, 2, bottom - top, highlight);
            }
        });
    }
}

void THelicorderPicture::DrawTrace(QImage& image, const THelicorderDraw& draw, int row, int clipTop,
                                   int clipBottom) const {
    const THelicorderRows& rows = draw.Rows;
    const THelicorder& source = *draw.Source;
    const int plotWidth = image.width() - labelWidth_;
    const double rowHeight = static_cast<double>(rowsBottom_ - rowsTop_) / rows.Count;
    const double baseline = rowsTop_ + (row + 0.5) * rowHeight;
    const double scale = rowHeight / 2 / std::max(draw.HalfRowCounts, 1.0);  // pixels per count
    const double clip = ClipRows * rowHeight;
    const int64_t firstSlot = THelicorder::SlotOf(rows.Start(row));
    const int64_t rowSlots = static_cast<int64_t>(rows.RowSeconds) * THelicorder::SlotsPerSecond;
    if (firstSlot > source.NewestSlot() || firstSlot + rowSlots <= source.OldestSlot()) {
        return;
    }
    const double centre = source.Centre(draw.Channel, draw.Series, firstSlot, firstSlot + rowSlots);
    const QRgb colour = (OddRow(rows, row) ? AlternateTrace(draw.Trace) : draw.Trace).rgb();
    const QRgb clipped = ClipColour(draw.Background).rgb();
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
        // The samples at the converter's full scale, whichever series is shown.
        const THelicorder::TRange raw =
            draw.Series == THelicorder::TSeries::Raw
                ? range
                : source.Range(draw.Channel, THelicorder::TSeries::Raw, from, to);
        const bool atFullScale = raw.Max >= FullScale - 1 || raw.Min <= -FullScale;
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
            reinterpret_cast<QRgb*>(bits + y * stride)[labelWidth_ + x] =
                atFullScale ? clipped : colour;
        }
    }
}
