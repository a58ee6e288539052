#include "about/about_dlg.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "about/program_icon.h"
#include "about/version.h"

namespace {

constexpr int ImageSide = 32;

QLabel* MakeLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QLabel* MakeImage(const char* name, const QIcon& icon, QWidget* parent) {
    auto* image = new QLabel(parent);
    image->setObjectName(QString::fromLatin1(name));
    image->setFixedSize(ImageSide, ImageSide);
    image->setPixmap(icon.pixmap(QSize(ImageSide, ImageSide), parent->devicePixelRatioF()));
    return image;
}

}  // namespace

TAboutDlg::TAboutDlg(QWidget* owner, const TVersionInfo* info)
    : QDialog(owner), opener_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(tr("About"));
    setWindowIcon(ProgramIcon());
    BuildControls();
    ShowVersionInfo(info);
    CentreOnScreen();
    connect(button1_, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutDlg::BuildControls() {
    auto* groupBox1 = new QGroupBox(this);
    groupBox1->setObjectName(QStringLiteral("GroupBox1"));

    // Two pictures at the left, one above the other: the program and the digitizer.
    auto* images = new QVBoxLayout;
    images->addWidget(MakeImage("Image1", ProgramIcon(), groupBox1));
    images->addWidget(MakeImage("Image2", DigitizerIcon(), groupBox1));
    images->addStretch();

    // The texts the labels keep when the version information lacks them.
    fileDescription_ = MakeLabel("FileDescription", QStringLiteral("kestrel32"), groupBox1);
    QFont bold = fileDescription_->font();
    bold.setBold(true);
    fileDescription_->setFont(bold);
    fileVersion_ = MakeLabel("FileVersion", tr("Version unknown"), groupBox1);
    legalCopyright_ = MakeLabel("LegalCopyright", QString(), groupBox1);
    httpLabel_ = MakeLabel("HttpLabel", QString::fromUtf8(MakerWebSite), groupBox1);
    QPalette blue = httpLabel_->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    httpLabel_->setPalette(blue);
    QFont underlined = httpLabel_->font();
    underlined.setUnderline(true);
    httpLabel_->setFont(underlined);
    httpLabel_->setCursor(Qt::PointingHandCursor);
    httpLabel_->setToolTip(tr("Open the web site in the browser"));
    httpLabel_->installEventFilter(this);

    auto* texts = new QVBoxLayout;
    for (QLabel* label : {fileDescription_, fileVersion_, legalCopyright_, httpLabel_}) {
        texts->addWidget(label);
    }
    texts->addStretch();
    auto* inside = new QHBoxLayout(groupBox1);
    inside->addLayout(images);
    inside->addSpacing(8);
    inside->addLayout(texts, 1);

    // OK closes with Enter and Escape as well.
    button1_ = new QPushButton(tr("&OK"), this);
    button1_->setObjectName(QStringLiteral("Button1"));
    button1_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(button1_);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(groupBox1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TAboutDlg::CentreOnScreen() {
    // The fixed size the filled-in texts need, then centred on the screen.
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TAboutDlg::ShowVersionInfo(const TVersionInfo* info) {
    const TAboutTexts texts = ReadAboutTexts(info);
    const std::pair<QLabel*, const std::optional<std::string>*> labels[] = {
        {fileDescription_, &texts.FileDescription},
        {fileVersion_, &texts.FileVersion},
        {legalCopyright_, &texts.LegalCopyright}};
    for (const auto& [label, text] : labels) {
        if (text->has_value()) {
            label->setText(QString::fromStdString(**text));
        }
    }
}

void TAboutDlg::HttpLabelClick() {
    opener_(QUrl(httpLabel_->text(), QUrl::TolerantMode));
}

// A left click on the link, released over it, is HttpLabelClick.
bool TAboutDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == httpLabel_ && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            httpLabel_->rect().contains(mouse->position().toPoint())) {
            HttpLabelClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
