// The Events page: the events the detector found (number, start and end in UTC, duration, the
// channels that triggered, the peak STA/LTA, the peak amplitude of the series the trigger sees
// in counts and volts, and whether it reached full scale), newest first, the one running
// marked; each chosen channel's live STA/LTA as a bar with the trigger-on and trigger-off
// ratios marked on it; and the trigger's settings, in force as soon as they are changed and
// kept in the settings file ([Events]). A double click on an event opens it (TEventDialog) and
// shows it on the Helicorder page.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "detect/event_detector.h"
#include "digitizer/data_block.h"
#include "main/monitor_page.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;
class QTreeWidget;
class TMonitorModel;

// A channel's STA/LTA as a bar from 0 to twice the trigger-on ratio, with a mark across it at
// the trigger-on ratio and one at the trigger-off ratio; the bar in the mark colour while the
// channel is triggered.
class TRatioBar : public QWidget {
    Q_OBJECT
  public:
    explicit TRatioBar(QWidget* parent = nullptr);
    void SetLevels(double ratio, double on, double off, bool triggered);
    double Ratio() const { return ratio_; }
    double On() const { return on_; }
    double Off() const { return off_; }
    // The pixel column of a ratio on the bar.
    int XOf(double ratio) const;
    // The colours of the on and off marks.
    static QColor OnColour() { return {0xd0, 0x20, 0x20}; }
    static QColor OffColour() { return {0x20, 0x60, 0xd0}; }
    QSize sizeHint() const override { return {120, 14}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double ratio_ = 0;
    double on_ = 4;
    double off_ = 1.5;
    bool triggered_ = false;
};

class TEventsPage : public QWidget, public TMonitorPage {
    Q_OBJECT
  public:
    using TShowEvent = std::function<void(const TEvent&)>;

    TEventsPage(TMonitorModel& model, TShowEvent showEvent, QWidget* parent = nullptr);

    // TMonitorPage.
    void ResetDisplays() override;
    void FormatChanged() override;
    void BlockArrived(bool full) override;

    // The settings' values into the controls.
    void ShowSettings();
    // The controls' values in force, or why they cannot be (said beside them).
    void ApplySettings();
    // A double click on an event: shown on the Helicorder page, and opened in a dialog.
    void OpenEvent(const TEvent& event);

    QTreeWidget* List() const { return list_; }
    TRatioBar* RatioBar(int channel) const { return ratioBars_.at(static_cast<size_t>(channel)); }

  private:
    void BuildControls();
    void FillList();
    void ShowRatios();

    TMonitorModel& model_;
    TShowEvent showEvent_;
    uint64_t listedCount_ = UINT64_MAX;  // the model's event count when the list was filled
    bool listedRunning_ = false;

    QTreeWidget* list_ = nullptr;
    std::array<QLabel*, MaxChannels> ratioLabels_{};
    std::array<TRatioBar*, MaxChannels> ratioBars_{};
    QLabel* state_ = nullptr;
    QCheckBox* bandpass_ = nullptr;
    QDoubleSpinBox* lowHz_ = nullptr;
    QDoubleSpinBox* highHz_ = nullptr;
    QSpinBox* poles_ = nullptr;
    QDoubleSpinBox* sta_ = nullptr;
    QDoubleSpinBox* lta_ = nullptr;
    QDoubleSpinBox* on_ = nullptr;
    QDoubleSpinBox* off_ = nullptr;
    std::array<QCheckBox*, MaxChannels> channels_{};
    QSpinBox* coincidence_ = nullptr;
    QLabel* refusal_ = nullptr;
};
