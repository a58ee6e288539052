#include "main/prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>

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

void TPrompts::Report(QWidget* parent, const QString& text) const {
    std::fprintf(stderr, "kestrel32: %s\n", text.toLocal8Bit().constData());
    if (reportSink_) {
        reportSink_(text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Error"), text,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

int TPrompts::Exec(QDialog& dialog) const {
    return dialogHook_ ? dialogHook_(dialog) : dialog.exec();
}

QString TPrompts::SaveTextFile(QWidget* parent, const QString& title) const {
    if (saveFileHook_) {
        return saveFileHook_(title);
    }
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}
