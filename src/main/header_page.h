// The Header page: the most recent block's header values and its fourteen
// state-of-health readings, in five groups. It has no inputs of its own.
#pragma once

#include <QHash>
#include <QLabel>
#include <QWidget>

#include "main/monitor_page.h"

class TMonitorModel;
struct THeaderTexts;

class THeaderPage : public QWidget, public TMonitorPage {
    Q_OBJECT
  public:
    explicit THeaderPage(const TMonitorModel& model, QWidget* parent = nullptr);

    // TMonitorPage: emptied at creation; the newest block's texts after each block.
    void ResetDisplays() override { Clear(); }
    void BlockArrived(bool full) override;

    void Show(const THeaderTexts& texts);
    // Empties every value label.
    void Clear();
    // The value label of that name (for tests and the shell).
    QLabel* Value(const QString& name) const { return values_.value(name); }

  private:
    const TMonitorModel& model_;
    QHash<QString, QLabel*> values_;
};
