#include "datafile/data_file_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "base/files.h"
#include "settings/numeric_entry.h"

namespace {

QLabel* MakeLabel(const char* name, const QString& caption, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLineEdit* MakeEdit(const char* name, int maxLength, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    if (maxLength > 0) {
        edit->setMaxLength(maxLength);
    }
    return edit;
}

// A code's field: its SEED length, printable ASCII without spaces (SeedCodeText) typed or
// pasted.
QLineEdit* MakeCodeEdit(const char* name, int length, QWidget* parent) {
    QLineEdit* edit = MakeEdit(name, length, parent);
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[!-~]{0,%1}").arg(length)), edit));
    return edit;
}

QString CodeText(const std::string& code, int length) {
    return QString::fromStdString(SeedCodeText(code, length));
}

std::string CodeOf(const QLineEdit* edit, int length) {
    return SeedCodeText(edit->text().toStdString(), length);
}

}  // namespace

std::string SeedCodeText(std::string_view text, int length) {
    std::string code;
    for (const char c : text) {
        if (static_cast<int>(code.size()) >= length) {
            break;
        }
        if (c > ' ' && c <= '~') {
            code += c;
        }
    }
    return code;
}

QString BrowseForFolder(QWidget* owner, const QString& title, const QString& startFolder) {
    const QString path = QFileDialog::getExistingDirectory(
        owner, title, startFolder, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (path.isEmpty() || !QFileInfo(path).isDir()) {
        return {};
    }
    return path;
}

QString ChooseXmlFile(QWidget* owner, const QString& title, const QString& suggested) {
    return QFileDialog::getSaveFileName(owner, title, suggested,
                                        QObject::tr("StationXML (*.xml);;All files (*)"));
}

TDataFileDlg::TDataFileDlg(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("DataFileDlg"));
    setWindowTitle(tr("Data File"));
    BuildControls();
    connect(durationSpinEdit_, &QSpinBox::valueChanged, this, [this] { DurationSpinEditChange(); });
    if (auto* editor = durationSpinEdit_->findChild<QLineEdit*>()) {
        connect(editor, &QLineEdit::textChanged, this, [this] { DurationSpinEditChange(); });
    }
    durationSpinEdit_->installEventFilter(this);
    connect(useSNum_, &QCheckBox::toggled, this, [this] { UseSNumClick(); });
    connect(dataPathButton_, &QPushButton::clicked, this, [this] { DataPathButtonClick(); });
    connect(stationXmlButton_, &QPushButton::clicked, this, [this] { StationXmlButtonClick(); });
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

void TDataFileDlg::BuildControls() {
    // "Details" at the top.
    auto* details = new QGroupBox(tr("Details"), this);
    details->setObjectName(QStringLiteral("GroupBox16"));
    enableDataFiles_ = new QCheckBox(tr("Enable"), details);
    enableDataFiles_->setObjectName(QStringLiteral("EnableDataFiles"));
    durationSpinEdit_ = new QSpinBox(details);
    durationSpinEdit_->setObjectName(QStringLiteral("DurationSpinEdit"));
    durationSpinEdit_->setRange(1, 60);
    durationSpinEdit_->setValue(1);
    stationEdit_ = MakeCodeEdit("StationEdit", StationCodeLength, details);
    useSNum_ = new QCheckBox(tr("Use Serial Number"), details);
    useSNum_->setObjectName(QStringLiteral("UseSNum"));
    locationEdit_ = MakeCodeEdit("LocationEdit", LocationCodeLength, details);
    networkEdit_ = MakeCodeEdit("NetworkEdit", NetworkCodeLength, details);
    auto* grid = new QGridLayout(details);
    grid->addWidget(enableDataFiles_, 0, 0, 1, 2);
    grid->addWidget(MakeLabel("Label56", tr("File Duration (mins)"), details), 1, 0);
    grid->addWidget(durationSpinEdit_, 1, 1);
    grid->addWidget(MakeLabel("Label57", tr("Station"), details), 2, 0);
    grid->addWidget(stationEdit_, 2, 1);
    grid->addWidget(useSNum_, 2, 2);
    grid->addWidget(MakeLabel("Label58", tr("Location"), details), 3, 0);
    grid->addWidget(locationEdit_, 3, 1);
    grid->addWidget(MakeLabel("Label59", tr("Network"), details), 4, 0);
    grid->addWidget(networkEdit_, 4, 1);
    grid->setColumnStretch(3, 1);

    // The directory below it: the edit and a small square button.
    auto* directory = new QGroupBox(tr("Location"), this);
    directory->setObjectName(QStringLiteral("GroupBox1"));
    dataPathLocn_ = MakeEdit("DataPathLocn", 0, directory);
    dataPathLocn_->setMinimumWidth(300);
    dataPathButton_ = new QPushButton(QStringLiteral("..."), directory);
    dataPathButton_->setObjectName(QStringLiteral("DataPathButton"));
    const int side = dataPathLocn_->sizeHint().height();
    dataPathButton_->setFixedSize(side, side);
    auto* row = new QHBoxLayout(directory);
    row->addWidget(dataPathLocn_, 1);
    row->addWidget(dataPathButton_);

    // "Save StationXML..." on the left of the bottom row, OK and Cancel side by side on the
    // right.
    stationXmlButton_ = new QPushButton(tr("Save StationXML..."), this);
    stationXmlButton_->setObjectName(QStringLiteral("StationXmlButton"));
    stationXmlButton_->setAutoDefault(false);
    stationXmlButton_->setEnabled(false);
    okButton_ = new QPushButton(tr("&OK"), this);
    okButton_->setObjectName(QStringLiteral("OKButton"));
    okButton_->setDefault(true);
    okButton_->setAutoDefault(true);
    cancelButton_ = new QPushButton(tr("&Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(stationXmlButton_);
    buttons->addStretch();
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(details);
    layout->addWidget(directory);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The directory group, the buttons, then "Details".
    QWidget* const order[] = {dataPathLocn_,     dataPathButton_,  okButton_,         cancelButton_,
                              stationXmlButton_, enableDataFiles_, durationSpinEdit_, stationEdit_,
                              useSNum_,          locationEdit_,    networkEdit_};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }
    dataPathLocn_->setFocus();

    // Fixed size, centred on the screen.
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TDataFileDlg::SetOptions(const TFileSettings& s) {
    dataPathLocn_->setText(QString::fromStdString(s.BaseDir));
    enableDataFiles_->setChecked(s.Enable != 0);
    durationSpinEdit_->setValue(s.DurationMinutes);
    useSNum_->setChecked(s.UseSerialNumber != 0);
    UseSNumClick();
    // A station taken from the serial number can be longer: the field shows the five
    // characters a SEED header holds.
    stationEdit_->setText(CodeText(s.Station, StationCodeLength));
    locationEdit_->setText(CodeText(s.Location, LocationCodeLength));
    networkEdit_->setText(CodeText(s.Network, NetworkCodeLength));
}

void TDataFileDlg::TakeOptions(TFileSettings& s) const {
    s.Enable = enableDataFiles_->isChecked() ? 1 : 0;
    s.DurationMinutes = durationSpinEdit_->value();
    s.Location = CodeOf(locationEdit_, LocationCodeLength);
    s.Network = CodeOf(networkEdit_, NetworkCodeLength);
    s.UseSerialNumber = useSNum_->isChecked() ? 1 : 0;
    s.Station = CodeOf(stationEdit_, StationCodeLength);
    s.BaseDir = dataPathLocn_->text().toStdString();
    if (!s.BaseDir.empty() && s.BaseDir.back() == '/') {
        s.BaseDir.pop_back();
    }
}

void TDataFileDlg::DurationSpinEditChange() {
    // A typed 0 is only "intermediate" to QSpinBox, which keeps its old value: the number is
    // read from the text.
    const QString text = durationSpinEdit_->text().trimmed();
    bool ok = false;
    const int typed = durationSpinEdit_->locale().toInt(text, &ok);
    if (text.isEmpty() || (ok && typed <= 0) || durationSpinEdit_->value() <= 0) {
        // Shows "1" (when the value is 1 already, only the text changes); the text is
        // selected so that the number typed next replaces it.
        durationSpinEdit_->setValue(1);
        durationSpinEdit_->selectAll();
    }
}

bool TDataFileDlg::DurationSpinEditKeyPress(char32_t key) {
    if (FilterNumericKey(key, U"", false, false)) {
        return true;
    }
    QApplication::beep();
    return false;
}

void TDataFileDlg::UseSNumClick() {
    stationEdit_->setEnabled(!useSNum_->isChecked());
}

void TDataFileDlg::SetStationXml(TStationXmlSource source) {
    stationXml_ = std::move(source);
    stationXmlButton_->setEnabled(static_cast<bool>(stationXml_));
}

void TDataFileDlg::StationXmlButtonClick() {
    const std::string document = stationXml_ ? stationXml_() : std::string();
    if (document.empty()) {
        const QString reason = tr("There is no StationXML yet: no block has come from the unit.");
        report_ ? report_(this, reason) : void(QMessageBox::warning(this, windowTitle(), reason));
        return;
    }
    QString folder = dataPathLocn_->text();
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    const QString suggested = folder + networkEdit_->text() + QLatin1Char('.') +
                              stationEdit_->text() + QStringLiteral(".xml");
    const QString path = xmlChooser_(this, tr("Save StationXML"), suggested);
    if (path.isEmpty()) {
        return;
    }
    if (const TStatus saved = ReplaceFileDurably(path.toStdString(), document); !saved) {
        const QString reason =
            tr("The StationXML was not saved: %1").arg(QString::fromStdString(saved.Error().Text));
        report_ ? report_(this, reason) : void(QMessageBox::warning(this, windowTitle(), reason));
    }
}

void TDataFileDlg::DataPathButtonClick() {
    const QString browseStartFolder = dataPathLocn_->text();
    const QString path = browser_(this, tr("Browse for Data File Location"), browseStartFolder);
    if (!path.isEmpty()) {
        dataPathLocn_->setText(path);
    }
}

// DurationSpinEditKeyPress for every typed character (not with Ctrl, Alt or Meta, which are
// shortcuts); refused ones go no further.
bool TDataFileDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == durationSpinEdit_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const QList<uint> text = key->text().toUcs4();
        const bool command =
            key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        if (!command && !text.isEmpty() && !DurationSpinEditKeyPress(text.front())) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
