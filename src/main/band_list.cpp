#include "main/band_list.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>

TGraphView::TGraphView(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted by paintEvent: no background erase before it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TGraphView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit Resized();
}

void TGraphView::mouseMoveEvent(QMouseEvent* event) {
    QWidget::mouseMoveEvent(event);
    emit MouseMoved(event->position().toPoint());
}

TBandList::TBandList(int designItemHeight, QWidget* parent)
    : TGraphView(parent), itemHeight_(designItemHeight) {
    ResizeImages(MaxChannels);
}

void TBandList::Clear() {
    items_.clear();
}

void TBandList::AddItem(int channel) {
    items_.push_back(channel);
}

int TBandList::ItemAt(QPoint point) const {
    if (point.x() < 0 || point.x() >= width() || point.y() < 0 || itemHeight_ <= 0) {
        return -1;
    }
    const int index = point.y() / itemHeight_;
    return index < Count() ? index : -1;
}

void TBandList::ResizeImages(int channelCount) {
    if (!items_.empty()) {
        itemHeight_ = height() / Count();
    }
    itemWidth_ = width();
    for (int c = 0; c < channelCount && c < MaxChannels; ++c) {
        QImage image(itemWidth_, itemHeight_, QImage::Format_RGB32);
        image.fill(Qt::black);
        images_[static_cast<size_t>(c)] = std::move(image);
    }
}

void TBandList::SetColour(const QColor& colour) {
    colour_ = colour;
    update();
}

void TBandList::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    QRegion rest = event->region();
    for (int i = 0; i < Count(); ++i) {
        const int channel = items_[static_cast<size_t>(i)];
        if (channel < 0 || channel >= MaxChannels) {
            continue;
        }
        // The band is the image's size; a list wider than an image shows the
        // list's colour beside it until the images are resized.
        const QImage& image = images_[static_cast<size_t>(channel)];
        const QRect band(0, i * itemHeight_, std::min(itemWidth_, image.width()),
                         std::min(itemHeight_, image.height()));
        painter.drawImage(band.topLeft(), image, QRect(QPoint(0, 0), band.size()));
        rest -= band;
    }
    for (const QRect& rect : rest) {
        painter.fillRect(rect, colour_);
    }
}
