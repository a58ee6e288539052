// Questions, error messages and file choices to the user: modal message
// boxes and dialogs over a given window, unless a test has put its own
// answers in their place.
#pragma once

#include <QFileDialog>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

// The save dialog of a text file: "Text Files" or "All Files", default suffix "txt"; an
// existing file is replaced only after a question. A file in a folder that does not exist is
// refused with a message (through `refuse`) and the dialog stays open.
class TTextFileSaveDialog : public QFileDialog {
    Q_OBJECT
  public:
    using TRefusal = std::function<void(QWidget*, const QString&)>;

    TTextFileSaveDialog(QWidget* parent, const QString& title, TRefusal refuse);

    // The message for a chosen path whose folder does not exist; empty when it does.
    static QString FolderRefusal(const QString& path);

    // Qt's own dialog, not the platform's: it has a file name field, and stays open on a
    // refusal.
    bool OwnWidgets() const;

    void accept() override;

  private:
    TRefusal refuse_;
};

class TPrompts {
  public:
    using TConfirmHook = std::function<bool(const QString&)>;
    using TMessageSink = std::function<void(const QString&)>;
    using TDialogHook = std::function<int(QDialog&)>;
    // Given the dialog's title, the chosen path or an empty text for Cancel.
    using TSaveFileHook = std::function<QString(const QString&)>;

    void SetConfirmHook(TConfirmHook hook) { confirmHook_ = std::move(hook); }
    void SetMessageSink(TMessageSink sink) { messageSink_ = std::move(sink); }

    // A Yes/No question with the confirmation icon, captioned "Confirm"; true for Yes.
    bool Confirm(QWidget* parent, const QString& text) const;
    // A warning captioned "Error" with an OK button.
    void Error(QWidget* parent, const QString& text) const;
    // A failure of work that goes on (a file that cannot be written): a line
    // on standard error and a warning that does not block the window.
    void Report(QWidget* parent, const QString& text) const;
    void SetReportSink(TMessageSink sink) { reportSink_ = std::move(sink); }
    // A modal dialog shown and its result (QDialog::Accepted or Rejected);
    // a test's hook works the dialog instead, without blocking.
    int Exec(QDialog& dialog) const;
    void SetDialogHook(TDialogHook hook) { dialogHook_ = std::move(hook); }
    // The save dialog of a text file (TTextFileSaveDialog, shown through Exec):
    // an existing file is overwritten only after a question, and the folder
    // must exist. The path chosen, empty for Cancel.
    QString SaveTextFile(QWidget* parent, const QString& title) const;
    void SetSaveFileHook(TSaveFileHook hook) { saveFileHook_ = std::move(hook); }

  private:
    TConfirmHook confirmHook_;
    TMessageSink messageSink_;
    TMessageSink reportSink_;
    TDialogHook dialogHook_;
    TSaveFileHook saveFileHook_;
};
