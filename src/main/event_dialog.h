// An event opened from the Events page: every channel's trace from a little before the event
// to a little after it, as the samples came and through the trigger's band-pass, one above the
// other (from the Helicorder's half-second slots, the window's record of the last 24 hours),
// with the event's start and end marked across them and each triggered channel's own trigger
// time on its traces, and a time axis in seconds from the start. The picture is made when the
// dialog opens and stays as it was.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

#include "detect/event_detector.h"
#include "monitor/helicorder.h"

class TEventDialog : public QDialog {
    Q_OBJECT
  public:
    // `band` says the band-passed series' filter ("1-10 Hz").
    TEventDialog(const TEvent& event, const THelicorder& source, const QString& band,
                 QWidget* parent = nullptr);

    // The seconds shown before the start and after the end: a quarter of the event's
    // duration, at least 10 s.
    static double Margin(const TEvent& event);

    const QImage& Picture() const { return picture_; }
    uint64_t EventId() const { return id_; }
    // The picture's column of a time; its traces' left edge and width.
    int XOf(const TSampleTime& time) const;
    int PlotLeft() const { return plotLeft_; }
    // The colours of the start, end and channel trigger marks.
    static QColor StartColour() { return {0xd0, 0x20, 0x20}; }
    static QColor EndColour() { return {0x20, 0x60, 0xd0}; }
    static QColor TriggerColour() { return {0xe0, 0x90, 0x00}; }

  private:
    void Draw(const TEvent& event, const THelicorder& source, const QString& band);

    uint64_t id_ = 0;
    double from_ = 0;  // UTC seconds at the left edge
    double to_ = 0;    // and at the right
    int plotLeft_ = 0;
    int plotWidth_ = 1;
    QImage picture_;
};
