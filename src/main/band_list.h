// A graph page's list of bands: one band per displayed channel, all of one
// height, stacked from the top. Each band is painted by copying its channel's
// image; the pages draw into the images as blocks arrive and ask for a
// repaint, which never erases (the images cover the bands).
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <array>
#include <vector>

#include "digitizer/data_block.h"

// A widget a graph page draws into: painted without an erase before it (its images cover
// it), it says when its size changed and where the mouse moved over it.
class TGraphView : public QWidget {
    Q_OBJECT
  public:
    explicit TGraphView(QWidget* parent = nullptr);

  signals:
    // The size changed: the page makes its images anew and redraws.
    void Resized();
    // The mouse moved over the view (with the mouse tracked, also without a button held),
    // at `point` in view coordinates.
    void MouseMoved(QPoint point);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

class TBandList : public TGraphView {
    Q_OBJECT
  public:
    // Before the first resize with items the bands are `designItemHeight` high.
    explicit TBandList(int designItemHeight, QWidget* parent = nullptr);

    // The items: one per band, each naming the channel whose image it shows.
    void Clear();
    void AddItem(int channel);
    int Count() const { return static_cast<int>(items_.size()); }
    int ItemChannel(int index) const { return items_.at(static_cast<size_t>(index)); }
    // The index of the band at `point`, -1 where there is none.
    int ItemAt(QPoint point) const;

    // With at least one item the item height becomes the client height divided
    // by the number of items (integer division). The item width is the client
    // width. The images of channels 0 ... channelCount - 1 are made anew at
    // ItemWidth x ItemHeight and filled black, whatever the background colour.
    void ResizeImages(int channelCount);
    int ItemWidth() const { return itemWidth_; }
    int ItemHeight() const { return itemHeight_; }
    QImage& Image(int channel) { return images_.at(static_cast<size_t>(channel)); }
    const QImage& Image(int channel) const { return images_.at(static_cast<size_t>(channel)); }

    // The colour of the list where no band is.
    void SetColour(const QColor& colour);
    QColor Colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<int> items_;
    std::array<QImage, MaxChannels> images_;
    int itemWidth_ = 0;
    int itemHeight_;
    QColor colour_ = Qt::black;
};
