// Small builders shared by the pages and dialogs: named check boxes, buttons
// and speed buttons, a separator line, and the key filter of numeric fields.
#pragma once

#include <QObject>
#include <QString>
#include <QStyle>
#include <functional>

#include "monitor/number_format.h"

class QCheckBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QToolButton;
class QWidget;

QCheckBox* MakeCheck(const QString& name, const QString& caption, bool checked, QWidget* parent);

// A push button that takes the focus by tab only, as the top panel's do.
QPushButton* MakeButton(const QString& name, const QString& caption, QWidget* parent);

// A flat tool-bar button with text, or a standard icon with the text as its tip.
QToolButton* MakeSpeedButton(const QString& name, const QString& text, QWidget* parent,
                             QStyle::StandardPixmap glyph = QStyle::SP_CustomBase);

// Sizes a line edit to hold `sample` at its font, never narrower than `minimum`.
void FitEditWidth(QLineEdit* edit, const QString& sample, int minimum);

// A sunken horizontal line.
QFrame* MakeBevel(const QString& name, QWidget* parent);

// Installed on a numeric field: every typed character goes through
// FilterNumericKey (no minus; a point, the user's decimal separator, only when
// allowed); a rejected key beeps and is swallowed. The field's text is read
// through `currentText`, as spin boxes keep theirs in an inner editor.
class TNumericKeyFilter : public QObject {
    Q_OBJECT
  public:
    TNumericKeyFilter(QWidget* field, std::function<QString()> currentText, bool allowPoint,
                      const TNumberSeparators& separators);

    // Whether `typed` goes into the field now (the beep included when not).
    bool Passes(const QString& typed) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<QString()> currentText_;
    bool allowPoint_;
    const TNumberSeparators& separators_;
};
