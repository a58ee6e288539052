#include "main/events_page.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "main/event_dialog.h"
#include "main/widgets.h"
#include "monitor/monitor_model.h"
#include "monitor/voltage_format.h"

namespace {

enum TColumn {
    IdColumn,
    StartColumn,
    EndColumn,
    DurationColumn,
    ChannelsColumn,
    RatioColumn,
    CountsColumn,
    VoltsColumn,
    MarksColumn  // clipped (a raw sample at full scale), calibration
};

QDoubleSpinBox* MakeNumber(const QString& name, double low, double high, int decimals,
                           const QString& suffix, QWidget* parent) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setRange(low, high);
    box->setDecimals(decimals);
    box->setSuffix(suffix);
    box->setKeyboardTracking(false);  // in force when the typing is done
    return box;
}

// "2026-12-08 00:09:10.13", or only "00:09:10.13" when on the date of `day`.
QString ListTime(const TSampleTime& time, const TSampleTime* day = nullptr) {
    std::string text = FormatSampleTime(time);  // 2026-12-08T00:09:10.130000Z
    if (text.size() < 22) {
        return QString::fromStdString(text);
    }
    if (day != nullptr && FormatSampleTime(*day).compare(0, 10, text, 0, 10) == 0) {
        return QString::fromStdString(text.substr(11, 11));
    }
    return QString::fromStdString(text.replace(10, 1, " ").substr(0, 22));
}

QString ChannelList(const std::vector<int>& channels) {
    QStringList names;
    for (const int c : channels) {
        names << QString::number(c + 1);
    }
    return names.join(QStringLiteral(", "));
}

}  // namespace

TRatioBar::TRatioBar(QWidget* parent) : QWidget(parent) {
    setMinimumSize(60, 12);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TRatioBar::SetLevels(double ratio, double on, double off, bool triggered) {
    if (ratio != ratio_ || on != on_ || off != off_ || triggered != triggered_) {
        ratio_ = ratio;
        on_ = on;
        off_ = off;
        triggered_ = triggered;
        update();
    }
}

int TRatioBar::XOf(double ratio) const {
    const double end = 2 * on_;
    const double share = end > 0 ? std::clamp(ratio / end, 0.0, 1.0) : 0;
    return 1 + static_cast<int>(std::lround(share * (width() - 3)));
}

void TRatioBar::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.base());
    painter.setPen(colours.mid().color());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const int bar = XOf(ratio_);
    painter.fillRect(QRect(1, 2, bar, height() - 4),
                     triggered_ ? OnColour().lighter(130) : colours.highlight().color());
    // The marks across the whole height, over the bar.
    painter.fillRect(QRect(XOf(off_) - 1, 0, 2, height()), OffColour());
    painter.fillRect(QRect(XOf(on_) - 1, 0, 2, height()), OnColour());
}

TEventsPage::TEventsPage(TMonitorModel& model, TShowEvent showEvent, QWidget* parent)
    : QWidget(parent), model_(model), showEvent_(std::move(showEvent)) {
    BuildControls();
    ShowSettings();
    ShowRatios();
}

void TEventsPage::BuildControls() {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);

    auto* left = new QVBoxLayout;
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("EventList"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setHeaderLabels({tr("#"), tr("Start (UTC)"), tr("End (UTC)"), tr("Duration"),
                            tr("Channels"), tr("Peak\nSTA/LTA"), tr("Peak counts"),
                            tr("Peak volts"), tr("Marks")});
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->setToolTip(tr("Double-click an event to open it and see it on the Helicorder page"));
    left->addWidget(list_, 1);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("EventState"));
    state_->setWordWrap(true);
    left->addWidget(state_);
    layout->addLayout(left, 1);

    // The ratios and the trigger's settings scroll when the window is small.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("EventSettingsScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* side = new QWidget(scroll);
    auto* right = new QVBoxLayout(side);
    right->setContentsMargins(0, 0, 0, 0);
    auto* ratios = new QGroupBox(tr("STA/LTA"), side);
    auto* ratioGrid = new QGridLayout(ratios);
    for (int c = 0; c < MaxChannels; ++c) {
        auto* label = new QLabel(ratios);
        label->setObjectName(QStringLiteral("EventRatio%1").arg(c + 1));
        auto* bar = new TRatioBar(ratios);
        bar->setObjectName(QStringLiteral("EventRatioBar%1").arg(c + 1));
        bar->setToolTip(tr("Red: trigger on; blue: trigger off"));
        ratioGrid->addWidget(label, c, 0);
        ratioGrid->addWidget(bar, c, 1);
        ratioLabels_[static_cast<size_t>(c)] = label;
        ratioBars_[static_cast<size_t>(c)] = bar;
    }
    right->addWidget(ratios);

    auto* trigger = new QGroupBox(tr("Trigger"), side);
    auto* form = new QFormLayout(trigger);
    bandpass_ = MakeCheck(QStringLiteral("EventBandpass"), tr("Band-pass"), true, trigger);
    form->addRow(bandpass_);
    lowHz_ = MakeNumber(QStringLiteral("EventLowHz"), 0.01, 1000, 2, tr(" Hz"), trigger);
    highHz_ = MakeNumber(QStringLiteral("EventHighHz"), 0.01, 1000, 2, tr(" Hz"), trigger);
    form->addRow(tr("Low corner"), lowHz_);
    form->addRow(tr("High corner"), highHz_);
    poles_ = new QSpinBox(trigger);
    poles_->setObjectName(QStringLiteral("EventPoles"));
    poles_->setRange(1, 4);
    form->addRow(tr("Poles"), poles_);
    sta_ = MakeNumber(QStringLiteral("EventSta"), 0.01, 3600, 2, tr(" s"), trigger);
    lta_ = MakeNumber(QStringLiteral("EventLta"), 0.1, 3600, 1, tr(" s"), trigger);
    on_ = MakeNumber(QStringLiteral("EventOn"), 0.01, 1000, 2, QString(), trigger);
    off_ = MakeNumber(QStringLiteral("EventOff"), 0.01, 1000, 2, QString(), trigger);
    form->addRow(tr("STA"), sta_);
    form->addRow(tr("LTA"), lta_);
    form->addRow(tr("Trigger on"), on_);
    form->addRow(tr("Trigger off"), off_);
    auto* channelRow = new QGridLayout;
    for (int c = 0; c < MaxChannels; ++c) {
        channels_[static_cast<size_t>(c)] = MakeCheck(QStringLiteral("EventChannel%1").arg(c + 1),
                                                      QString::number(c + 1), true, trigger);
        channelRow->addWidget(channels_[static_cast<size_t>(c)], c / 3, c % 3);
    }
    form->addRow(tr("Channels"), channelRow);
    coincidence_ = new QSpinBox(trigger);
    coincidence_->setObjectName(QStringLiteral("EventCoincidence"));
    coincidence_->setRange(1, MaxChannels);
    form->addRow(tr("Together"), coincidence_);
    refusal_ = new QLabel(trigger);
    refusal_->setObjectName(QStringLiteral("EventRefusal"));
    refusal_->setWordWrap(true);
    refusal_->setStyleSheet(QStringLiteral("color: #c00000"));
    form->addRow(refusal_);
    right->addWidget(trigger);
    right->addStretch();
    scroll->setWidget(side);
    scroll->setMinimumWidth(side->sizeHint().width() +
                            scroll->verticalScrollBar()->sizeHint().width());
    layout->addWidget(scroll);

    connect(bandpass_, &QCheckBox::toggled, this, [this] { ApplySettings(); });
    for (QDoubleSpinBox* box : {lowHz_, highHz_, sta_, lta_, on_, off_}) {
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { ApplySettings(); });
    }
    for (QSpinBox* box : {poles_, coincidence_}) {
        connect(box, &QSpinBox::valueChanged, this, [this] { ApplySettings(); });
    }
    for (QCheckBox* box : channels_) {
        connect(box, &QCheckBox::toggled, this, [this] { ApplySettings(); });
    }
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const uint64_t id = item->data(IdColumn, Qt::UserRole).toULongLong();
        for (const TEvent& event : model_.Events().Events()) {
            if (event.Id == id) {
                OpenEvent(event);
                return;
            }
        }
    });
}

void TEventsPage::OpenEvent(const TEvent& event) {
    if (showEvent_) {
        showEvent_(event);
    }
    const TDetectorSettings& settings = model_.Events().Settings();
    const QString band = settings.BandpassOn
                             ? tr("%1-%2 Hz").arg(settings.Band.LowHz).arg(settings.Band.HighHz)
                             : tr("(no band-pass)");
    auto* dialog = new TEventDialog(event, model_.Helicorder(), band, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void TEventsPage::ShowSettings() {
    const TEventSettings& s = model_.Settings();
    const QSignalBlocker b1(bandpass_), b2(lowHz_), b3(highHz_), b4(poles_), b5(sta_), b6(lta_),
        b7(on_), b8(off_), b9(coincidence_);
    bandpass_->setChecked(s.EventBandpass != 0);
    lowHz_->setValue(s.EventLowHz);
    highHz_->setValue(s.EventHighHz);
    poles_->setValue(s.EventPoles);
    sta_->setValue(s.EventStaSeconds);
    lta_->setValue(s.EventLtaSeconds);
    on_->setValue(s.EventTriggerOn);
    off_->setValue(s.EventTriggerOff);
    for (int c = 0; c < MaxChannels; ++c) {
        const QSignalBlocker blocker(channels_[static_cast<size_t>(c)]);
        channels_[static_cast<size_t>(c)]->setChecked((s.EventChannels >> c & 1) != 0);
    }
    coincidence_->setValue(s.EventCoincidence);
    for (QDoubleSpinBox* box : {lowHz_, highHz_}) {
        box->setEnabled(s.EventBandpass != 0);
    }
    poles_->setEnabled(s.EventBandpass != 0);
}

void TEventsPage::ApplySettings() {
    TEventSettings s;
    s.EventBandpass = bandpass_->isChecked() ? 1 : 0;
    s.EventLowHz = lowHz_->value();
    s.EventHighHz = highHz_->value();
    s.EventPoles = poles_->value();
    s.EventStaSeconds = sta_->value();
    s.EventLtaSeconds = lta_->value();
    s.EventTriggerOn = on_->value();
    s.EventTriggerOff = off_->value();
    s.EventChannels = 0;
    for (int c = 0; c < MaxChannels; ++c) {
        s.EventChannels |= channels_[static_cast<size_t>(c)]->isChecked() ? 1 << c : 0;
    }
    s.EventCoincidence = coincidence_->value();
    const TStatus set = model_.SetEventSettings(s);
    // Refused settings stay in the controls, said beside them; the detector runs on with the
    // settings in force.
    refusal_->setText(set ? QString()
                          : tr("Not in force: %1.").arg(QString::fromStdString(set.Error().Text)));
    for (QDoubleSpinBox* box : {lowHz_, highHz_}) {
        box->setEnabled(s.EventBandpass != 0);
    }
    poles_->setEnabled(s.EventBandpass != 0);
    ShowRatios();
}

void TEventsPage::ResetDisplays() {
    ShowRatios();
}

void TEventsPage::FormatChanged() {
    ShowRatios();
}

void TEventsPage::BlockArrived(bool full) {
    (void)full;
    const TEventLog& log = model_.Events();
    if (log.Count() != listedCount_ || log.Running() != listedRunning_) {
        FillList();
    } else if (log.Running() && list_->topLevelItemCount() > 0) {
        const TEvent& running = log.Events().back();
        list_->topLevelItem(0)->setText(DurationColumn,
                                        tr("%1 s, running").arg(running.Seconds(), 0, 'f', 1));
        list_->topLevelItem(0)->setText(EndColumn, ListTime(running.End, &running.Start));
    }
    ShowRatios();
}

// Newest first; the list is made again only when an event starts or ends.
void TEventsPage::FillList() {
    const TEventLog& log = model_.Events();
    listedCount_ = log.Count();
    listedRunning_ = log.Running();
    list_->clear();
    // The peaks are of the series the trigger sees: band-passed while the band-pass is on.
    const bool bandpass = log.Settings().BandpassOn;
    list_->headerItem()->setText(CountsColumn,
                                 bandpass ? tr("Peak counts\n(band-passed)") : tr("Peak counts"));
    list_->headerItem()->setText(VoltsColumn,
                                 bandpass ? tr("Peak volts\n(band-passed)") : tr("Peak volts"));
    QList<QTreeWidgetItem*> items;
    const auto& events = log.Events();
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        const TEvent& event = *it;
        const bool running = log.Running() && it == events.rbegin();
        auto* item = new QTreeWidgetItem;
        item->setData(IdColumn, Qt::UserRole, QVariant::fromValue<qulonglong>(event.Id));
        item->setText(IdColumn, QString::number(event.Id));
        item->setText(StartColumn, ListTime(event.Start));
        item->setText(EndColumn, ListTime(event.End, &event.Start));
        item->setText(
            DurationColumn,
            running ? tr("%1 s, running").arg(event.Seconds(), 0, 'f', 1)
                    : (event.Cut ? tr("%1 s, cut") : tr("%1 s")).arg(event.Seconds(), 0, 'f', 1));
        item->setText(ChannelsColumn, ChannelList(event.TriggeredChannels()));
        item->setText(RatioColumn, QString::number(event.PeakRatio, 'f', 1));
        double counts = 0, microvolts = 0;
        for (const TEventChannel& channel : event.Channels) {
            if (channel.PeakCounts > counts) {
                counts = channel.PeakCounts;
                microvolts = channel.PeakVolts * 1e6;
            }
        }
        item->setText(CountsColumn, QString::number(std::llround(counts)));
        item->setText(VoltsColumn,
                      QString::fromStdString(FormatVoltage("", microvolts, model_.Separators())));
        QStringList marks;
        if (event.Clipped()) {
            marks << tr("clipped");
        }
        if (event.Calibration) {
            marks << tr("calibration");
        }
        item->setText(MarksColumn, marks.join(QStringLiteral(", ")));
        for (const int column : {IdColumn, CountsColumn, VoltsColumn, RatioColumn}) {
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        }
        items << item;
    }
    list_->addTopLevelItems(items);
}

void TEventsPage::ShowRatios() {
    const TEventLog& log = model_.Events();
    const double on = log.Settings().TriggerOn;
    for (int c = 0; c < MaxChannels; ++c) {
        QLabel* label = ratioLabels_[static_cast<size_t>(c)];
        TRatioBar* bar = ratioBars_[static_cast<size_t>(c)];
        const std::optional<TChannelRatio>& ratio = log.Ratio(c);
        label->setVisible(ratio.has_value());
        bar->setVisible(ratio.has_value());
        if (!ratio) {
            continue;
        }
        bar->SetLevels(ratio->Ready ? ratio->Ratio : 0, on, log.Settings().TriggerOff,
                       ratio->Triggered);
        label->setText(!ratio->Ready      ? tr("%1: LTA filling").arg(c + 1)
                       : ratio->Triggered ? tr("%1: %2 ON").arg(c + 1).arg(ratio->Ratio, 0, 'f', 2)
                                          : tr("%1: %2").arg(c + 1).arg(ratio->Ratio, 0, 'f', 2));
    }
    QString state = QString::fromStdString(log.Idle());
    if (state.isEmpty()) {
        state = log.Count() == 1 ? tr("1 event found")
                                 : tr("%1 events found").arg(static_cast<qulonglong>(log.Count()));
        if (!log.LastRestart().empty()) {
            state += tr("; the channels started afresh when %1")
                         .arg(QString::fromStdString(log.LastRestart()));
        }
    }
    state_->setText(state);
}
