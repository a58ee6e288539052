// The Spectrogram page's colour bar: the level scale from the range's top (above) to its
// bottom (below), labelled in dB of full scale, on the page's background.
#pragma once

#include <QColor>
#include <QWidget>

#include "monitor/time_frequency.h"

class TTimeFrequencyLegend : public QWidget {
    Q_OBJECT
  public:
    explicit TTimeFrequencyLegend(QWidget* parent = nullptr);

    // Repainted only when one of them changes.
    void SetRange(const TDbRange& range);
    void SetColours(const QColor& background, const QColor& text);
    const TDbRange& Range() const { return range_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    TDbRange range_;
    QColor background_ = Qt::black;
    QColor text_ = Qt::white;
};
