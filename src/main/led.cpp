#include "main/led.h"

#include <QPainter>

TLed::TLed(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
}

void TLed::SetBrushColor(const QColor& color) {
    if (color != brush_) {
        brush_ = color;
        update();
    }
}

void TLed::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(brush_);
    painter.drawEllipse(rect().adjusted(1, 1, -2, -2));
}
