// The Temperatures page: per displayed channel a band plotting its offset
// against its temperature for the stored hours, its figures beside it (range
// and newest value, offset, temperature, the reading under the mouse), the
// offset zoom, the hours kept, clearing, the channel choice and the log file.
#pragma once

#include <functional>

#include "main/graph_page.h"

class QCheckBox;
class TPrompts;

class TTemperaturesPage : public TBandPage {
    Q_OBJECT
  public:
    static constexpr int MaxStoredHours = 100;

    // The log file is chosen through `prompts`.
    TTemperaturesPage(TMonitorModel& model, const TGraphResources& resources,
                      const TPrompts& prompts, std::function<void()> refreshActivePage,
                      QWidget* parent = nullptr);

    // StoredHours into its field.
    void ShowSettings();
    // full (or no readings yet): the bands drawn anew with the newest
    // StoredHours x 3600 readings; otherwise the newest reading added.
    void DrawTraces(bool full) override;

    // Event handlers.
    // Checked: the save dialog; a chosen file is emptied and logged to from
    // the next block, Cancel logs nothing (the box stays checked). Unchecked:
    // no more logging.
    void LogToFileClick();
    void StoredTemperatureHoursSpinEditChange();

    TBandList* StoredTemperaturesList() const { return Bands(); }

  private:
    void BuildControls();
    std::vector<std::string> DetailsTexts(int channel) const override;
    // The temperature and offset under the mouse.
    std::optional<std::string> ReadoutAt(int channel, int item, QPoint point) const override;

    const TPrompts& prompts_;

    QCheckBox* logToFile_ = nullptr;
    TSpinEdit* storedHoursSpinEdit_ = nullptr;
};
