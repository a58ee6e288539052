// The Channels page: every displayed channel's recent waveform as a sweeping
// trace in its own band, with its figures beside it (range and newest value,
// offset, AC level, RMS and average RMS), the vertical zoom, the seconds shown,
// DC removal, overlay, the channel choice and the offset smoothing factor.
#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "digitizer/data_block.h"
#include "main/channel_trace.h"
#include "main/monitor_page.h"

class QCheckBox;
class QLineEdit;
class TBandList;
class TDetailsPanel;
class TDisplayChecks;
class TGraphResources;
class TMonitorModel;
class TSpinEdit;
class TZoomButtons;

class TChannelsPage : public QWidget, public TMonitorPage {
    Q_OBJECT
  public:
    static constexpr int DesignItemHeight = 141;

    // refreshActivePage repaints whichever page is visible (the window's).
    TChannelsPage(TMonitorModel& model, const TGraphResources& resources,
                  std::function<void()> refreshActivePage, QWidget* parent = nullptr);

    // TMonitorPage.
    void ResetDisplays() override;
    void MonitoringStarted() override;
    void FormatChanged() override;
    void BlockArrived(bool full) override;
    void ColoursChanged() override;
    void RefreshPage() override;
    void ZoomKey(bool in, bool extreme) override;
    void SpanKey(bool longer) override;

    // StoredSeconds and DCTimeConst into their fields.
    void ShowSettings();
    // The list's own colour from the Data background colour.
    void ApplyListColour();
    // Boxes 1 ... ChannelCount enabled, the others unchecked and disabled; a
    // ChannelCount outside 1 ... 6 changes nothing.
    void EnableDisplayChecks();
    // One band per displayed channel, then ResizeWaveBitmaps.
    void RebuildWaveList();
    // Equal bands filling the list; new black images.
    void ResizeWaveBitmaps();
    // layout: the labels placed and emptied first. Then the texts of every
    // displayed channel. Before the first block (ChannelCount 0) nothing.
    void ShowChannelDetails(bool layout);
    // full: every displayed channel redrawn from a new sweep; otherwise the
    // newest block is added (a new sweep when the history has just restarted).
    void DrawChannelTraces(bool full);
    // enabled: the zoom buttons that can act are enabled; otherwise all four disabled.
    void UpdateZoomButtons(bool enabled);

    // Event handlers.
    void ZoomChanged();
    void ClearWavesButtonClick();
    void RemoveDCClick();
    void StoredSecondsSpinEditChange();
    void DCTimeConstEditChange();
    // Disp1Click ... Disp6Click: channel 0 ... 5.
    void DispClick(int channel, bool checked);
    void ChannelDetailsPanelResize();
    void StoredWavePanelResize();

    double ChannelZoom() const;
    TBandList* StoredWavesList() const { return storedWavesList_; }
    TDetailsPanel* DetailsPanel() const { return detailsPanel_; }
    const TTraceSweep& Sweep(int channel) const { return sweeps_.at(static_cast<size_t>(channel)); }

  private:
    void BuildControls();

    TMonitorModel& model_;
    const TGraphResources& resources_;
    std::function<void()> refreshActivePage_;

    std::array<TTraceSweep, MaxChannels> sweeps_{};

    TZoomButtons* zoom_ = nullptr;
    QCheckBox* removeDc_ = nullptr;
    QLineEdit* dcTimeConstEdit_ = nullptr;
    QCheckBox* overlay_ = nullptr;
    TSpinEdit* storedSecondsSpinEdit_ = nullptr;
    TDisplayChecks* displayChecks_ = nullptr;
    TDetailsPanel* detailsPanel_ = nullptr;
    TBandList* storedWavesList_ = nullptr;
};
