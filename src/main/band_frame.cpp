#include "main/band_frame.h"

#include <QPainter>

#include "main/graph_resources.h"

void FillBand(QPainter& painter, int width, int height, const QBrush& background) {
    painter.fillRect(0, 0, width, height, background);
}

void DrawTopLine(QPainter& painter, const TGraphResources& resources, int width) {
    painter.setPen(resources.FrameLinePen());
    painter.drawLine(0, 0, width - 1, 0);
}

void DrawCentreLine(QPainter& painter, const TGraphResources& resources, int width, int y) {
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setPen(resources.CentreLinePen());
    painter.drawLine(0, y, width - 1, y);
}
