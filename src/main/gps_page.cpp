#include "main/gps_page.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include "main/model/gps_texts.h"
#include "main/model/monitor_model.h"
#include "main/value_group.h"

TGpsPage::TGpsPage(const TMonitorModel& model, QWidget* parent)
    : QWidget(parent), model_(model), memo_(new QPlainTextEdit(this)) {
    memo_->setObjectName(QStringLiteral("GPSMessage"));
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo_->setMaximumBlockCount(MemoLines);
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    memo_->setFont(fixed);

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel4"));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(MakeValueGroup(tr("Date and Time"),
                                     {{"Date", "GPSDate"},
                                      {"Time", "GPSTime"},
                                      {"Seconds", "GPSSecs"},
                                      {"UTC Offset", "GPSUTC"},
                                      {"System Time (UTC)", "SysTime"}},
                                     values_, panel));
    column->addWidget(MakeValueGroup(
        tr("Position"), {{"Latitude", "GPSLat"}, {"Longitude", "GPSLong"}, {"Altitude", "GPSAlt"}},
        values_, panel));
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
                                     values_, panel));
    column->addWidget(MakeValueGroup(tr("Details"),
                                     {{"Velocity", "GPSDets1"},
                                      {"Heading", "GPSDets2"},
                                      {"Vert. Velocity", "GPSDets3"},
                                      {"Mag. Var.", "GPSDets4"}},
                                     values_, panel));
    column->addStretch();
    panel->setFixedWidth(300);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(memo_, 1);
    layout->addWidget(panel);
}

void TGpsPage::Apply(const TGpsPageUpdate& update) {
    if (!update.Present) {
        return;
    }
    // The memo drops its first lines beyond 26 by itself; the view stays at
    // the start of the lines.
    memo_->appendPlainText(QString::fromStdString(update.MemoLine));
    memo_->horizontalScrollBar()->setValue(0);
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
