#include "main/prompts.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <cstdio>

TTextFileSaveDialog::TTextFileSaveDialog(QWidget* parent, const QString& title, TRefusal refuse)
    : QFileDialog(parent, title), refuse_(std::move(refuse)) {
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setNameFilters({QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*)")});
    setDefaultSuffix(QStringLiteral("txt"));
}

QString TTextFileSaveDialog::FolderRefusal(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo(folder).isDir()) {
        return {};
    }
    return tr("The folder %1 does not exist.").arg(QDir::toNativeSeparators(folder));
}

bool TTextFileSaveDialog::OwnWidgets() const {
    return findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) != nullptr;
}

void TTextFileSaveDialog::accept() {
    const QStringList files = selectedFiles();
    const QString refusal = files.isEmpty() ? QString() : FolderRefusal(files.constFirst());
    if (!refusal.isEmpty()) {
        refuse_(this, refusal);
        // Qt's own dialog (with its file name field) stays open for another choice; a
        // platform's dialog has closed already, and SaveTextFile shows it again.
        if (OwnWidgets()) {
            return;
        }
    }
    QFileDialog::accept();
}

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
    TTextFileSaveDialog dialog(parent, title,
                               [this](QWidget* owner, const QString& text) { Error(owner, text); });
    while (Exec(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QString path = dialog.selectedFiles().constFirst();
        if (TTextFileSaveDialog::FolderRefusal(path).isEmpty()) {
            return path;
        }
        // Refused (and said) in the dialog's accept; a platform's dialog has closed on it
        // and is shown again. Qt's own dialog does not close on it.
        if (dialog.OwnWidgets()) {
            break;
        }
    }
    return {};
}
