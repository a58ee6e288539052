#include "main/gps_page.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "main/value_group.h"
#include "monitor/gps_texts.h"
#include "monitor/monitor_model.h"

namespace {

// The widest value texts that are not taken from the receiver's code tables:
// a position with three-digit degrees and the system time.
constexpr const char* WidestFreeValues[] = {"179 deg 59.9999 min North",
                                            "179 deg 59.9999 min South", "00/00/0000 00:00:00"};

// Every text of the receiver's code tables, unknown codes included.
QStringList CodeTableTexts() {
    QStringList texts;
    for (char code = ' '; code <= '~'; ++code) {
        for (auto* table :
             {GpsSourceText, GpsAgeText, GpsTrackingText, GpsAntennaText, GpsRamText, GpsRtcText}) {
            texts.append(QString::fromStdString(table(code)));
        }
    }
    texts.removeDuplicates();
    return texts;
}

}  // namespace

TGpsPage::TGpsPage(const TMonitorModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      memo_(new QPlainTextEdit(this)),
      panelScroll_(new QScrollArea(this)),
      panel_(new QWidget(panelScroll_)) {
    memo_->setObjectName(QStringLiteral("GPSMessage"));
    memo_->setReadOnly(true);
    // Lines wrap so that every character of a long report is in view; the GPS
    // sentences have no blanks, so they wrap anywhere.
    memo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    memo_->setMaximumBlockCount(MemoLines);
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    memo_->setFont(fixed);

    panel_->setObjectName(QStringLiteral("Panel4"));
    auto* column = new QVBoxLayout(panel_);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(MakeValueGroup(tr("Date and Time"),
                                     {{"Date", "GPSDate"},
                                      {"Time", "GPSTime"},
                                      {"Seconds", "GPSSecs"},
                                      {"UTC Offset", "GPSUTC"},
                                      {"System Time (UTC)", "SysTime"}},
                                     values_, panel_));
    column->addWidget(MakeValueGroup(
        tr("Position"), {{"Latitude", "GPSLat"}, {"Longitude", "GPSLong"}, {"Altitude", "GPSAlt"}},
        values_, panel_));
    column->addWidget(MakeValueGroup(tr("Status"),
                                     {{"In Lock", "GPSStatus"},
                                      {"Source", "GPSSource"},
                                      {"Age", "GPSAge"},
                                      {"Tracking", "GPSTracking"},
                                      {"Antenna", "GPSAntenna"},
                                      {"RAM", "GPSRAM"},
                                      {"RTC", "GPSRTC"},
                                      {"SVs", "GPSSVs"},
                                      {"ID", "GPSID"}},
                                     values_, panel_));
    column->addWidget(MakeValueGroup(tr("Details"),
                                     {{"Velocity", "GPSDets1"},
                                      {"Heading", "GPSDets2"},
                                      {"Vert. Velocity", "GPSDets3"},
                                      {"Mag. Var.", "GPSDets4"}},
                                     values_, panel_));
    column->addStretch();

    // The values scroll when a large font makes them taller than the page.
    panelScroll_->setFrameShape(QFrame::NoFrame);
    panelScroll_->setWidgetResizable(true);
    panelScroll_->setWidget(panel_);
    FitValuePanel();

    // Only the user's scrolling decides whether the log follows its newest line:
    // at the bottom it does, anywhere else the view stays. Rewrapping after a
    // resize changes the range, not the decision.
    QScrollBar* bar = memo_->verticalScrollBar();
    connect(bar, &QAbstractSlider::actionTriggered, this,
            [this, bar] { followLog_ = bar->sliderPosition() >= bar->maximum(); });
    connect(bar, &QAbstractSlider::rangeChanged, this, [this] { FollowLog(); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(memo_, 1);
    layout->addWidget(panelScroll_);
}

void TGpsPage::FitValuePanel() {
    QStringList widest = CodeTableTexts();
    for (const char* text : WidestFreeValues) {
        widest.append(QString::fromLatin1(text));
    }
    for (QLabel* label : values_) {
        const QFontMetrics metrics = label->fontMetrics();
        int width = 0;
        for (const QString& text : widest) {
            width = std::max(width, metrics.horizontalAdvance(text));
        }
        label->setMinimumWidth(width + 2 * label->margin());
    }
    // The groups' own hints, not the panel's: the panel's layout still holds
    // the sizes from before the labels were widened.
    int panelWidth = 0;
    for (const QGroupBox* group : panel_->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
        panelWidth = std::max(panelWidth, group->minimumSizeHint().width());
    }
    panelScroll_->setFixedWidth(panelWidth + panelScroll_->verticalScrollBar()->sizeHint().width());
}

void TGpsPage::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        FitValuePanel();
    }
}

// The memo, shown after lines were added while hidden, scrolls to its text
// cursor at the top; the page's show comes after the memo's.
void TGpsPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FollowLog();
}

void TGpsPage::FollowLog() {
    QScrollBar* bar = memo_->verticalScrollBar();
    if (followLog_) {
        bar->setValue(bar->maximum());
    }
}

void TGpsPage::Apply(const TGpsPageUpdate& update) {
    if (!update.Present) {
        return;
    }
    // The memo drops its first lines beyond 26 by itself, keeping the lines in
    // view where they are.
    memo_->appendPlainText(QString::fromStdString(update.MemoLine));
    FollowLog();
    for (const auto& [name, text] : update.Changes()) {
        if (QLabel* label = values_.value(QString::fromStdString(name))) {
            label->setText(QString::fromStdString(text));
        }
    }
}

void TGpsPage::BlockArrived(bool) {
    SetSystemTime(QString::fromStdString(model_.SystemTimeText()));
    Apply(model_.GpsUpdate());
}

void TGpsPage::SetSystemTime(const QString& text) {
    values_.value(QStringLiteral("SysTime"))->setText(text);
}

void TGpsPage::Clear() {
    for (QLabel* label : values_) {
        label->clear();
    }
}
