#include "main/temperatures_page.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
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
                 .DesignItemHeight = DesignItemHeight,
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
    QFrame* toolBar = ToolBar();
    AddBandZoomButtons(QStringLiteral("Temperature"));
    AddClearButton(QStringLiteral("ClearTemperaturesButton"), tr("Clear temperatures"),
                   [this] { model_.ClearTemperatureHistories(); });
    logToFile_ = MakeCheck(QStringLiteral("LogToFile"), tr("Log To File"), false, toolBar);
    auto* hoursCaption = new QLabel(tr("Stored Hours"), toolBar);
    hoursCaption->setObjectName(QStringLiteral("Label54"));
    storedHoursSpinEdit_ = new TSpinEdit(toolBar);
    storedHoursSpinEdit_->setObjectName(QStringLiteral("StoredTemperatureHoursSpinEdit"));
    storedHoursSpinEdit_->setRange(1, MaxStoredHours);
    SetSpanField(storedHoursSpinEdit_);
    AddTools({logToFile_, hoursCaption, storedHoursSpinEdit_});
    AddDisplayChecks(QStringLiteral("TDisp"));

    connect(logToFile_, &QCheckBox::toggled, this, [this] { LogToFileClick(); });
    connect(storedHoursSpinEdit_, &TSpinEdit::Changed, this,
            [this] { StoredTemperatureHoursSpinEditChange(); });
    new TNumericKeyFilter(
        storedHoursSpinEdit_, [this] { return storedHoursSpinEdit_->text(); }, false,
        model_.Separators());
}

void TTemperaturesPage::ShowSettings() {
    storedHoursSpinEdit_->setValue(model_.Settings().StoredHours);
}

void TTemperaturesPage::ShowDetails(bool layout) {
    const int count = model_.ChannelCount();
    if (layout) {
        DetailsPanel()->LayOut(model_.Displayed(TGraph::Temperatures), count);
    }
    for (int c = 0; c < count; ++c) {
        if (!model_.Displayed(TGraph::Temperatures, c)) {
            continue;
        }
        const size_t channel = static_cast<size_t>(c);
        const TTemperatureDetailsTexts texts = TemperatureDetailsTexts(
            c, model_.Channels().ChannelHistory(c), model_.SamplesPerBlock(),
            model_.Channels().ChannelStats(c), model_.ChannelTemperatures()[channel],
            model_.GainFactors()[channel], Zoom(), model_.Separators());
        DetailsPanel()->SetTexts(
            c, {texts.Range, texts.Offset, texts.Temperature, Readout(c).toStdString()});
    }
}

void TTemperaturesPage::DrawTraces(bool full) {
    const int count = model_.ChannelCount();
    if (count == 0) {
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
    for (int c = 0; c < count; ++c) {
        if (!model_.Displayed(TGraph::Temperatures, c)) {
            continue;
        }
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
