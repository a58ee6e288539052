#include "upload/upload_dlg.h"

#include <QApplication>
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
#include <QVBoxLayout>
#include <chrono>
#include <thread>

#include "digitizer/digitizer.h"

namespace {

using namespace std::chrono_literals;

const QString Caption = QStringLiteral("Upload");
const QString CancelCaption = QStringLiteral("&Cancel");
const QString CloseCaption = QStringLiteral("&Close");

// The dialog's pauses: the window is repainted (also when uncovered) but takes no
// clicks or keys; those wait for the sending loop or the end of the run.
class TPaintedWait : public TUploadWait {
  public:
    explicit TPaintedWait(double scale) : scale_(scale) {}

    void Pause(std::chrono::milliseconds duration, const std::function<bool()>& until) override {
        using Clock = std::chrono::steady_clock;
        const auto end =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(duration * scale_);
        for (auto now = Clock::now(); now < end; now = Clock::now()) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            if (until && until()) {
                return;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(end - now, 10ms));
        }
    }

  private:
    double scale_;
};

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
    SetWaiting(false);
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
        return;  // the click came through the sending loop's event handling
    }
    running_ = true;
    uploadCancelled_ = false;
    // The files stay as they are while they are being sent.
    files_->setEnabled(false);
    uploadButton_->setEnabled(false);
    TPaintedWait wait(timeScale_);
    TFirmwareUpload upload(link_, port_, *this, wait);
    lastResult_ = upload.Run({bootFile_->text().toStdString(), mainFile_->text().toStdString(),
                              filterFile_->text().toStdString()});
    files_->setEnabled(true);
    uploadButton_->setEnabled(true);
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

bool TUploadDlg::ConfirmPowerCycle() {
    if (Ask(QMessageBox::Information, QString::fromLatin1(PowerCycleText),
            QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
        return false;
    }
    if (powerCycle_) {
        powerCycle_();
    }
    return true;
}

std::string TUploadDlg::AskSerialNumber() {
    std::optional<QString> text;
    if (input_) {
        text = input_(this, Caption, QStringLiteral("Serial Number"));
    } else {
        bool ok = false;
        const QString typed = QInputDialog::getText(this, Caption, QStringLiteral("Serial Number"),
                                                    QLineEdit::Normal, QString(), &ok);
        if (ok) {
            text = typed;
        }
    }
    // One byte per character, as the unit keeps it.
    return text ? text->toLatin1().toStdString() : std::string();
}

void TUploadDlg::ShowStatus(const std::string& text) {
    status_->setText(QString::fromStdString(text));
    status_->repaint();
}

void TUploadDlg::ShowProgress(int percent) {
    if (progressBar_->value() != percent) {
        progressBar_->setValue(percent);
        progressBar_->repaint();
    }
}

void TUploadDlg::Refuse(const std::string& problem) {
    const QString text = QString::fromStdString(problem);
    ShowStatus(problem);
    Ask(QMessageBox::Warning, text + QStringLiteral("\n\nNothing was sent to the digitizer."),
        QMessageBox::Ok);
}

void TUploadDlg::SetWaiting(bool on) {
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

void TUploadDlg::SetSending(bool on) {
    actionButton_->setText(on ? CancelCaption : CloseCaption);
    if (on && !closeAfterRun_) {
        uploadCancelled_ = false;
    }
}

void TUploadDlg::ProcessEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
