#include "main/channels_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "main/band_list.h"
#include "main/graph_resources.h"
#include "main/model/channel_details.h"
#include "main/model/channel_stats.h"
#include "main/model/numeric_entry.h"
#include "main/model/settings.h"
#include "main/model/stream_format.h"
#include "main/model/zoom_steps.h"
#include "main/spin_edit.h"

namespace {

constexpr int ToolBarHeight = 41;
constexpr int DetailsPanelWidth = 145;
constexpr int MaxStoredSeconds = 86400;
constexpr int DetailsFontPixels = 11;

// A speed button: text, or a standard icon with its name as a tip.
QToolButton* MakeSpeedButton(const char* name, const QString& text, QWidget* parent,
                             QStyle::StandardPixmap glyph = QStyle::SP_CustomBase) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setToolTip(text);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(true);
    button->setFixedSize(25, 25);
    if (glyph != QStyle::SP_CustomBase) {
        const QIcon icon = button->style()->standardIcon(glyph);
        if (!icon.isNull()) {
            button->setIcon(icon);
            button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        }
    }
    return button;
}

QCheckBox* MakeCheck(const QString& name, const QString& caption, bool checked, QWidget* parent) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(name);
    check->setChecked(checked);
    return check;
}

// The first character of a key's text when it is one that is typed; nothing
// for control keys and keys with Ctrl, Alt or Meta.
std::optional<char32_t> TypedCharacter(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return std::nullopt;
    }
    const QList<uint> text = event.text().toUcs4();
    if (text.isEmpty() || !QChar::isPrint(text.front())) {
        return std::nullopt;
    }
    return static_cast<char32_t>(text.front());
}

// FilterNumericKey for a character typed into a field holding `current` (no
// minus; a point, the user's decimal separator, when allowed), with the beep
// for a rejected key.
bool PassesNumericKey(const QString& typed, const QString& current, bool allowPoint,
                      const TNumberSeparators& separators) {
    const std::u32string key = typed.toStdU32String();
    const std::u32string point = QString::fromStdString(separators.Decimal).toStdU32String();
    if (key.empty() || FilterNumericKey(key.front(), current.toStdU32String(), false, allowPoint,
                                        point.empty() ? U'.' : point.front())) {
        return true;
    }
    QApplication::beep();
    return false;
}

}  // namespace

TChannelsPage::TChannelsPage(const TChannelsPageModel& model, const TGraphResources& resources,
                             std::function<void()> refreshActivePage, QWidget* parent)
    : QWidget(parent),
      model_(model),
      resources_(resources),
      refreshActivePage_(std::move(refreshActivePage)) {
    BuildControls();
}

void TChannelsPage::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* panel3 = new QFrame(this);
    panel3->setObjectName(QStringLiteral("Panel3"));
    panel3->setFixedHeight(ToolBarHeight);
    auto* tools = new QHBoxLayout(panel3);
    tools->setContentsMargins(2, 0, 2, 0);
    tools->setSpacing(2);
    maxZoomButton_ = MakeSpeedButton("MaxZoomButton", QStringLiteral("+"), panel3);
    maxZoomButton_->setToolTip(tr("Maximum zoom"));
    zoomInButton_ = MakeSpeedButton("ZoomInButton", tr("Zoom in"), panel3, QStyle::SP_ArrowUp);
    zoomOutButton_ = MakeSpeedButton("ZoomOutButton", tr("Zoom out"), panel3, QStyle::SP_ArrowDown);
    minZoomButton_ = MakeSpeedButton("MinZoomButton", QStringLiteral("-"), panel3);
    minZoomButton_->setToolTip(tr("No zoom"));
    clearWavesButton_ =
        MakeSpeedButton("ClearWavesButton", tr("Clear traces"), panel3, QStyle::SP_TrashIcon);
    removeDc_ = MakeCheck(QStringLiteral("RemoveDC"), tr("Remove DC"), true, panel3);
    dcTimeConstEdit_ = new QLineEdit(panel3);
    dcTimeConstEdit_->setObjectName(QStringLiteral("DCTimeConstEdit"));
    dcTimeConstEdit_->setFixedWidth(52);
    dcTimeConstEdit_->setToolTip(tr("Offset smoothing factor per sample (0 to 1)"));
    overlay_ = MakeCheck(QStringLiteral("Overlay"), tr("Overlay"), false, panel3);
    auto* label46 = new QLabel(tr("Display Seconds"), panel3);
    label46->setObjectName(QStringLiteral("Label46"));
    storedSecondsSpinEdit_ = new TSpinEdit(panel3);
    storedSecondsSpinEdit_->setObjectName(QStringLiteral("StoredSecondsSpinEdit"));
    storedSecondsSpinEdit_->setRange(1, MaxStoredSeconds);
    for (QWidget* widget : std::initializer_list<QWidget*>{
             maxZoomButton_, zoomInButton_, zoomOutButton_, minZoomButton_, clearWavesButton_,
             removeDc_, dcTimeConstEdit_, overlay_, label46, storedSecondsSpinEdit_}) {
        tools->addWidget(widget);
    }
    for (int c = 0; c < MaxChannels; ++c) {
        disp_[c] =
            MakeCheck(QStringLiteral("Disp%1").arg(c + 1), QString::number(c + 1), true, panel3);
        tools->addWidget(disp_[c]);
    }
    tools->addStretch();
    layout->addWidget(panel3);

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    channelDetailsPanel_ = new QWidget(this);
    channelDetailsPanel_->setObjectName(QStringLiteral("ChannelDetailsPanel"));
    channelDetailsPanel_->setFixedWidth(DetailsPanelWidth);
    QFont font = channelDetailsPanel_->font();
    font.setPixelSize(DetailsFontPixels);
    channelDetailsPanel_->setFont(font);
    const char* labelNames[DetailsLabelCount] = {"L", "Off", "Rms", "Db", "AvDb"};
    for (int c = 0; c < MaxChannels; ++c) {
        bevels_[c] = new QFrame(channelDetailsPanel_);
        bevels_[c]->setObjectName(QStringLiteral("Bevel%1").arg(c + 1));
        bevels_[c]->setFrameShape(QFrame::HLine);
        bevels_[c]->setFrameShadow(QFrame::Sunken);
        for (int i = 0; i < DetailsLabelCount; ++i) {
            auto* label = new QLabel(channelDetailsPanel_);
            label->setObjectName(QStringLiteral("Ch%1%2").arg(c + 1).arg(labelNames[i]));
            labels_[c][i] = label;
        }
    }
    body->addWidget(channelDetailsPanel_);
    auto* storedWavePanel = new QWidget(this);
    storedWavePanel->setObjectName(QStringLiteral("StoredWavePanel"));
    auto* waves = new QVBoxLayout(storedWavePanel);
    waves->setContentsMargins(0, 0, 0, 0);
    storedWavesList_ = new TBandList(DesignItemHeight, storedWavePanel);
    storedWavesList_->setObjectName(QStringLiteral("StoredWavesList"));
    waves->addWidget(storedWavesList_);
    body->addWidget(storedWavePanel, 1);
    layout->addLayout(body, 1);

    connect(maxZoomButton_, &QToolButton::clicked, this, [this] { MaxZoomButtonClick(); });
    connect(zoomInButton_, &QToolButton::clicked, this, [this] { ZoomInButtonClick(); });
    connect(zoomOutButton_, &QToolButton::clicked, this, [this] { ZoomOutButtonClick(); });
    connect(minZoomButton_, &QToolButton::clicked, this, [this] { MinZoomButtonClick(); });
    connect(clearWavesButton_, &QToolButton::clicked, this, [this] { ClearWavesButtonClick(); });
    connect(removeDc_, &QCheckBox::toggled, this, [this] { RemoveDCClick(); });
    connect(dcTimeConstEdit_, &QLineEdit::textChanged, this, [this] { DCTimeConstEditChange(); });
    connect(storedSecondsSpinEdit_, &TSpinEdit::Changed, this,
            [this] { StoredSecondsSpinEditChange(); });
    for (int c = 0; c < MaxChannels; ++c) {
        // Toggled, as a check box's click handler also runs when it is unchecked in code.
        connect(disp_[c], &QCheckBox::toggled, this, [this, c] { DispClick(c); });
    }
    connect(storedWavesList_, &TBandList::Resized, this, [this] { StoredWavePanelResize(); });
    channelDetailsPanel_->installEventFilter(this);
    dcTimeConstEdit_->installEventFilter(this);
    storedSecondsSpinEdit_->installEventFilter(this);
}

int TChannelsPage::ChannelCount() const {
    return std::clamp(model_.Format.ChannelCount, 0, MaxChannels);
}

void TChannelsPage::ResetDisplays() {
    for (int c = 0; c < MaxChannels; ++c) {
        bevels_[c]->hide();
        for (QLabel* label : labels_[c]) {
            label->hide();
        }
    }
}

void TChannelsPage::ShowSettings() {
    storedSecondsSpinEdit_->setValue(model_.Settings.StoredSeconds);
    dcTimeConstEdit_->setText(QString::fromStdString(
        FormatSettingsDouble(model_.Settings.DCTimeConst, model_.Separators.Decimal)));
}

void TChannelsPage::ApplyListColour() {
    storedWavesList_->SetColour(ColourFromSetting(model_.Settings.DataBgdCol));
}

void TChannelsPage::EnableDisplayChecks() {
    const int n = model_.Format.ChannelCount;
    if (n < 1 || n > MaxChannels) {
        return;
    }
    for (int c = 0; c < MaxChannels; ++c) {
        if (c < n) {
            disp_[c]->setEnabled(true);
        } else {
            disp_[c]->setChecked(false);  // runs DispClick when it was checked
            disp_[c]->setEnabled(false);
        }
    }
}

void TChannelsPage::RebuildWaveList() {
    storedWavesList_->Clear();
    for (int c = 0; c < ChannelCount(); ++c) {
        if (waveDisplay_[c]) {
            storedWavesList_->AddItem(c);
        }
    }
    ResizeWaveBitmaps();
}

void TChannelsPage::ResizeWaveBitmaps() {
    storedWavesList_->ResizeImages(ChannelCount());
}

void TChannelsPage::ShowChannelDetails(bool layout) {
    const int count = ChannelCount();
    if (layout) {
        const auto placements =
            LayOutChannelDetails(channelDetailsPanel_->height(), waveDisplay_, count);
        const int width = channelDetailsPanel_->width();
        for (int c = 0; c < MaxChannels; ++c) {
            const TDetailsPlacement& placement = placements[c];
            bevels_[c]->setVisible(placement.Shown);
            for (int i = 0; i < DetailsLabelCount; ++i) {
                QLabel* label = labels_[c][i];
                if (placement.Shown) {
                    label->setGeometry(DetailsLabelLeft, placement.LabelTops[i],
                                       width - DetailsLabelLeft, DetailsLabelStep);
                    label->clear();
                }
                label->setVisible(placement.Shown);
            }
            if (placement.Shown) {
                bevels_[c]->setGeometry(0, placement.BevelTop, width, 2);
            }
        }
    }
    for (int c = 0; c < count; ++c) {
        if (!waveDisplay_[c]) {
            continue;
        }
        const TChannelDetailsTexts texts = ChannelDetailsTexts(
            c, model_.Channels.ChannelHistory(c), model_.SamplesPerBlock,
            model_.Channels.ChannelStats(c), model_.GainFactor[c], channelZoom_, model_.Separators);
        const std::string* lines[DetailsLabelCount] = {&texts.Range, &texts.Offset, &texts.Ac,
                                                       &texts.Rms, &texts.AvRms};
        for (int i = 0; i < DetailsLabelCount; ++i) {
            labels_[c][i]->setText(QString::fromStdString(*lines[i]));
        }
    }
}

void TChannelsPage::DrawChannelTraces(bool full) {
    const int count = ChannelCount();
    if (count == 0) {
        return;
    }
    const TChannelHistory& first = model_.Channels.ChannelHistory(0);
    const auto perBlock = static_cast<size_t>(std::max(model_.SamplesPerBlock, 0));
    size_t start = 0;
    if (!full && !first.IsEmpty()) {
        start = first.Size() > perBlock ? first.Size() - perBlock : 0;
    }
    TTraceDraw draw;
    draw.Start = start;
    draw.NewSweep = full || start == 0;
    draw.Overlay = overlay_->isChecked();
    draw.Span = model_.Channels.StoredSampleLimit(model_.Format.SampleRate);
    draw.Zoom = channelZoom_;
    for (int c = 0; c < count; ++c) {
        if (!waveDisplay_[c]) {
            continue;
        }
        draw.SweepDcRef = removeDc_->isChecked() ? model_.Channels.ChannelStats(c).Offset : 0;
        draw.GainFactor = model_.GainFactor[c];
        DrawChannelTrace(storedWavesList_->Image(c), resources_, model_.Channels.ChannelHistory(c),
                         draw, sweeps_[c]);
    }
}

void TChannelsPage::UpdateZoomButtons(bool enabled) {
    const TZoomButtons states = ZoomButtonStates(channelZoom_, enabled);
    zoomInButton_->setEnabled(states.In);
    maxZoomButton_->setEnabled(states.In);
    zoomOutButton_->setEnabled(states.Out);
    minZoomButton_->setEnabled(states.Out);
}

void TChannelsPage::RefreshPage() {
    storedWavesList_->update();
}

void TChannelsPage::ZoomKey(bool in, bool extreme) {
    QToolButton* button = in ? (extreme ? maxZoomButton_ : zoomInButton_)
                             : (extreme ? minZoomButton_ : zoomOutButton_);
    button->click();  // nothing when the button is disabled
}

void TChannelsPage::SpanKey(bool longer) {
    const int value = storedSecondsSpinEdit_->value();
    if (longer) {
        storedSecondsSpinEdit_->setValue(value * 2);  // limited to the maximum
    } else if (value > storedSecondsSpinEdit_->minimum()) {
        storedSecondsSpinEdit_->setValue(value / 2);
    }
}

void TChannelsPage::AfterZoom() {
    ShowChannelDetails(true);
    DrawChannelTraces(true);
    refreshActivePage_();
    UpdateZoomButtons(true);
}

void TChannelsPage::ZoomInButtonClick() {
    channelZoom_ = ZoomedIn(channelZoom_);
    AfterZoom();
}

void TChannelsPage::ZoomOutButtonClick() {
    channelZoom_ = ZoomedOut(channelZoom_);
    AfterZoom();
}

void TChannelsPage::MaxZoomButtonClick() {
    channelZoom_ = MaxZoom;
    AfterZoom();
}

void TChannelsPage::MinZoomButtonClick() {
    channelZoom_ = MinZoom;
    AfterZoom();
}

void TChannelsPage::ClearWavesButtonClick() {
    model_.Channels.ClearChannelHistories();
    ResizeWaveBitmaps();
    DrawChannelTraces(true);
    refreshActivePage_();
}

void TChannelsPage::RemoveDCClick() {
    DrawChannelTraces(true);
    refreshActivePage_();
}

void TChannelsPage::StoredSecondsSpinEditChange() {
    if (storedSecondsSpinEdit_->text().isEmpty()) {
        storedSecondsSpinEdit_->setValue(1);  // shows "1" and comes back here
    }
    const int seconds = storedSecondsSpinEdit_->value();
    model_.Settings.StoredSeconds = seconds;
    model_.Channels.SetStoredSeconds(seconds);
    DrawChannelTraces(true);
    refreshActivePage_();
}

void TChannelsPage::DCTimeConstEditChange() {
    const std::string& decimal = model_.Separators.Decimal;
    const std::optional<double> value =
        DcTimeConstFromText(dcTimeConstEdit_->text().toStdString(), decimal);
    if (!value) {
        // Shows the value in force again; that text is valid and comes back here.
        dcTimeConstEdit_->setText(
            QString::fromStdString(FormatSettingsDouble(model_.Settings.DCTimeConst, decimal)));
        return;
    }
    model_.Settings.DCTimeConst = *value;
    model_.Channels.SetDcTimeConst(*value);
}

bool TChannelsPage::StoredSecondsSpinEditKeyPress(const QString& text) {
    return PassesNumericKey(text, storedSecondsSpinEdit_->text(), false, model_.Separators);
}

bool TChannelsPage::DCTimeConstEditKeyPress(const QString& text) {
    return PassesNumericKey(text, dcTimeConstEdit_->text(), true, model_.Separators);
}

void TChannelsPage::DispClick(int channel) {
    waveDisplay_[channel] = disp_[channel]->isChecked();
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

bool TChannelsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == channelDetailsPanel_ && event->type() == QEvent::Resize) {
        ChannelDetailsPanelResize();
    } else if (event->type() == QEvent::KeyPress &&
               (watched == dcTimeConstEdit_ || watched == storedSecondsSpinEdit_)) {
        const std::optional<char32_t> typed = TypedCharacter(*static_cast<QKeyEvent*>(event));
        if (typed) {
            const QString text = QString::fromUcs4(&*typed, 1);
            const bool passes = watched == dcTimeConstEdit_ ? DCTimeConstEditKeyPress(text)
                                                            : StoredSecondsSpinEditKeyPress(text);
            if (!passes) {
                return true;  // swallowed
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
