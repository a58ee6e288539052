// A colour swatch: a small square filled with one colour setting, outlined in
// black. It keeps the setting's value as it was given, top byte included, so
// that a value the user did not change goes back unchanged.
#pragma once

#include <QWidget>
#include <cstdint>

class TSwatch : public QWidget {
    Q_OBJECT
  public:
    static constexpr int Side = 25;

    explicit TSwatch(QWidget* parent = nullptr);

    int32_t Value() const { return value_; }
    void SetValue(int32_t value);
    // The colour shown: the value without its top byte.
    QColor Colour() const;

    QSize sizeHint() const override { return {Side, Side}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int32_t value_ = 0;
};
