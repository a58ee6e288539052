#include "main/spin_edit.h"

#include <QLineEdit>

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent), reported_(lineEdit()->text()) {
    // A typed text reaches the editor's signal (after the spin box's own
    // handler, which takes an acceptable number over into the value); a value
    // set in code changes the text with the editor's signals blocked and is
    // seen through valueChanged. A typed number is seen by both, reported once.
    connect(lineEdit(), &QLineEdit::textChanged, this, [this] { ReportText(); });
    connect(this, &QSpinBox::valueChanged, this, [this] { ReportText(); });
}

bool TSpinEdit::BelowMinimum() const {
    const QString text = lineEdit()->text().trimmed();
    if (text.isEmpty()) {
        return true;
    }
    // QSpinBox keeps its old value for a typed number below the minimum (the
    // text is only "intermediate" to it), so the number is read here.
    bool ok = false;
    const int number = locale().toInt(text, &ok);
    return ok && number < minimum();
}

void TSpinEdit::ReportText() {
    if (BelowMinimum()) {
        // The minimum, selected so that the number typed next replaces it. When the value
        // is the minimum already, only the text changes, without a signal: it is reported
        // below. Otherwise the value's signal comes back here and reports it.
        setValue(minimum());
        selectAll();
    }
    const QString text = lineEdit()->text();
    if (text != reported_) {
        reported_ = text;
        emit Changed();
    }
}
