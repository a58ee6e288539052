#include "main/temperatures_page.h"

#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <algorithm>

#include "main/band_list.h"
#include "main/details_panel.h"
#include "main/prompts.h"
#include "main/spin_edit.h"
#include "main/temperature_plot.h"
#include "main/widgets.h"
#include "monitor/temperature_details.h"

TTemperaturesPage::TTemperaturesPage(TMonitorModel& model, const TGraphResources& resources,
                                     const TPrompts& prompts,
                                     std::function<void()> refreshActivePage, QWidget* parent)
    : TBandPage(model, resources, std::move(refreshActivePage),
                {.Graph = TGraph::Temperatures,
                 .Background = &TColourSettings::TemperaturesBgdCol,
                 .DetailsName = QStringLiteral("TemperatureDetailsPanel"),
                 .LabelPatterns = {QStringLiteral("TCh%1L"), QStringLiteral("TCh%1Off"),
                                   QStringLiteral("TCh%1Temp"), QStringLiteral("TCh%1xy")},
                 .BevelPattern = QStringLiteral("TBevel%1"),
                 .WidestText = WidestTemperatureDetailsText(model.Separators()),
                 .PanelName = QStringLiteral("StoredTemperaturesPanel"),
                 .ListName = QStringLiteral("StoredTemperaturesList"),
                 .ReadoutLine = 3},
                parent),
      prompts_(prompts) {
    BuildControls();
    ShowSettings();
}

void TTemperaturesPage::BuildControls() {
    AddBandZoomButtons(QStringLiteral("Temperature"));
    AddClearButton(QStringLiteral("ClearTemperaturesButton"), tr("Clear temperatures"),
                   [this] { model_.ClearTemperatureHistories(); });
    logToFile_ = MakeCheck(QStringLiteral("LogToFile"), tr("Log To File"), false, ToolBar());
    AddTools({logToFile_});
    storedHoursSpinEdit_ =
        AddSpanField(QStringLiteral("Label54"), tr("Stored Hours"),
                     QStringLiteral("StoredTemperatureHoursSpinEdit"), MaxStoredHours);
    AddDisplayChecks(QStringLiteral("TDisp"));

    connect(logToFile_, &QCheckBox::toggled, this, [this] { LogToFileClick(); });
    connect(storedHoursSpinEdit_, &TSpinEdit::Changed, this,
            [this] { StoredTemperatureHoursSpinEditChange(); });
}

void TTemperaturesPage::ShowSettings() {
    storedHoursSpinEdit_->setValue(model_.Settings().StoredHours);
}

std::vector<std::string> TTemperaturesPage::DetailsTexts(int channel) const {
    const size_t c = static_cast<size_t>(channel);
    const TTemperatureDetailsTexts texts = TemperatureDetailsTexts(
        channel, model_.Channels().ChannelHistory(channel), model_.SamplesPerBlock(),
        model_.Channels().ChannelStats(channel), model_.ChannelTemperatures()[c],
        model_.GainFactors()[c], Zoom(), model_.Separators());
    return {texts.Range, texts.Offset, texts.Temperature};
}

void TTemperaturesPage::DrawTraces(bool full) {
    if (model_.ChannelCount() == 0) {
        return;
    }
    const TTemperatureHistories& histories = model_.Temperatures();
    const size_t n = histories[0].size();
    TTemperatureDraw draw;
    if (full || n == 0) {
        const auto shown = static_cast<size_t>(std::max(model_.Settings().StoredHours, 0)) * 3600;
        draw.Start = n > shown ? n - shown : 0;
        draw.NewBand = true;
    } else {
        draw.Start = n - 1;
        draw.NewBand = draw.Start == 0;
    }
    draw.Zoom = Zoom();
    for (const int c : DisplayedChannels()) {
        draw.GainFactor = model_.GainFactors()[static_cast<size_t>(c)];
        DrawTemperatureTrace(Bands()->Image(c), resources_, histories[static_cast<size_t>(c)],
                             draw);
    }
}

void TTemperaturesPage::LogToFileClick() {
    QString path;
    if (logToFile_->isChecked()) {
        path = prompts_.SaveTextFile(this, tr("Select the file to save temperature readings to"));
    }
    model_.StartTemperatureLog(QFile::encodeName(path).toStdString());
}

void TTemperaturesPage::StoredTemperatureHoursSpinEditChange() {
    // An emptied field or a number below 1 is 1 by now (TSpinEdit).
    model_.SetStoredHours(storedHoursSpinEdit_->value());
    DrawTraces(true);
    RefreshActivePage();
}

std::optional<std::string> TTemperaturesPage::ReadoutAt(int channel, int item, QPoint point) const {
    return TemperatureReadout(
        point.x(), point.y(), item, Bands()->ItemWidth(), Bands()->ItemHeight(),
        model_.GainFactors()[static_cast<size_t>(channel)], Zoom(), model_.Separators());
}
