#include "main/time_frequency_legend.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

constexpr int BarLeft = 4;
constexpr int BarWidth = 12;

// Power spectral density, dB of full scale squared per Hz.
QString Caption() {
    return QStringLiteral("dBFS/Hz");
}

}  // namespace

TTimeFrequencyLegend::TTimeFrequencyLegend(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    const QFontMetrics metrics(font());
    setFixedWidth(
        std::max(BarLeft + BarWidth + 6 + metrics.horizontalAdvance(QStringLiteral("-250")),
                 metrics.horizontalAdvance(Caption())) +
        4);
}

void TTimeFrequencyLegend::SetRange(const TDbRange& range) {
    if (range != range_) {
        range_ = range;
        update();
    }
}

void TTimeFrequencyLegend::SetColours(const QColor& background, const QColor& text) {
    background_ = background;
    text_ = text;
    update();
}

void TTimeFrequencyLegend::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    const QFontMetrics metrics(font());
    const int line = metrics.height();
    painter.setPen(text_);
    painter.drawText(QRect(0, 0, width(), line), Qt::AlignCenter, Caption());
    // The bar from a line below the caption to half a line above the bottom.
    const int top = line + line / 2;
    const int bottom = height() - line / 2 - 1;
    const int bar = bottom - top;
    if (bar < 2) {
        return;
    }
    const std::array<uint32_t, 256>& colours = SpectrogramColours();
    for (int y = 0; y <= bar; ++y) {
        const int index = std::clamp(static_cast<int>(256.0 * (bar - y) / (bar + 1)), 0, 255);
        painter.setPen(QColor::fromRgb(colours[static_cast<size_t>(index)]));
        painter.drawLine(BarLeft, top + y, BarLeft + BarWidth - 1, top + y);
    }
    // Labels at the multiples of 10, 20, 50 or 100 dB that leave a line and a half between them.
    const double span = range_.Max - range_.Min;
    double step = 10;
    for (const double candidate : {10.0, 20.0, 50.0, 100.0}) {
        step = candidate;
        if (bar * candidate / span >= line * 1.5) {
            break;
        }
    }
    painter.setPen(text_);
    const int labelLeft = BarLeft + BarWidth + 2;
    for (double db = std::ceil(range_.Min / step) * step; db <= range_.Max + 1e-9; db += step) {
        const int y = top + static_cast<int>(std::lround((range_.Max - db) / span * bar));
        painter.drawLine(labelLeft - 2, y, labelLeft + 1, y);
        painter.drawText(QRect(labelLeft + 3, y - line / 2, width() - labelLeft - 3, line),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::number(db));
    }
}
