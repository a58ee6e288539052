// The upload dialog: the boot, main and filter code files, the status line, the
// progress bar, Upload and Close/Cancel. Upload runs the firmware upload on the given
// (stopped) link on a thread of its own, while the click waits in an ordinary event
// loop: the dialog repaints and takes clicks and keys at once in every phase. What the
// run tells and asks its user is carried over to the dialog's thread.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "upload/upload_procedure.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TDigitizer;

// The filters of the file-open dialog: HEX files, then all files.
QStringList HexFileFilters();
// The file-open dialog for a HEX file (an existing file only), opened at `start`.
// Returns the chosen file's full path, or an empty text for Cancel.
QString BrowseForHexFile(QWidget* owner, const QString& title, const QString& start);

class TUploadDlg : public QDialog, private TUploadUser {
    Q_OBJECT
  public:
    // Owner, title, start path; the chosen path or "".
    using TFileBrowser = std::function<QString(QWidget*, const QString&, const QString&)>;
    // Owner, caption, prompt; the text typed, none for Cancel.
    using TInputBox =
        std::function<std::optional<QString>(QWidget*, const QString&, const QString&)>;
    // Owner, icon, caption, text, buttons; the button pressed.
    using TMessageBox = std::function<QMessageBox::StandardButton(
        QWidget*, QMessageBox::Icon, const QString&, const QString&, QMessageBox::StandardButtons)>;

    // The run starts `link` (stopped, its device path set) on `port`.
    TUploadDlg(TDigitizer& link, uint8_t port, QWidget* owner = nullptr);
    ~TUploadDlg() override;

    // The handlers.
    void BrowseBootButtonClick();
    void BrowseMainButtonClick();
    void BrowseFilterButtonClick();
    void UploadButtonClick();
    void ActionButtonClick();

    // Replacements for the file-open dialog, the input box and the message boxes.
    void SetFileBrowser(TFileBrowser browser) { browser_ = std::move(browser); }
    void SetInputBox(TInputBox input) { input_ = std::move(input); }
    void SetMessageBox(TMessageBox box) { messageBox_ = std::move(box); }
    // Switches the unit off and on when the power-cycle prompt is answered OK (the
    // built-in simulator); none for a real unit, which the user switches.
    void SetPowerCycle(std::function<void()> powerCycle) { powerCycle_ = std::move(powerCycle); }
    // The run's pauses take `scale` times their time (tests).
    void SetTimeScale(double scale) { timeScale_ = scale; }

    // A run is in progress.
    bool Running() const { return running_; }
    bool UploadCancelled() const { return uploadCancelled_.load(); }
    std::optional<TUploadResult> LastResult() const { return lastResult_; }
    // The owner is closing: a run is cancelled and the dialog closes after it; an idle
    // dialog closes at once.
    void CancelAndClose();

    QLineEdit* BootFile() const { return bootFile_; }
    QLineEdit* MainFile() const { return mainFile_; }
    QLineEdit* FilterFile() const { return filterFile_; }
    QLabel* Status() const { return status_; }
    QProgressBar* ProgressBar() const { return progressBar_; }
    QPushButton* UploadButton() const { return uploadButton_; }
    QPushButton* ActionButton() const { return actionButton_; }

  protected:
    // Escape and the window's close: Cancel while sending, Close when idle.
    void reject() override;

  private:
    void BuildControls();
    void Browse(QLineEdit* edit, const QString& title);
    QMessageBox::StandardButton Ask(QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons);

    // Runs `work` on the dialog's thread and waits for it (called on the run's thread).
    void OnDialogThread(const std::function<void()>& work);
    void StatusText(const std::string& text);
    void ProgressValue(int percent);
    void WaitCursor(bool on);
    void Sending(bool on);

    // TUploadUser, called on the run's thread.
    bool ConfirmPowerCycle() override;
    std::string AskSerialNumber() override;
    void ShowStatus(const std::string& text) override;
    void ShowProgress(int percent) override;
    void Refuse(const std::string& problem) override;
    void SetWaiting(bool on) override;
    void SetSending(bool on) override;
    void ReportLost(const std::string& text) override;
    bool CancelRequested() override { return uploadCancelled_.load(); }

    TDigitizer& link_;
    uint8_t port_;
    TFileBrowser browser_ = BrowseForHexFile;
    TInputBox input_;
    TMessageBox messageBox_;
    std::function<void()> powerCycle_;
    double timeScale_ = 1.0;
    bool running_ = false;
    std::atomic<bool> uploadCancelled_{false};
    std::atomic<bool> closeAfterRun_{false};
    bool waitCursor_ = false;
    std::optional<TUploadResult> lastResult_;

    QGroupBox* files_ = nullptr;
    QLineEdit* bootFile_ = nullptr;
    QLineEdit* mainFile_ = nullptr;
    QLineEdit* filterFile_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* uploadButton_ = nullptr;
    QPushButton* actionButton_ = nullptr;
};
