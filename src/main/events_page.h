// The Events page: the events the detector found (start in UTC, duration, the channels that
// triggered, the peak STA/LTA and the peak amplitude), newest first, the one running marked;
// each chosen channel's live STA/LTA as a bar against the trigger-on ratio; and the trigger's
// settings, in force as soon as they are changed and kept in the settings file ([Events]).
// A double click on an event shows it on the Helicorder page.
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
class QProgressBar;
class QSpinBox;
class QTreeWidget;
class TMonitorModel;

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

    QTreeWidget* List() const { return list_; }

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
    std::array<QProgressBar*, MaxChannels> ratioBars_{};
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
