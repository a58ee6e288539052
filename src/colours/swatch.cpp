#include "colours/swatch.h"

#include <QPainter>

#include "colours/colour_value.h"

TSwatch::TSwatch(QWidget* parent) : QWidget(parent) {
    setFixedSize(Side, Side);
}

void TSwatch::SetValue(int32_t value) {
    value_ = value;
    update();
}

QColor TSwatch::Colour() const {
    return ColourFromSetting(value_);
}

void TSwatch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Colour());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
