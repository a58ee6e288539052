// A spin box that reports every change of its text, typed or set: QSpinBox's
// own signals wait until the typed text is an acceptable number, while the
// pages act on each keystroke (an emptied field, for one). An emptied field or
// a number below the minimum becomes the minimum, shown and in force, before
// it is reported.
#pragma once

#include <QSpinBox>
#include <QString>
#include <algorithm>

class TSpinEdit : public QSpinBox {
    Q_OBJECT
  public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    // The span keys: the value doubled (up to the maximum) or halved (not below the minimum).
    void StepSpan(bool longer) {
        setValue(longer ? value() * 2 : std::max(value() / 2, minimum()));
    }

  signals:
    // Once per new text, after the spin box has taken it over into its value.
    void Changed();

  private:
    void ReportText();
    // The text is empty or a number below the minimum.
    bool BelowMinimum() const;

    QString reported_;
};
