#include "colours/settings_form.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "colours/colour_value.h"
#include "colours/swatch.h"

namespace {

// Each colour's setting and the stem of its controls' names (stem + "Shape",
// "Btn", "Label"), in the order of TSettingsForm::TColour.
struct TColourRow {
    int32_t TColourSettings::*Setting;
    const char* Stem;
};
constexpr TColourRow Rows[TSettingsForm::ColourCount] = {
    {&TColourSettings::DataBgdCol, "ChannelsBgd"},
    {&TColourSettings::DataFgdCol, "ChannelsFgd"},
    {&TColourSettings::DataFirstSampleCol, "ChannelsFirst"},
    {&TColourSettings::TemperaturesBgdCol, "TemperaturesBgd"},
    {&TColourSettings::TemperaturesFgdCol, "TemperaturesFgd"},
    {&TColourSettings::FftBgdCol, "FFTBgd"},
    {&TColourSettings::FftFgdCol, "FFTFgd"},
};

QString Named(const char* stem, const char* suffix) {
    return QString::fromLatin1(stem) + QLatin1String(suffix);
}

}  // namespace

std::optional<QColor> ChooseColour(QWidget* owner, const QColor& initial) {
    QColorDialog colorDlg(initial, owner);
    colorDlg.setObjectName(QStringLiteral("ColorDlg"));
    if (colorDlg.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return colorDlg.selectedColor();
}

TSettingsForm::TSettingsForm(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("SettingsForm"));
    setWindowTitle(tr("Settings"));
    BuildControls();
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    using THandler = void (TSettingsForm::*)();
    const std::pair<TColour, THandler> handlers[] = {
        {ChannelsFgd, &TSettingsForm::ChannelsFgdBtnClick},
        {ChannelsBgd, &TSettingsForm::ChannelsBgdBtnClick},
        {ChannelsFirst, &TSettingsForm::ChannelsFirstBtnClick},
        {TemperaturesFgd, &TSettingsForm::TemperaturesFgdBtnClick},
        {TemperaturesBgd, &TSettingsForm::TemperaturesBgdBtnClick},
        {FftFgd, &TSettingsForm::FFTFgdBtnClick},
        {FftBgd, &TSettingsForm::FFTBgdBtnClick}};
    for (const auto& [colour, handler] : handlers) {
        connect(buttons_[colour], &QPushButton::clicked, this,
                [this, h = handler] { (this->*h)(); });
    }
}

void TSettingsForm::BuildControls() {
    // A group box of rows: caption, swatch, "..." button.
    auto group = [this](const char* name, const QString& title,
                        std::initializer_list<std::pair<TColour, QString>> rows) {
        auto* box = new QGroupBox(title, this);
        box->setObjectName(QString::fromLatin1(name));
        auto* grid = new QGridLayout(box);
        int line = 0;
        for (const auto& [colour, caption] : rows) {
            const char* stem = Rows[colour].Stem;
            auto* label = new QLabel(caption, box);
            label->setObjectName(Named(stem, "Label"));
            auto* swatch = new TSwatch(box);
            swatch->setObjectName(Named(stem, "Shape"));
            auto* button = new QPushButton(QStringLiteral("..."), box);
            button->setObjectName(Named(stem, "Btn"));
            button->setAutoDefault(false);
            button->setFixedSize(TSwatch::Side + 6, TSwatch::Side);
            grid->addWidget(label, line, 0);
            grid->addWidget(swatch, line, 1);
            grid->addWidget(button, line, 2);
            swatches_[colour] = swatch;
            buttons_[colour] = button;
            ++line;
        }
        grid->setColumnStretch(0, 1);
        grid->setRowStretch(line, 1);
        return box;
    };
    QGroupBox* fft =
        group("GroupBox3", tr("FFT"), {{FftFgd, tr("Foreground")}, {FftBgd, tr("Background")}});
    QGroupBox* temperatures =
        group("GroupBox2", tr("Temperatures"),
              {{TemperaturesFgd, tr("Foreground")}, {TemperaturesBgd, tr("Background")}});
    QGroupBox* channels = group("GroupBox1", tr("Channels"),
                                {{ChannelsFgd, tr("Foreground")},
                                 {ChannelsBgd, tr("Background")},
                                 {ChannelsFirst, tr("Line to 1st Sample")}});

    // FFT above Temperatures on the left, Channels on the right.
    auto* left = new QVBoxLayout;
    left->addWidget(fft);
    left->addWidget(temperatures);
    auto* groups = new QHBoxLayout;
    groups->addLayout(left);
    groups->addWidget(channels);

    okButton_ = new QPushButton(tr("&OK"), this);
    okButton_->setObjectName(QStringLiteral("OKButton"));
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(tr("&Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("CancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TSettingsForm::SetColours(const TColourSettings& settings) {
    for (int colour = 0; colour < ColourCount; ++colour) {
        swatches_[colour]->SetValue(settings.*Rows[colour].Setting);
    }
}

void TSettingsForm::TakeColours(TColourSettings& settings) const {
    for (int colour = 0; colour < ColourCount; ++colour) {
        settings.*Rows[colour].Setting = swatches_[colour]->Value();
    }
}

void TSettingsForm::SwatchButtonClick(TColour colour) {
    TSwatch* swatch = swatches_[colour];
    if (const std::optional<QColor> chosen = chooser_(this, swatch->Colour())) {
        swatch->SetValue(SettingFromColour(*chosen));
    }
}
