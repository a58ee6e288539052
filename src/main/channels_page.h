// The Channels page: every displayed channel's recent waveform as a sweeping
// trace in its own band, with its figures beside it (range and newest value,
// offset, AC level, RMS and average RMS), the vertical zoom, the seconds shown,
// DC removal, overlay, the channel choice and the offset smoothing factor.
#pragma once

#include <array>
#include <functional>

#include "digitizer/data_block.h"
#include "main/channel_trace.h"
#include "main/graph_page.h"

class QCheckBox;
class QLineEdit;

class TChannelsPage : public TBandPage {
    Q_OBJECT
  public:
    TChannelsPage(TMonitorModel& model, const TGraphResources& resources,
                  std::function<void()> refreshActivePage, QWidget* parent = nullptr);

    // TMonitorPage.
    void MonitoringStarted() override;

    // StoredSeconds and DCTimeConst into their fields.
    void ShowSettings();
    // full: every displayed channel redrawn from a new sweep; otherwise the
    // newest block is added (a new sweep when the history has just restarted).
    void DrawTraces(bool full) override;

    // Event handlers.
    void RemoveDCClick();
    void StoredSecondsSpinEditChange();
    void DCTimeConstEditChange();

    TBandList* StoredWavesList() const { return Bands(); }

  private:
    void BuildControls();
    std::vector<std::string> DetailsTexts(int channel) const override;

    std::array<TTraceSweep, MaxChannels> sweeps_{};

    QCheckBox* removeDc_ = nullptr;
    QLineEdit* dcTimeConstEdit_ = nullptr;
    QCheckBox* overlay_ = nullptr;
    TSpinEdit* storedSecondsSpinEdit_ = nullptr;
};
