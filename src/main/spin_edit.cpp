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

void TSpinEdit::ReportText() {
    const QString text = lineEdit()->text();
    if (text != reported_) {
        reported_ = text;
        emit Changed();
    }
}
