#include "main/column_runs.h"

#include <QPainter>

QPoint LineEnd(QPoint from, int64_t x, int y) {
    if (x <= FarColumn) {
        return {static_cast<int>(x), y};
    }
    const double t = static_cast<double>(FarColumn - from.x()) / static_cast<double>(x - from.x());
    return {static_cast<int>(FarColumn), from.y() + qRound((y - from.y()) * t)};
}

void TColumnRuns::Segment(QPoint from, int64_t x, int y, const QPen& pen) {
    if (x - from.x() <= 1 && x >= from.x()) {
        Add(from.x(), from.y(), y);
        Add(x, from.y(), y);
        return;
    }
    Flush();
    painter_.setPen(pen);
    painter_.drawLine(from, LineEnd(from, x, y));
}

void TColumnRuns::Flush() {
    if (column_ >= 0 && column_ < width_) {
        painter_.fillRect(QRect(static_cast<int>(column_), top_, 1, bottom_ - top_ + 1), colour_);
    }
    column_ = -1;
}
