#include "upload/upload_dlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <thread>

#include "digitizer/digitizer.h"

namespace {

const QString Caption = QStringLiteral("Upload");
const QString CancelCaption = QStringLiteral("&Cancel");
const QString CloseCaption = QStringLiteral("&Close");

QPushButton* MakeDialogButton(const QString& name, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

}  // namespace

QStringList HexFileFilters() {
    return {QStringLiteral("Intel Hex Files (*.hex)"), QStringLiteral("All Files (*)")};
}

QString BrowseForHexFile(QWidget* owner, const QString& title, const QString& start) {
    QFileDialog dialog(owner, title, start.isEmpty() ? QString() : QFileInfo(start).path());
    dialog.setObjectName(QStringLiteral("OpenDlg"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(HexFileFilters());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
}

TUploadDlg::TUploadDlg(TDigitizer& link, uint8_t port, QWidget* owner)
    : QDialog(owner), link_(link), port_(port) {
    BuildControls();
}

TUploadDlg::~TUploadDlg() {
    WaitCursor(false);
}

void TUploadDlg::BuildControls() {
    setObjectName(QStringLiteral("UploadDlg"));
    setWindowTitle(Caption);
    auto* layout = new QVBoxLayout(this);

    files_ = new QGroupBox(QStringLiteral("Files"), this);
    files_->setObjectName(QStringLiteral("GroupBox1"));
    auto* grid = new QGridLayout(files_);
    struct TRow {
        const char* label;
        const char* caption;
        const char* edit;
        const char* button;
        QLineEdit** field;
        void (TUploadDlg::*handler)();
    };
    const TRow rows[] = {
        {"Label1", "Boot Code", "BootFile", "BrowseBootButton", &bootFile_,
         &TUploadDlg::BrowseBootButtonClick},
        {"Label2", "Main Code", "MainFile", "BrowseMainButton", &mainFile_,
         &TUploadDlg::BrowseMainButtonClick},
        {"Label3", "Filter Code", "FilterFile", "BrowseFilterButton", &filterFile_,
         &TUploadDlg::BrowseFilterButtonClick},
    };
    int row = 0;
    for (const TRow& r : rows) {
        auto* label = new QLabel(QString::fromLatin1(r.caption), files_);
        label->setObjectName(QString::fromLatin1(r.label));
        auto* edit = new QLineEdit(files_);
        edit->setObjectName(QString::fromLatin1(r.edit));
        edit->setMinimumWidth(320);
        label->setBuddy(edit);
        QPushButton* browse = MakeDialogButton(QString::fromLatin1(r.button), "...", files_);
        browse->setAutoDefault(false);
        browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
        connect(browse, &QPushButton::clicked, this,
                [this, handler = r.handler] { (this->*handler)(); });
        *r.field = edit;
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
        grid->addWidget(browse, row, 2);
        ++row;
    }
    layout->addWidget(files_);

    // One line of status; a long path does not widen the dialog.
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Status"));
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_->setMinimumHeight(status_->fontMetrics().height());
    layout->addWidget(status_);

    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("ProgressBar"));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    layout->addWidget(progressBar_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    uploadButton_ =
        MakeDialogButton(QStringLiteral("UploadButton"), QStringLiteral("&Upload"), this);
    uploadButton_->setDefault(true);
    actionButton_ = MakeDialogButton(QStringLiteral("ActionButton"), CloseCaption, this);
    actionButton_->setAutoDefault(false);
    buttons->addWidget(uploadButton_);
    buttons->addWidget(actionButton_);
    layout->addLayout(buttons);
    connect(uploadButton_, &QPushButton::clicked, this, [this] { UploadButtonClick(); });
    connect(actionButton_, &QPushButton::clicked, this, [this] { ActionButtonClick(); });

    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TUploadDlg::Browse(QLineEdit* edit, const QString& title) {
    const QString path = browser_(this, title, edit->text());
    if (!path.isEmpty()) {
        edit->setText(path);
    }
}

void TUploadDlg::BrowseBootButtonClick() {
    Browse(bootFile_, QStringLiteral("Select the boot code file"));
}

void TUploadDlg::BrowseMainButtonClick() {
    Browse(mainFile_, QStringLiteral("Select the main code file"));
}

void TUploadDlg::BrowseFilterButtonClick() {
    Browse(filterFile_, QStringLiteral("Select the filter code file"));
}

void TUploadDlg::UploadButtonClick() {
    if (running_) {
        return;
    }
    running_ = true;
    uploadCancelled_ = false;
    // The files stay as they are while they are being sent; Close waits for the run.
    files_->setEnabled(false);
    uploadButton_->setEnabled(false);
    actionButton_->setEnabled(false);
    const TFirmwareFiles files{bootFile_->text().toStdString(), mainFile_->text().toStdString(),
                               filterFile_->text().toStdString()};
    // The run waits for the unit on its own thread; this click waits for the run in an
    // event loop of its own, so the dialog answers the user meanwhile, and the caller
    // finds the run over when the click returns.
    QEventLoop loop;
    std::optional<TUploadResult> result;
    std::atomic<bool> finished{false};
    std::thread run([this, &files, &result, &loop, &finished] {
        TSleepWait wait(timeScale_);
        TFirmwareUpload upload(link_, port_, *this, wait);
        result = upload.Run(files);
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    // The application's exit ends every event loop and keeps new ones from starting; the
    // rest of the run is waited out here, still answering it, since it may be waiting for
    // this thread. Its last call wakes the wait.
    while (!finished) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    run.join();
    lastResult_ = std::move(result);
    files_->setEnabled(true);
    uploadButton_->setEnabled(true);
    actionButton_->setEnabled(true);
    running_ = false;
    if (closeAfterRun_) {
        QDialog::reject();
    }
}

void TUploadDlg::ActionButtonClick() {
    if (actionButton_->text() != CancelCaption) {
        QDialog::reject();
        return;
    }
    if (Ask(QMessageBox::Question, QStringLiteral("Cancel Upload"),
            QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        uploadCancelled_ = true;
    }
}

void TUploadDlg::reject() {
    if (!running_) {
        QDialog::reject();
    } else if (actionButton_->text() == CancelCaption) {
        ActionButtonClick();
    }
}

void TUploadDlg::CancelAndClose() {
    if (!running_) {
        QDialog::reject();
        return;
    }
    uploadCancelled_ = true;
    closeAfterRun_ = true;
}

QMessageBox::StandardButton TUploadDlg::Ask(QMessageBox::Icon icon, const QString& text,
                                            QMessageBox::StandardButtons buttons) {
    if (messageBox_) {
        return messageBox_(this, icon, Caption, text, buttons);
    }
    QMessageBox box(icon, Caption, text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void TUploadDlg::OnDialogThread(const std::function<void()>& work) {
    if (QThread::currentThread() == thread()) {
        work();
    } else {
        QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
    }
}

void TUploadDlg::StatusText(const std::string& text) {
    status_->setText(QString::fromStdString(text));
}

void TUploadDlg::ProgressValue(int percent) {
    progressBar_->setValue(percent);
}

void TUploadDlg::WaitCursor(bool on) {
    if (on == waitCursor_) {
        return;
    }
    waitCursor_ = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TUploadDlg::Sending(bool on) {
    actionButton_->setText(on ? CancelCaption : CloseCaption);
    // While the run waits for the unit outside the sending, there is nothing to cancel
    // and the dialog cannot close yet.
    actionButton_->setEnabled(on || !running_);
}

bool TUploadDlg::ConfirmPowerCycle() {
    bool confirmed = false;
    OnDialogThread([&] {
        if (Ask(QMessageBox::Information, QString::fromLatin1(PowerCycleText),
                QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
            return;
        }
        confirmed = true;
        if (powerCycle_) {
            powerCycle_();
        }
    });
    return confirmed;
}

std::string TUploadDlg::AskSerialNumber() {
    std::optional<QString> text;
    OnDialogThread([&] {
        if (input_) {
            text = input_(this, Caption, QStringLiteral("Serial Number"));
            return;
        }
        bool ok = false;
        const QString typed = QInputDialog::getText(this, Caption, QStringLiteral("Serial Number"),
                                                    QLineEdit::Normal, QString(), &ok);
        if (ok) {
            text = typed;
        }
    });
    // One byte per character, as the unit keeps it.
    return text ? text->toLatin1().toStdString() : std::string();
}

void TUploadDlg::ShowStatus(const std::string& text) {
    OnDialogThread([&] { StatusText(text); });
}

void TUploadDlg::ShowProgress(int percent) {
    OnDialogThread([&] { ProgressValue(percent); });
}

void TUploadDlg::Refuse(const std::string& problem) {
    OnDialogThread([&] {
        StatusText(problem);
        Ask(QMessageBox::Warning,
            QString::fromStdString(problem) +
                QStringLiteral("\n\nNothing was sent to the digitizer."),
            QMessageBox::Ok);
    });
}

void TUploadDlg::ReportLost(const std::string& text) {
    OnDialogThread([&] {
        QString message = QString::fromStdString(text);
        if (!message.isEmpty()) {
            message[0] = message[0].toUpper();
        }
        Ask(QMessageBox::Warning, message, QMessageBox::Ok);
    });
}

void TUploadDlg::SetWaiting(bool on) {
    OnDialogThread([&] { WaitCursor(on); });
}

void TUploadDlg::SetSending(bool on) {
    // The request is forgotten here, on the run's thread, before it looks again.
    if (on && !closeAfterRun_) {
        uploadCancelled_ = false;
    }
    OnDialogThread([&] { Sending(on); });
}
