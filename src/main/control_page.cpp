#include "main/control_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "digitizer/protocol.h"
#include "main/link_session.h"
#include "main/prompts.h"
#include "main/radio_group.h"
#include "main/value_group.h"
#include "main/widgets.h"
#include "monitor/monitor_model.h"

namespace {

// The default selections of the groups.
constexpr double DesignRate = 75;
constexpr int32_t DesignBaud = 19200;
constexpr int DesignChannels = 3;

QStringList SampleRateItems() {
    QStringList items;
    for (const TSampleRate& rate : SampleRates) {
        items << QString::fromLatin1(rate.Caption.data(),
                                     static_cast<qsizetype>(rate.Caption.size()));
    }
    return items;
}

// The rates with the separators they carry on the page ("1,200").
QStringList BaudRateItems() {
    QStringList items;
    for (int32_t baud : BaudRates) {
        items << QString::fromStdString(FormatNumber(baud, 0, TNumberSeparators{}));
    }
    return items;
}

QGroupBox* Section(const QString& caption, QWidget* parent) {
    auto* box = new QGroupBox(caption, parent);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(4, 0, 4, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    return box;
}

QGridLayout* GridOf(QGroupBox* box) {
    return static_cast<QGridLayout*>(box->layout());
}

// A group box holding a radio group and its button, below it or beside it.
QGroupBox* SettingBox(const QString& caption, TRadioGroup* group, QPushButton* button, bool beside,
                      QWidget* parent) {
    QGroupBox* box = Section(caption, parent);
    GridOf(box)->addWidget(group, 0, 0);
    if (beside) {
        GridOf(box)->addWidget(button, 0, 1, Qt::AlignBottom);
    } else {
        GridOf(box)->addWidget(button, 1, 0, Qt::AlignLeft);
    }
    return box;
}

TRadioGroup* MakeRadioGroup(const char* name, const QString& caption, const QStringList& items,
                            int columns, int selected, QWidget* parent) {
    auto* group = new TRadioGroup(caption, items, columns, parent);
    group->setObjectName(QString::fromLatin1(name));
    group->SetItemIndex(selected);
    return group;
}

}  // namespace

TControlPage::TControlPage(TMonitorModel& model, TLinkSession& session, const TPrompts& prompts,
                           QWidget* parent)
    : QWidget(parent), model_(model), session_(session), prompts_(prompts) {
    BuildControls();
}

QPushButton* TControlPage::MakeCommandButton(const char* name, const QString& caption,
                                             void (TControlPage::*handler)(), QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, handler);
    return button;
}

TDigitizer& TControlPage::Link() {
    return session_.Link();
}

void TControlPage::AwaitNewData() {
    session_.SetLinkWatchdog(TLinkSession::CommandWatchdog);
}

void TControlPage::FormatChanged() {
    SyncControlPage(model_.Format());
}

void TControlPage::BuildControls() {
    QWidget* const content = ScrollingContent(this);

    // Channels: one line per channel, its enable box beside its gain box.
    QGroupBox* components = Section(tr("Component Settings"), content);
    for (int i = 0; i < MaxChannels; ++i) {
        const QString n = QString::number(i + 1);
        const bool on = i < DesignChannels;
        onChecks_[i] = MakeCheck(QStringLiteral("OnCheck") + n, tr("Channel %1 Enabled").arg(n), on,
                                 components);
        onChecks_[i]->setEnabled(on);
        hiGainChecks_[i] = MakeCheck(QStringLiteral("HiGainCheck") + n,
                                     tr("Channel %1 High Gain").arg(n), false, components);
        hiGainChecks_[i]->setEnabled(on);
        GridOf(components)->addWidget(onChecks_[i], i, 0);
        GridOf(components)->addWidget(hiGainChecks_[i], i, 1);
        connect(onChecks_[i], &QCheckBox::clicked, this, &TControlPage::UpdateChannelChecks);
    }
    scButton_ = MakeCommandButton("SCButton", tr("Set"), &TControlPage::SCButtonClick, content);
    GridOf(components)->addWidget(scButton_, MaxChannels, 0, Qt::AlignLeft);

    QGroupBox* line = Section(tr("Line Output Settings"), content);
    lineOnCheck_ = MakeCheck(QStringLiteral("LineOnCheck"), tr("Enabled"), false, line);
    connect(lineOnCheck_, &QCheckBox::clicked, this, &TControlPage::LineOnCheckClick);
    lineFrequencyGroup_ = MakeRadioGroup("LineFrequencyRadioGroup", tr("Frequency"),
                                         {tr("75 Hz"), tr("100 Hz")}, 2, 0, line);
    lineFrequencyGroup_->setEnabled(false);
    QPushButton* liButton =
        MakeCommandButton("LIButton", tr("Set"), &TControlPage::LIButtonClick, line);
    GridOf(line)->addWidget(lineOnCheck_, 0, 0);
    GridOf(line)->addWidget(lineFrequencyGroup_, 1, 0);
    GridOf(line)->addWidget(liButton, 1, 1, Qt::AlignBottom);

    QGroupBox* psus = Section(tr("PSUs"), content);
    gpsPsuCheck_ = MakeCheck(QStringLiteral("GPSPSUCheck"), tr("8 Volt GPS"), true, psus);
    sensorPsuCheck_ = MakeCheck(QStringLiteral("SensorPSUCheck"), tr("12 Volt Sensor"), true, psus);
    QPushButton* spButton =
        MakeCommandButton("SPButton", tr("Set"), &TControlPage::SPButtonClick, psus);
    GridOf(psus)->addWidget(gpsPsuCheck_, 0, 0);
    GridOf(psus)->addWidget(sensorPsuCheck_, 1, 0);
    GridOf(psus)->addWidget(spButton, 2, 0, Qt::AlignLeft);

    rateGroup_ = MakeRadioGroup("SetRateRadioGroup", tr("Setting"), SampleRateItems(), 9,
                                SampleRateIndex(DesignRate), content);
    QPushButton* srButton =
        MakeCommandButton("SRButton", tr("Set"), &TControlPage::SRButtonClick, content);
    QGroupBox* rate = SettingBox(tr("Sample Rate"), rateGroup_, srButton, true, content);

    filterGroup_ = MakeRadioGroup("FTypeRadioGroup", tr("Setting"),
                                  {tr("Minimal Phase"), tr("Linear Phase")}, 1, 0, content);
    QPushButton* ftButton =
        MakeCommandButton("FTButton", tr("Set"), &TControlPage::FTButtonClick, content);
    QGroupBox* filter = SettingBox(tr("Filter Type"), filterGroup_, ftButton, false, content);

    calGroup_ =
        MakeRadioGroup("CalRadioGroup", tr("Mode"),
                       {tr("Off"), tr("+5.0v DC"), tr("0v DC"), tr("-5.0v DC"),
                        tr("5.0v Sine Wave"), tr("Auto Calibrate"), tr("+0.3125v DC"),
                        tr("-0.3125v DC"), tr("0.3125v Sine Wave"), tr("0.3125v Dual Sine")},
                       2, 0, content);
    QPushButton* caButton =
        MakeCommandButton("CAButton", tr("Set"), &TControlPage::CAButtonClick, content);
    QGroupBox* cal = SettingBox(tr("Calibration"), calGroup_, caButton, false, content);

    pllGroup_ = MakeRadioGroup("PLLRadioGroup", tr("Setting"),
                               {tr("Off"), tr("Slow"), tr("Ideal"), tr("Fast")}, 2, 0, content);
    QPushButton* cpButton =
        MakeCommandButton("CPButton", tr("Set"), &TControlPage::CPButtonClick, content);
    QGroupBox* pll = SettingBox(tr("PLL Calibration"), pllGroup_, cpButton, false, content);

    baudGroup_ = MakeRadioGroup("BaudRateRadioGroup", tr("Setting"), BaudRateItems(), 2,
                                BaudRateIndex(DesignBaud), content);
    QPushButton* baButton =
        MakeCommandButton("BAButton", tr("Set"), &TControlPage::BAButtonClick, content);
    QGroupBox* baud = SettingBox(tr("Baud Rate"), baudGroup_, baButton, false, content);

    bytesPerGroup_ = MakeRadioGroup("BytesPerGroup", tr("Setting"),
                                    {tr("1 Byte, 8 Bits"), tr("2 Bytes, 16 Bits"),
                                     tr("3 Bytes, 24 Bits"), tr("4 Bytes, 32 Bits")},
                                    1, 2, content);
    QPushButton* nbButton =
        MakeCommandButton("NBButton", tr("Set"), &TControlPage::NBButtonClick, content);
    QGroupBox* resolution = SettingBox(tr("Resolution"), bytesPerGroup_, nbButton, false, content);

    QGroupBox* rom = Section(tr("ROM Settings"), content);
    QPushButton* romWrite =
        MakeCommandButton("RomWriteButton", tr("Write"), &TControlPage::RomWriteButtonClick, rom);
    QPushButton* romDef =
        MakeCommandButton("RomDefButton", tr("Default"), &TControlPage::RomDefButtonClick, rom);
    GridOf(rom)->addWidget(romWrite, 0, 0, Qt::AlignLeft);
    GridOf(rom)->addWidget(romDef, 1, 0, Qt::AlignLeft);

    QGroupBox* enhanced = Section(tr("Enhanced Header"), content);
    QPushButton* enhancedOn = MakeCommandButton("EnhancedOnButton", tr("On"),
                                                &TControlPage::EnhancedOnButtonClick, enhanced);
    QPushButton* enhancedOff = MakeCommandButton("EnhancedOffButton", tr("Off"),
                                                 &TControlPage::EnhancedOffButtonClick, enhanced);
    GridOf(enhanced)->addWidget(enhancedOn, 0, 0, Qt::AlignLeft);
    GridOf(enhanced)->addWidget(enhancedOff, 0, 1, Qt::AlignLeft);
    GridOf(enhanced)->setColumnStretch(2, 1);

    commandButtons_ = {srButton, caButton, cpButton, scButton_, baButton,   nbButton,   spButton,
                       ftButton, liButton, romWrite, romDef,    enhancedOn, enhancedOff};
    // Compact buttons: as wide as their captions need, not the style's minimum.
    for (QPushButton* button : commandButtons_) {
        const QFontMetrics metrics = button->fontMetrics();
        button->setFixedWidth(metrics.horizontalAdvance(button->text()) +
                              4 * metrics.averageCharWidth());
    }

    // Three rows packed to fit the window's page at the usual font sizes: the
    // sample rate; the channels, calibration and the supplies; the rest.
    auto* sideColumn = new QVBoxLayout;
    sideColumn->addWidget(psus);
    sideColumn->addWidget(rom);
    sideColumn->addStretch();
    auto* lineColumn = new QVBoxLayout;
    lineColumn->addWidget(line);
    lineColumn->addWidget(enhanced);
    lineColumn->addStretch();
    auto* rows = new QVBoxLayout(content);
    rows->setContentsMargins(4, 4, 4, 4);
    rows->setSpacing(4);
    auto addRow = [rows](std::initializer_list<QObject*> items) {
        auto* row = new QHBoxLayout;
        for (QObject* item : items) {
            if (auto* layout = qobject_cast<QLayout*>(item)) {
                row->addLayout(layout);
            } else {
                row->addWidget(static_cast<QWidget*>(item));
            }
        }
        rows->addLayout(row);
    };
    addRow({rate, filter});
    addRow({components, cal, sideColumn});
    addRow({baud, resolution, pll, lineColumn});
    rows->addStretch();
}

void TControlPage::EnableCommandButtons(bool enabled) {
    commandsEnabled_ = enabled;
    for (QPushButton* button : commandButtons_) {
        button->setEnabled(enabled);
    }
    // Never a "$SC" without channel 1, even right after Start.
    scButton_->setEnabled(enabled && onChecks_[0]->isChecked());
}

void TControlPage::SyncControlPage(const TStreamFormat& format) {
    baudGroup_->SetItemIndex(BaudRateIndex(format.BaudRate));
    const bool countKnown = format.ChannelCount >= 1 && format.ChannelCount <= MaxChannels;
    for (int i = 0; i < MaxChannels; ++i) {
        onChecks_[i]->setChecked(countKnown && i < format.ChannelCount);
        hiGainChecks_[i]->setChecked(GainFactorOf(format.GainBits, i) > 1);
    }
    UpdateChannelChecks();
    rateGroup_->SetItemIndex(SampleRateIndex(format.SampleRate));
    filterGroup_->SetItemIndex(format.FilterCode);
    bytesPerGroup_->SetItemIndex(format.BytesPerSample - 1);
}

uint16_t TControlPage::ChannelFlags() const {
    std::array<bool, MaxChannels> on{};
    std::array<bool, MaxChannels> highGain{};
    for (int i = 0; i < MaxChannels; ++i) {
        on[i] = onChecks_[i]->isChecked();
        highGain[i] = hiGainChecks_[i]->isChecked();
    }
    return ::ChannelFlags(on, highGain);
}

void TControlPage::UpdateChannelChecks() {
    const bool first = onChecks_[0]->isChecked();
    scButton_->setEnabled(commandsEnabled_ && first);
    hiGainChecks_[0]->setEnabled(first);
    if (!first) {
        hiGainChecks_[0]->setChecked(false);
    }
    bool lowerAllOn = first;
    for (int i = 1; i < MaxChannels; ++i) {
        QCheckBox* on = onChecks_[i];
        on->setEnabled(lowerAllOn);
        if (!lowerAllOn) {
            on->setChecked(false);
        }
        const bool active = on->isChecked() && on->isEnabled();
        hiGainChecks_[i]->setEnabled(active);
        if (!active) {
            hiGainChecks_[i]->setChecked(false);
        }
        lowerAllOn = lowerAllOn && on->isChecked();
    }
}

void TControlPage::LineOnCheckClick() {
    lineFrequencyGroup_->setEnabled(lineOnCheck_->isChecked());
}

void TControlPage::SRButtonClick() {
    const int index = rateGroup_->ItemIndex();
    if (index < 0 || index >= static_cast<int>(SampleRates.size())) {
        return;  // no rate selected
    }
    Link().SetSampleRate(SampleRates[static_cast<size_t>(index)].Code / 10.0);
    AwaitNewData();
}

void TControlPage::CAButtonClick() {
    if (calGroup_->ItemIndex() >= 0) {
        Link().SetCalibration(calGroup_->ItemIndex());
        // The steps of the calibration signal must not count as earthquakes.
        model_.SetCalibration(calGroup_->ItemIndex());
    }
}

void TControlPage::CPButtonClick() {
    if (pllGroup_->ItemIndex() >= 0) {
        Link().SetPllCalibration(pllGroup_->ItemIndex());
    }
}

void TControlPage::BAButtonClick() {
    const int index = baudGroup_->ItemIndex();
    if (index < 0 || index >= static_cast<int>(BaudRates.size())) {
        return;  // an unknown rate index would put the digitizer out of reach
    }
    Link().SetBaudRate(index);
    // The reader's last pass before the port closes sends "$BA" at the old rate.
    session_.Reconnect(static_cast<uint32_t>(BaudRates[static_cast<size_t>(index)]));
}

void TControlPage::NBButtonClick() {
    if (bytesPerGroup_->ItemIndex() < 0) {
        return;
    }
    Link().SetBytesPerSample(bytesPerGroup_->ItemIndex() + 1);
    AwaitNewData();
}

void TControlPage::SCButtonClick() {
    Link().SetComponents(ChannelFlags());
    AwaitNewData();
}

void TControlPage::FTButtonClick() {
    const int argument = FilterTypeArgument(filterGroup_->ItemIndex());
    if (argument >= 0) {
        Link().SetFilterType(argument);
    }
}

void TControlPage::LIButtonClick() {
    Link().SetLineOutput(
        LineOutputFlags(lineOnCheck_->isChecked(), lineFrequencyGroup_->ItemIndex() == 0));
}

void TControlPage::SPButtonClick() {
    Link().SetPowerSupplies(
        PowerSupplyFlags(gpsPsuCheck_->isChecked(), sensorPsuCheck_->isChecked()));
}

void TControlPage::RomWriteButtonClick() {
    if (prompts_.Confirm(this, tr("Write Settings to ROM"))) {
        Link().WriteRom();
    }
}

void TControlPage::RomDefButtonClick() {
    if (prompts_.Confirm(this, tr("Restore Factory Defaults"))) {
        Link().RestoreDefaults();
    }
}

void TControlPage::EnhancedOnButtonClick() {
    Link().SetEnhancedHeader(true);
    AwaitNewData();
}

void TControlPage::EnhancedOffButtonClick() {
    Link().SetEnhancedHeader(false);
    AwaitNewData();
}
