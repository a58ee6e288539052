#include "main/prompts.h"

#include <QMessageBox>

bool TPrompts::Confirm(QWidget* parent, const QString& text) const {
    if (confirmHook_) {
        return confirmHook_(text);
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

void TPrompts::Error(QWidget* parent, const QString& text) const {
    if (messageSink_) {
        messageSink_(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok, parent);
    box.exec();
}
