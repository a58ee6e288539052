#include "main/channels_page.h"

#include <QCheckBox>
#include <QFrame>
#include <QLineEdit>
#include <algorithm>
#include <optional>

#include "main/band_list.h"
#include "main/details_panel.h"
#include "main/spin_edit.h"
#include "main/widgets.h"
#include "monitor/channel_details.h"
#include "settings/numeric_entry.h"

namespace {

constexpr int MaxStoredSeconds = 86400;

}  // namespace

TChannelsPage::TChannelsPage(TMonitorModel& model, const TGraphResources& resources,
                             std::function<void()> refreshActivePage, QWidget* parent)
    : TBandPage(model, resources, std::move(refreshActivePage),
                {.Graph = TGraph::Waves,
                 .Background = &TColourSettings::DataBgdCol,
                 .DesignItemHeight = 141,
                 .DetailsName = QStringLiteral("ChannelDetailsPanel"),
                 .LabelPatterns = {QStringLiteral("Ch%1L"), QStringLiteral("Ch%1Off"),
                                   QStringLiteral("Ch%1Rms"), QStringLiteral("Ch%1Db"),
                                   QStringLiteral("Ch%1AvDb")},
                 .BevelPattern = QStringLiteral("Bevel%1"),
                 .WidestText = WidestChannelDetailsText(model.Separators()),
                 .PanelName = QStringLiteral("StoredWavePanel"),
                 .ListName = QStringLiteral("StoredWavesList"),
                 .ReadoutLine = std::nullopt},
                parent) {
    BuildControls();
    ShowSettings();
}

void TChannelsPage::BuildControls() {
    QFrame* toolBar = ToolBar();
    toolBar->setObjectName(QStringLiteral("Panel3"));
    AddBandZoomButtons(QString());
    AddClearButton(QStringLiteral("ClearWavesButton"), tr("Clear traces"),
                   [this] { model_.ClearChannelHistories(); });
    removeDc_ = MakeCheck(QStringLiteral("RemoveDC"), tr("Remove DC"), true, toolBar);
    dcTimeConstEdit_ = new QLineEdit(toolBar);
    dcTimeConstEdit_->setObjectName(QStringLiteral("DCTimeConstEdit"));
    dcTimeConstEdit_->setToolTip(tr("Offset smoothing factor per sample (0 to 1)"));
    FitEditWidth(dcTimeConstEdit_, QStringLiteral("0.00000"), 52);
    overlay_ = MakeCheck(QStringLiteral("Overlay"), tr("Overlay"), false, toolBar);
    AddTools({removeDc_, dcTimeConstEdit_, overlay_});
    storedSecondsSpinEdit_ =
        AddSpanField(QStringLiteral("Label46"), tr("Display Seconds"),
                     QStringLiteral("StoredSecondsSpinEdit"), MaxStoredSeconds);
    AddDisplayChecks(QStringLiteral("Disp"));

    connect(removeDc_, &QCheckBox::toggled, this, [this] { RemoveDCClick(); });
    connect(dcTimeConstEdit_, &QLineEdit::textChanged, this, [this] { DCTimeConstEditChange(); });
    connect(storedSecondsSpinEdit_, &TSpinEdit::Changed, this,
            [this] { StoredSecondsSpinEditChange(); });
    new TNumericKeyFilter(
        dcTimeConstEdit_, [this] { return dcTimeConstEdit_->text(); }, true, model_.Separators());
}

void TChannelsPage::MonitoringStarted() {
    UpdateZoomButtons(false);
}

void TChannelsPage::ShowSettings() {
    storedSecondsSpinEdit_->setValue(model_.Settings().StoredSeconds);
    dcTimeConstEdit_->setText(QString::fromStdString(
        FormatSettingsDouble(model_.Settings().DCTimeConst, model_.Separators().Decimal)));
}

std::vector<std::string> TChannelsPage::DetailsTexts(int channel) const {
    const TChannelDetailsTexts texts = ChannelDetailsTexts(
        channel, model_.Channels().ChannelHistory(channel), model_.SamplesPerBlock(),
        model_.Channels().ChannelStats(channel), model_.GainFactors()[static_cast<size_t>(channel)],
        Zoom(), model_.Separators());
    return {texts.Range, texts.Offset, texts.Ac, texts.Rms, texts.AvRms};
}

void TChannelsPage::DrawTraces(bool full) {
    if (model_.ChannelCount() == 0) {
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
    draw.Zoom = Zoom();
    for (const int c : DisplayedChannels()) {
        draw.SweepDcRef = removeDc_->isChecked() ? channels.ChannelStats(c).Offset : 0;
        draw.GainFactor = model_.GainFactors()[static_cast<size_t>(c)];
        DrawChannelTrace(Bands()->Image(c), resources_, channels.ChannelHistory(c), draw,
                         sweeps_[static_cast<size_t>(c)]);
    }
}

void TChannelsPage::RemoveDCClick() {
    DrawTraces(true);
    RefreshActivePage();
}

void TChannelsPage::StoredSecondsSpinEditChange() {
    // An emptied field or a number below 1 is 1 by now (TSpinEdit).
    model_.SetStoredSeconds(storedSecondsSpinEdit_->value());
    DrawTraces(true);
    RefreshActivePage();
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
