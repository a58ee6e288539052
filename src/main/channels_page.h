// The Channels page: every displayed channel's recent waveform as a sweeping
// trace in its own band, with its figures beside it (range and newest value,
// offset, AC level, RMS and average RMS), the vertical zoom, the seconds shown,
// DC removal, overlay, the channel choice and the offset smoothing factor.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "digitizer/data_block.h"
#include "main/channel_trace.h"
#include "main/graph_page.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QToolButton;
class TBandList;
class TChannelModel;
class TGraphResources;
class TSpinEdit;
struct TNumberSeparators;
struct TSettings;
struct TStreamFormat;

// What the page reads and changes of the window's state; all owned by the window.
struct TChannelsPageModel {
    TChannelModel& Channels;      // histories and statistics; StoredSeconds, DCTimeConst
    TSettings& Settings;          // StoredSeconds, DCTimeConst, the Data colours
    const TStreamFormat& Format;  // ChannelCount, SampleRate
    const int& SamplesPerBlock;
    const std::array<int32_t, MaxChannels>& GainFactor;
    const TNumberSeparators& Separators;
};

class TChannelsPage : public QWidget, public TGraphPage {
    Q_OBJECT
  public:
    static constexpr int DesignItemHeight = 141;

    // refreshActivePage repaints whichever page is visible (the window's).
    TChannelsPage(const TChannelsPageModel& model, const TGraphResources& resources,
                  std::function<void()> refreshActivePage, QWidget* parent = nullptr);

    // Window creation.
    // Hides every channel's labels and separator.
    void ResetDisplays();
    // StoredSeconds and DCTimeConst into their fields.
    void ShowSettings();
    // The list's own colour from the Data background colour.
    void ApplyListColour();

    // Block processing. Before the first block (ChannelCount 0) they draw nothing.
    // Boxes 1 ... ChannelCount enabled, the others unchecked (which hides their
    // channels) and disabled; a ChannelCount outside 1 ... 6 changes nothing.
    void EnableDisplayChecks();
    // One band per displayed channel, then ResizeWaveBitmaps.
    void RebuildWaveList();
    // Equal bands filling the list; new black images.
    void ResizeWaveBitmaps();
    // layout: the labels placed and emptied first. Then the texts of every
    // displayed channel.
    void ShowChannelDetails(bool layout);
    // full: every displayed channel redrawn from a new sweep; otherwise the
    // newest block is added (a new sweep when the history has just restarted).
    void DrawChannelTraces(bool full);
    // enabled: the zoom buttons that can act are enabled; otherwise all four disabled.
    void UpdateZoomButtons(bool enabled);

    // TGraphPage.
    void RefreshPage() override;
    void ZoomKey(bool in, bool extreme) override;
    void SpanKey(bool longer) override;

    // Event handlers.
    void ZoomInButtonClick();
    void ZoomOutButtonClick();
    void MaxZoomButtonClick();
    void MinZoomButtonClick();
    void ClearWavesButtonClick();
    void RemoveDCClick();
    void StoredSecondsSpinEditChange();
    void DCTimeConstEditChange();
    // Whether a typed character goes into the field (a rejected one beeps).
    bool StoredSecondsSpinEditKeyPress(const QString& text);
    bool DCTimeConstEditKeyPress(const QString& text);
    // Disp1Click ... Disp6Click: channel 0 ... 5.
    void DispClick(int channel);
    void ChannelDetailsPanelResize();
    void StoredWavePanelResize();

    double ChannelZoom() const { return channelZoom_; }
    bool WaveDisplay(int channel) const { return waveDisplay_.at(static_cast<size_t>(channel)); }
    TBandList* StoredWavesList() const { return storedWavesList_; }
    const TTraceSweep& Sweep(int channel) const { return sweeps_.at(static_cast<size_t>(channel)); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    int ChannelCount() const;
    void AfterZoom();

    TChannelsPageModel model_;
    const TGraphResources& resources_;
    std::function<void()> refreshActivePage_;

    double channelZoom_ = 1;
    std::array<bool, MaxChannels> waveDisplay_{true, true, true, true, true, true};
    std::array<TTraceSweep, MaxChannels> sweeps_{};

    QToolButton* maxZoomButton_ = nullptr;
    QToolButton* zoomInButton_ = nullptr;
    QToolButton* zoomOutButton_ = nullptr;
    QToolButton* minZoomButton_ = nullptr;
    QToolButton* clearWavesButton_ = nullptr;
    QCheckBox* removeDc_ = nullptr;
    QLineEdit* dcTimeConstEdit_ = nullptr;
    QCheckBox* overlay_ = nullptr;
    TSpinEdit* storedSecondsSpinEdit_ = nullptr;
    std::array<QCheckBox*, MaxChannels> disp_{};
    QWidget* channelDetailsPanel_ = nullptr;
    // Per channel: range, offset, AC, RMS and average RMS.
    std::array<std::array<QLabel*, 5>, MaxChannels> labels_{};
    std::array<QFrame*, MaxChannels> bevels_{};
    TBandList* storedWavesList_ = nullptr;
};
