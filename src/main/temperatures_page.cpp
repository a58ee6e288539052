#include "main/temperatures_page.h"

#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "main/band_list.h"
#include "main/details_panel.h"
#include "main/display_checks.h"
#include "main/graph_resources.h"
#include "main/prompts.h"
#include "main/spin_edit.h"
#include "main/temperature_plot.h"
#include "main/widgets.h"
#include "main/zoom_buttons.h"
#include "monitor/monitor_model.h"
#include "monitor/temperature_details.h"

namespace {

constexpr int ToolBarHeight = 41;
constexpr int ReadoutLine = 3;  // the fourth label of a channel

}  // namespace

TTemperaturesPage::TTemperaturesPage(TMonitorModel& model, const TGraphResources& resources,
                                     const TPrompts& prompts,
                                     std::function<void()> refreshActivePage, QWidget* parent)
    : QWidget(parent),
      model_(model),
      resources_(resources),
      prompts_(prompts),
      refreshActivePage_(std::move(refreshActivePage)) {
    BuildControls();
    ApplyListColour();
    detailsPanel_->HideAll();
    UpdateTemperatureZoomButtons(false);
    ShowSettings();
}

void TTemperaturesPage::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* toolBar = new QFrame(this);
    toolBar->setFixedHeight(ToolBarHeight);
    auto* tools = new QHBoxLayout(toolBar);
    tools->setContentsMargins(2, 0, 2, 0);
    tools->setSpacing(2);
    zoom_ = new TZoomButtons(QStringLiteral("Temperature"), toolBar);
    for (QToolButton* button : zoom_->Buttons()) {
        tools->addWidget(button);
    }
    QToolButton* clearButton =
        MakeSpeedButton(QStringLiteral("ClearTemperaturesButton"), tr("Clear temperatures"),
                        toolBar, QStyle::SP_TrashIcon);
    logToFile_ = MakeCheck(QStringLiteral("LogToFile"), tr("Log To File"), false, toolBar);
    auto* hoursCaption = new QLabel(tr("Stored Hours"), toolBar);
    hoursCaption->setObjectName(QStringLiteral("Label54"));
    storedHoursSpinEdit_ = new TSpinEdit(toolBar);
    storedHoursSpinEdit_->setObjectName(QStringLiteral("StoredTemperatureHoursSpinEdit"));
    storedHoursSpinEdit_->setRange(1, MaxStoredHours);
    for (QWidget* widget : std::initializer_list<QWidget*>{clearButton, logToFile_, hoursCaption,
                                                           storedHoursSpinEdit_}) {
        tools->addWidget(widget);
    }
    displayChecks_ = new TDisplayChecks(QStringLiteral("TDisp"), toolBar);
    for (QCheckBox* box : displayChecks_->Boxes()) {
        tools->addWidget(box);
    }
    tools->addStretch();
    layout->addWidget(toolBar);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    detailsPanel_ = new TDetailsPanel(
        QStringLiteral("TemperatureDetailsPanel"),
        {QStringLiteral("TCh%1L"), QStringLiteral("TCh%1Off"), QStringLiteral("TCh%1Temp"),
         QStringLiteral("TCh%1xy")},
        QStringLiteral("TBevel%1"),
        QString::fromStdString(WidestTemperatureDetailsText(model_.Separators())), this);
    body->addWidget(detailsPanel_);
    auto* listPanel = new QWidget(this);
    listPanel->setObjectName(QStringLiteral("StoredTemperaturesPanel"));
    auto* bands = new QVBoxLayout(listPanel);
    bands->setContentsMargins(0, 0, 0, 0);
    storedTemperaturesList_ = new TBandList(DesignItemHeight, listPanel);
    storedTemperaturesList_->setObjectName(QStringLiteral("StoredTemperaturesList"));
    storedTemperaturesList_->setMouseTracking(true);
    bands->addWidget(storedTemperaturesList_);
    body->addWidget(listPanel, 1);
    layout->addLayout(body, 1);

    connect(zoom_, &TZoomButtons::Zoomed, this, [this] { ZoomChanged(); });
    connect(clearButton, &QToolButton::clicked, this, [this] { ClearTemperaturesButtonClick(); });
    connect(logToFile_, &QCheckBox::toggled, this, [this] { LogToFileClick(); });
    connect(storedHoursSpinEdit_, &TSpinEdit::Changed, this,
            [this] { StoredTemperatureHoursSpinEditChange(); });
    connect(displayChecks_, &TDisplayChecks::Toggled, this,
            [this](int channel, bool checked) { TDispClick(channel, checked); });
    connect(storedTemperaturesList_, &TBandList::Resized, this,
            [this] { StoredTemperaturesPanelResize(); });
    connect(storedTemperaturesList_, &TBandList::MouseMoved, this,
            [this](QPoint point) { StoredTemperaturesListMouseMove(point); });
    connect(detailsPanel_, &TDetailsPanel::Resized, this,
            [this] { TemperatureDetailsPanelResize(); });
    new TNumericKeyFilter(
        storedHoursSpinEdit_, [this] { return storedHoursSpinEdit_->text(); }, false,
        model_.Separators());
}

double TTemperaturesPage::TemperatureZoom() const {
    return zoom_->Zoom();
}

void TTemperaturesPage::ResetDisplays() {
    detailsPanel_->HideAll();
}

void TTemperaturesPage::FormatChanged() {
    EnableDisplayChecks();
    RebuildTemperatureList();
}

void TTemperaturesPage::BlockArrived(bool full) {
    ShowTemperatureDetails(full);
    DrawTemperatureTraces(full);
    UpdateTemperatureZoomButtons(true);
}

void TTemperaturesPage::ColoursChanged() {
    ApplyListColour();
    DrawTemperatureTraces(true);
}

void TTemperaturesPage::ShowSettings() {
    storedHoursSpinEdit_->setValue(model_.Settings().StoredHours);
}

void TTemperaturesPage::ApplyListColour() {
    storedTemperaturesList_->SetColour(ColourFromSetting(model_.Settings().TemperaturesBgdCol));
}

void TTemperaturesPage::EnableDisplayChecks() {
    displayChecks_->EnableDisplayChecks(model_.Format().ChannelCount,
                                        model_.Displayed(TGraph::Temperatures));
}

void TTemperaturesPage::RebuildTemperatureList() {
    storedTemperaturesList_->Clear();
    for (int c = 0; c < model_.ChannelCount(); ++c) {
        if (model_.Displayed(TGraph::Temperatures, c)) {
            storedTemperaturesList_->AddItem(c);
        }
    }
    ResizeTemperatureBitmaps();
}

void TTemperaturesPage::ResizeTemperatureBitmaps() {
    storedTemperaturesList_->ResizeImages(model_.ChannelCount());
}

void TTemperaturesPage::ShowTemperatureDetails(bool layout) {
    const int count = model_.ChannelCount();
    if (layout) {
        detailsPanel_->LayOut(model_.Displayed(TGraph::Temperatures), count);
    }
    for (int c = 0; c < count; ++c) {
        if (!model_.Displayed(TGraph::Temperatures, c)) {
            continue;
        }
        const size_t channel = static_cast<size_t>(c);
        const TTemperatureDetailsTexts texts = TemperatureDetailsTexts(
            c, model_.Channels().ChannelHistory(c), model_.SamplesPerBlock(),
            model_.Channels().ChannelStats(c), model_.ChannelTemperatures()[channel],
            model_.GainFactors()[channel], TemperatureZoom(), model_.Separators());
        detailsPanel_->SetTexts(
            c, {texts.Range, texts.Offset, texts.Temperature, readouts_[channel].toStdString()});
    }
}

void TTemperaturesPage::DrawTemperatureTraces(bool full) {
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
    draw.Zoom = TemperatureZoom();
    for (int c = 0; c < count; ++c) {
        if (!model_.Displayed(TGraph::Temperatures, c)) {
            continue;
        }
        draw.GainFactor = model_.GainFactors()[static_cast<size_t>(c)];
        DrawTemperatureTrace(storedTemperaturesList_->Image(c), resources_,
                             histories[static_cast<size_t>(c)], draw);
    }
}

void TTemperaturesPage::UpdateTemperatureZoomButtons(bool enabled) {
    zoom_->Update(enabled);
}

void TTemperaturesPage::RefreshPage() {
    storedTemperaturesList_->update();
}

void TTemperaturesPage::ZoomKey(bool in, bool extreme) {
    zoom_->Key(in, extreme);
}

void TTemperaturesPage::SpanKey(bool longer) {
    storedHoursSpinEdit_->StepSpan(longer);
}

void TTemperaturesPage::ZoomChanged() {
    ShowTemperatureDetails(true);
    DrawTemperatureTraces(true);
    refreshActivePage_();
    UpdateTemperatureZoomButtons(true);
}

void TTemperaturesPage::ClearTemperaturesButtonClick() {
    model_.ClearTemperatureHistories();
    ResizeTemperatureBitmaps();
    DrawTemperatureTraces(true);
    refreshActivePage_();
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
    DrawTemperatureTraces(true);
    refreshActivePage_();
}

void TTemperaturesPage::TDispClick(int channel, bool checked) {
    model_.SetDisplayed(TGraph::Temperatures, channel, checked);
    RebuildTemperatureList();
    ShowTemperatureDetails(true);
    DrawTemperatureTraces(true);
    refreshActivePage_();
}

void TTemperaturesPage::TemperatureDetailsPanelResize() {
    ShowTemperatureDetails(true);
}

void TTemperaturesPage::StoredTemperaturesPanelResize() {
    ResizeTemperatureBitmaps();
    DrawTemperatureTraces(true);
}

void TTemperaturesPage::StoredTemperaturesListMouseMove(QPoint point) {
    const int item = storedTemperaturesList_->ItemAt(point);
    if (item < 0) {
        return;
    }
    const int c = NthDisplayedChannel(model_.Displayed(TGraph::Temperatures), item);
    if (c < 0) {
        return;
    }
    const size_t channel = static_cast<size_t>(c);
    readouts_[channel] = QString::fromStdString(
        TemperatureReadout(point.x(), point.y(), item, storedTemperaturesList_->ItemWidth(),
                           storedTemperaturesList_->ItemHeight(), model_.GainFactors()[channel],
                           TemperatureZoom(), model_.Separators()));
    detailsPanel_->Label(c, ReadoutLine)->setText(readouts_[channel]);
}
