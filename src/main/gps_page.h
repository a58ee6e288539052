// The GPS page: a log of each block's GPS text (at most 26 lines) and the
// receiver's date, time, position, status and motion.
#pragma once

#include <QHash>
#include <QLabel>
#include <QWidget>

#include "main/monitor_page.h"

class QPlainTextEdit;
class TMonitorModel;
class QScrollArea;
struct TGpsPageUpdate;

class TGpsPage : public QWidget, public TMonitorPage {
    Q_OBJECT
  public:
    static constexpr int MemoLines = 26;

    explicit TGpsPage(const TMonitorModel& model, QWidget* parent = nullptr);

    // TMonitorPage: emptied at creation; after each block the block time and
    // the block's GPS texts.
    void ResetDisplays() override { Clear(); }
    void BlockArrived(bool full) override;

    // Applies one block's update: appends the log line and sets the labels it
    // names; labels it leaves out keep their texts.
    void Apply(const TGpsPageUpdate& update);
    void SetSystemTime(const QString& text);
    void Clear();
    QLabel* Value(const QString& name) const { return values_.value(name); }
    QPlainTextEdit* Memo() const { return memo_; }

  protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    const TMonitorModel& model_;
    // Widens the value labels to the widest text they show at the current font
    // and the panel to its groups plus a vertical scroll bar.
    void FitValuePanel();
    // Scrolls the log to its newest line unless the user has scrolled back.
    void FollowLog();

    QPlainTextEdit* memo_;
    QScrollArea* panelScroll_;
    QWidget* panel_;
    QHash<QString, QLabel*> values_;
    // The log shows its newest line: true until the user scrolls back, and again
    // once the user scrolls to the bottom.
    bool followLog_ = true;
};
