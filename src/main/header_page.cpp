#include "main/header_page.h"

#include <QGridLayout>
#include <QVBoxLayout>

#include "main/value_group.h"
#include "monitor/header_texts.h"
#include "monitor/monitor_model.h"

THeaderPage::THeaderPage(const TMonitorModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
    QWidget* const page = ScrollingContent(this);
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(6, 6, 6, 6);
    auto* details = MakeValueGroup(tr("Details"),
                                   {{"Device ID", "DeviceId"},
                                    {"Version", "Version"},
                                    {"Serial Number", "SNum"},
                                    {"Number of Components", "NumComps"},
                                    {"Sample Rate", "SRate"},
                                    {"Bytes per Sample", "ByteCount"},
                                    {"Baud Rate", "BRateStr"},
                                    {"Block Count", "BlockCount"},
                                    {"Last Valid GPS Block", "LastValidGPSBlock"}},
                                   values_, page);
    auto* filter = MakeValueGroup(tr("Filter"),
                                  {{"Type", "FilterTypeStr"},
                                   {"Decimation Factor of Filter 3", "Deci3"},
                                   {"Decimation Factor of Filter 4", "Deci4"},
                                   {"Decimation Factor of Filter 5", "Deci5"},
                                   {"Decimation Factor of Filter 6", "Deci6"},
                                   {"Decimation Factor of Filter 7", "Deci7"},
                                   {"16 Bit Phase Error in 1 Second", "PhaseError"}},
                                  values_, page);
    auto* gain = MakeValueGroup(tr("Gain"),
                                {{"Gain", "GainStr"},
                                 {"Component 1 Gain Value", "GainC1"},
                                 {"Component 2 Gain Value", "GainC2"},
                                 {"Component 3 Gain Value", "GainC3"},
                                 {"Component 4 Gain Value", "GainC4"},
                                 {"Component 5 Gain Value", "GainC5"},
                                 {"Component 6 Gain Value", "GainC6"}},
                                values_, page);
    auto* offset = MakeValueGroup(tr("Offset"),
                                  {{"Component 1 Offset Value", "OffsetC1"},
                                   {"Component 2 Offset Value", "OffsetC2"},
                                   {"Component 3 Offset Value", "OffsetC3"},
                                   {"Component 4 Offset Value", "OffsetC4"},
                                   {"Component 5 Offset Value", "OffsetC5"},
                                   {"Component 6 Offset Value", "OffsetC6"}},
                                  values_, page);
    auto* adc = MakeValueGroup(tr("ADC"),
                               {{"Coupling", "Coupling"},
                                {"0: Supply Conn Voltage", "ADC0"},
                                {"1: Supply Current", "ADC1"},
                                {"2: Temp Sensor Voltage", "ADC2"},
                                {"3: Remote Conn Voltage", "ADC3"},
                                {"4: User 1", "ADC4"},
                                {"5: User 2", "ADC5"},
                                {"6: User 3", "ADC6"},
                                {"7: User 4", "ADC7"},
                                {"8: Module 1 Temp", "ADC8"},
                                {"9: Module 2 Temp", "ADC9"},
                                {"10: Module 3 Temp", "ADC10"},
                                {"11: Module 4 Temp", "ADC11"},
                                {"12: Module 5 Temp", "ADC12"},
                                {"13: Module 6 Temp", "ADC13"}},
                               values_, page);
    // Two columns: identity, filter chain and gains; readings and offsets.
    grid->addWidget(details, 0, 0);
    grid->addWidget(filter, 1, 0);
    grid->addWidget(gain, 2, 0);
    grid->addWidget(adc, 0, 1, 2, 1);
    grid->addWidget(offset, 2, 1);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
}

void THeaderPage::Clear() {
    for (QLabel* label : values_) {
        label->clear();
    }
}

void THeaderPage::Show(const THeaderTexts& texts) {
    for (const auto& [name, text] : texts.Labels()) {
        if (QLabel* label = values_.value(QString::fromStdString(name))) {
            label->setText(QString::fromStdString(text));
        }
    }
}

void THeaderPage::BlockArrived(bool) {
    Show(model_.HeaderTexts());
}
