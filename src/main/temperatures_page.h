// The Temperatures page: per displayed channel a band plotting its offset
// against its temperature for the stored hours, its figures beside it (range
// and newest value, offset, temperature, the reading under the mouse), the
// offset zoom, the hours kept, clearing, the channel choice and the log file.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>

#include "digitizer/data_block.h"
#include "main/monitor_page.h"

class QCheckBox;
class TBandList;
class TDetailsPanel;
class TDisplayChecks;
class TGraphResources;
class TMonitorModel;
class TPrompts;
class TSpinEdit;
class TZoomButtons;

class TTemperaturesPage : public QWidget, public TMonitorPage {
    Q_OBJECT
  public:
    static constexpr int DesignItemHeight = 16;
    static constexpr int MaxStoredHours = 100;

    // refreshActivePage repaints whichever page is visible (the window's);
    // the log file is chosen through `prompts`.
    TTemperaturesPage(TMonitorModel& model, const TGraphResources& resources,
                      const TPrompts& prompts, std::function<void()> refreshActivePage,
                      QWidget* parent = nullptr);

    // TMonitorPage.
    void ResetDisplays() override;
    void FormatChanged() override;
    void BlockArrived(bool full) override;
    void ColoursChanged() override;
    void RefreshPage() override;
    void ZoomKey(bool in, bool extreme) override;
    void SpanKey(bool longer) override;

    // StoredHours into its field.
    void ShowSettings();
    // The list's own colour from the Temperatures background colour.
    void ApplyListColour();
    void EnableDisplayChecks();
    // One band per displayed channel, then ResizeTemperatureBitmaps.
    void RebuildTemperatureList();
    // Equal bands filling the list; new black images.
    void ResizeTemperatureBitmaps();
    // layout: the labels placed and emptied first. Then the texts of every
    // displayed channel. Before the first block nothing.
    void ShowTemperatureDetails(bool layout);
    // full (or no readings yet): the bands drawn anew with the newest
    // StoredHours x 3600 readings; otherwise the newest reading added.
    void DrawTemperatureTraces(bool full);
    // enabled: the zoom buttons that can act are enabled; otherwise all four disabled.
    void UpdateTemperatureZoomButtons(bool enabled);

    // Event handlers.
    void ZoomChanged();
    void ClearTemperaturesButtonClick();
    // Checked: the save dialog; a chosen file is emptied and logged to from
    // the next block, Cancel logs nothing (the box stays checked). Unchecked:
    // no more logging.
    void LogToFileClick();
    void StoredTemperatureHoursSpinEditChange();
    // TDisp1Click ... TDisp6Click: channel 0 ... 5.
    void TDispClick(int channel, bool checked);
    void TemperatureDetailsPanelResize();
    void StoredTemperaturesPanelResize();
    // The temperature and offset under the mouse, shown with its channel's figures.
    void StoredTemperaturesListMouseMove(QPoint point);

    double TemperatureZoom() const;
    TBandList* StoredTemperaturesList() const { return storedTemperaturesList_; }
    TDetailsPanel* DetailsPanel() const { return detailsPanel_; }
    const QString& Readout(int channel) const { return readouts_.at(static_cast<size_t>(channel)); }

  private:
    void BuildControls();

    TMonitorModel& model_;
    const TGraphResources& resources_;
    const TPrompts& prompts_;
    std::function<void()> refreshActivePage_;

    std::array<QString, MaxChannels> readouts_;

    TZoomButtons* zoom_ = nullptr;
    QCheckBox* logToFile_ = nullptr;
    TSpinEdit* storedHoursSpinEdit_ = nullptr;
    TDisplayChecks* displayChecks_ = nullptr;
    TDetailsPanel* detailsPanel_ = nullptr;
    TBandList* storedTemperaturesList_ = nullptr;
};
