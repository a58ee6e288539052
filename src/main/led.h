// The activity lamp: a small circle filled with its brush colour.
#pragma once

#include <QColor>
#include <QWidget>

class TLed : public QWidget {
    Q_OBJECT
  public:
    static inline const QColor Green{0, 128, 0};
    static inline const QColor Lime{0, 255, 0};

    explicit TLed(QWidget* parent = nullptr);

    QColor BrushColor() const { return brush_; }
    void SetBrushColor(const QColor& color);
    // One block: green turns lime, anything else green.
    void Blink() { SetBrushColor(brush_ == Green ? Lime : Green); }
    // Blocks have stopped: a lime lamp turns green.
    void Rest() {
        if (brush_ == Lime) {
            SetBrushColor(Green);
        }
    }
    QSize sizeHint() const override { return {20, 20}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor brush_ = Green;
};
