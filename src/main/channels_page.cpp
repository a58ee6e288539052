#include "main/channels_page.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "main/band_list.h"
#include "main/details_panel.h"
#include "main/display_checks.h"
#include "main/graph_resources.h"
#include "main/spin_edit.h"
#include "main/widgets.h"
#include "main/zoom_buttons.h"
#include "monitor/channel_details.h"
#include "monitor/monitor_model.h"
#include "settings/numeric_entry.h"

namespace {

constexpr int ToolBarHeight = 41;
constexpr int MaxStoredSeconds = 86400;

}  // namespace

TChannelsPage::TChannelsPage(TMonitorModel& model, const TGraphResources& resources,
                             std::function<void()> refreshActivePage, QWidget* parent)
    : QWidget(parent),
      model_(model),
      resources_(resources),
      refreshActivePage_(std::move(refreshActivePage)) {
    BuildControls();
    ApplyListColour();
    detailsPanel_->HideAll();
    UpdateZoomButtons(false);
    ShowSettings();
}

void TChannelsPage::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* toolBar = new QFrame(this);
    toolBar->setObjectName(QStringLiteral("Panel3"));
    toolBar->setFixedHeight(ToolBarHeight);
    auto* tools = new QHBoxLayout(toolBar);
    tools->setContentsMargins(2, 0, 2, 0);
    tools->setSpacing(2);
    zoom_ = new TZoomButtons(QString(), toolBar);
    for (QToolButton* button : zoom_->Buttons()) {
        tools->addWidget(button);
    }
    QToolButton* clearWavesButton = MakeSpeedButton(
        QStringLiteral("ClearWavesButton"), tr("Clear traces"), toolBar, QStyle::SP_TrashIcon);
    removeDc_ = MakeCheck(QStringLiteral("RemoveDC"), tr("Remove DC"), true, toolBar);
    dcTimeConstEdit_ = new QLineEdit(toolBar);
    dcTimeConstEdit_->setObjectName(QStringLiteral("DCTimeConstEdit"));
    dcTimeConstEdit_->setToolTip(tr("Offset smoothing factor per sample (0 to 1)"));
    FitEditWidth(dcTimeConstEdit_, QStringLiteral("0.00000"), 52);
    overlay_ = MakeCheck(QStringLiteral("Overlay"), tr("Overlay"), false, toolBar);
    auto* secondsCaption = new QLabel(tr("Display Seconds"), toolBar);
    secondsCaption->setObjectName(QStringLiteral("Label46"));
    storedSecondsSpinEdit_ = new TSpinEdit(toolBar);
    storedSecondsSpinEdit_->setObjectName(QStringLiteral("StoredSecondsSpinEdit"));
    storedSecondsSpinEdit_->setRange(1, MaxStoredSeconds);
    for (QWidget* widget :
         std::initializer_list<QWidget*>{clearWavesButton, removeDc_, dcTimeConstEdit_, overlay_,
                                         secondsCaption, storedSecondsSpinEdit_}) {
        tools->addWidget(widget);
    }
    displayChecks_ = new TDisplayChecks(QStringLiteral("Disp"), toolBar);
    for (QCheckBox* box : displayChecks_->Boxes()) {
        tools->addWidget(box);
    }
    tools->addStretch();
    layout->addWidget(toolBar);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    detailsPanel_ = new TDetailsPanel(
        QStringLiteral("ChannelDetailsPanel"),
        {QStringLiteral("Ch%1L"), QStringLiteral("Ch%1Off"), QStringLiteral("Ch%1Rms"),
         QStringLiteral("Ch%1Db"), QStringLiteral("Ch%1AvDb")},
        QStringLiteral("Bevel%1"),
        QString::fromStdString(WidestChannelDetailsText(model_.Separators())), this);
    body->addWidget(detailsPanel_);
    auto* storedWavePanel = new QWidget(this);
    storedWavePanel->setObjectName(QStringLiteral("StoredWavePanel"));
    auto* waves = new QVBoxLayout(storedWavePanel);
    waves->setContentsMargins(0, 0, 0, 0);
    storedWavesList_ = new TBandList(DesignItemHeight, storedWavePanel);
    storedWavesList_->setObjectName(QStringLiteral("StoredWavesList"));
    waves->addWidget(storedWavesList_);
    body->addWidget(storedWavePanel, 1);
    layout->addLayout(body, 1);

    connect(zoom_, &TZoomButtons::Zoomed, this, [this] { ZoomChanged(); });
    connect(clearWavesButton, &QToolButton::clicked, this, [this] { ClearWavesButtonClick(); });
    connect(removeDc_, &QCheckBox::toggled, this, [this] { RemoveDCClick(); });
    connect(dcTimeConstEdit_, &QLineEdit::textChanged, this, [this] { DCTimeConstEditChange(); });
    connect(storedSecondsSpinEdit_, &TSpinEdit::Changed, this,
            [this] { StoredSecondsSpinEditChange(); });
    connect(displayChecks_, &TDisplayChecks::Toggled, this,
            [this](int channel, bool checked) { DispClick(channel, checked); });
    connect(storedWavesList_, &TBandList::Resized, this, [this] { StoredWavePanelResize(); });
    connect(detailsPanel_, &TDetailsPanel::Resized, this, [this] { ChannelDetailsPanelResize(); });
    new TNumericKeyFilter(
        dcTimeConstEdit_, [this] { return dcTimeConstEdit_->text(); }, true, model_.Separators());
    new TNumericKeyFilter(
        storedSecondsSpinEdit_, [this] { return storedSecondsSpinEdit_->text(); }, false,
        model_.Separators());
}

double TChannelsPage::ChannelZoom() const {
    return zoom_->Zoom();
}

void TChannelsPage::ResetDisplays() {
    detailsPanel_->HideAll();
}

void TChannelsPage::MonitoringStarted() {
    UpdateZoomButtons(false);
}

void TChannelsPage::FormatChanged() {
    EnableDisplayChecks();
    RebuildWaveList();
}

void TChannelsPage::BlockArrived(bool full) {
    ShowChannelDetails(full);
    DrawChannelTraces(full);
    UpdateZoomButtons(true);
}

void TChannelsPage::ColoursChanged() {
    ApplyListColour();
    DrawChannelTraces(true);
}

void TChannelsPage::ShowSettings() {
    storedSecondsSpinEdit_->setValue(model_.Settings().StoredSeconds);
    dcTimeConstEdit_->setText(QString::fromStdString(
        FormatSettingsDouble(model_.Settings().DCTimeConst, model_.Separators().Decimal)));
}

void TChannelsPage::ApplyListColour() {
    storedWavesList_->SetColour(ColourFromSetting(model_.Settings().DataBgdCol));
}

void TChannelsPage::EnableDisplayChecks() {
    displayChecks_->EnableDisplayChecks(model_.Format().ChannelCount,
                                        model_.Displayed(TGraph::Waves));
}

void TChannelsPage::RebuildWaveList() {
    storedWavesList_->Clear();
    for (int c = 0; c < model_.ChannelCount(); ++c) {
        if (model_.Displayed(TGraph::Waves, c)) {
            storedWavesList_->AddItem(c);
        }
    }
    ResizeWaveBitmaps();
}

void TChannelsPage::ResizeWaveBitmaps() {
    storedWavesList_->ResizeImages(model_.ChannelCount());
}

void TChannelsPage::ShowChannelDetails(bool layout) {
    const int count = model_.ChannelCount();
    if (layout) {
        detailsPanel_->LayOut(model_.Displayed(TGraph::Waves), count);
    }
    for (int c = 0; c < count; ++c) {
        if (!model_.Displayed(TGraph::Waves, c)) {
            continue;
        }
        const TChannelDetailsTexts texts = ChannelDetailsTexts(
            c, model_.Channels().ChannelHistory(c), model_.SamplesPerBlock(),
            model_.Channels().ChannelStats(c), model_.GainFactors()[static_cast<size_t>(c)],
            ChannelZoom(), model_.Separators());
        detailsPanel_->SetTexts(c, {texts.Range, texts.Offset, texts.Ac, texts.Rms, texts.AvRms});
    }
}

void TChannelsPage::DrawChannelTraces(bool full) {
    const int count = model_.ChannelCount();
    if (count == 0) {
        return;
    }
    const TChannelModel& channels = model_.Channels();
    const TChannelHistory& first = channels.ChannelHistory(0);
    const auto perBlock = static_cast<size_t>(std::max(model_.SamplesPerBlock(), 0));
    size_t start = 0;
    if (!full && !first.IsEmpty()) {
        start = first.Size() > perBlock ? first.Size() - perBlock : 0;
    }
    TTraceDraw draw;
    draw.Start = start;
    draw.NewSweep = full || start == 0;
    draw.Overlay = overlay_->isChecked();
    draw.Span = channels.StoredSampleLimit(model_.Format().SampleRate);
    draw.Zoom = ChannelZoom();
    for (int c = 0; c < count; ++c) {
        if (!model_.Displayed(TGraph::Waves, c)) {
            continue;
        }
        draw.SweepDcRef = removeDc_->isChecked() ? channels.ChannelStats(c).Offset : 0;
        draw.GainFactor = model_.GainFactors()[static_cast<size_t>(c)];
        DrawChannelTrace(storedWavesList_->Image(c), resources_, channels.ChannelHistory(c), draw,
                         sweeps_[static_cast<size_t>(c)]);
    }
}

void TChannelsPage::UpdateZoomButtons(bool enabled) {
    zoom_->Update(enabled);
}

void TChannelsPage::RefreshPage() {
    storedWavesList_->update();
}

void TChannelsPage::ZoomKey(bool in, bool extreme) {
    zoom_->Key(in, extreme);
}

void TChannelsPage::SpanKey(bool longer) {
    storedSecondsSpinEdit_->StepSpan(longer);
}

// Each zoom button: the figures laid out again, the traces redrawn at the new
// scale, the page repainted, the buttons updated.
void TChannelsPage::ZoomChanged() {
    ShowChannelDetails(true);
    DrawChannelTraces(true);
    refreshActivePage_();
    UpdateZoomButtons(true);
}

void TChannelsPage::ClearWavesButtonClick() {
    model_.ClearChannelHistories();
    ResizeWaveBitmaps();
    DrawChannelTraces(true);
    refreshActivePage_();
}

void TChannelsPage::RemoveDCClick() {
    DrawChannelTraces(true);
    refreshActivePage_();
}

void TChannelsPage::StoredSecondsSpinEditChange() {
    // An emptied field or a number below 1 is 1 by now (TSpinEdit).
    model_.SetStoredSeconds(storedSecondsSpinEdit_->value());
    DrawChannelTraces(true);
    refreshActivePage_();
}

void TChannelsPage::DCTimeConstEditChange() {
    const std::string& decimal = model_.Separators().Decimal;
    const std::optional<double> value =
        DcTimeConstFromText(dcTimeConstEdit_->text().toStdString(), decimal);
    if (!value) {
        // Shows the value in force again; that text is valid and comes back here.
        dcTimeConstEdit_->setText(
            QString::fromStdString(FormatSettingsDouble(model_.Settings().DCTimeConst, decimal)));
        return;
    }
    model_.SetDcTimeConst(*value);
}

void TChannelsPage::DispClick(int channel, bool checked) {
    model_.SetDisplayed(TGraph::Waves, channel, checked);
    RebuildWaveList();
    ShowChannelDetails(true);
    DrawChannelTraces(true);
    refreshActivePage_();
}

void TChannelsPage::ChannelDetailsPanelResize() {
    ShowChannelDetails(true);
}

void TChannelsPage::StoredWavePanelResize() {
    ResizeWaveBitmaps();
    DrawChannelTraces(true);
    refreshActivePage_();
}
