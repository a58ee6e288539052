// The FFT page: per displayed channel a band with the amplitude spectrum of
// its newest samples, its figures beside it (points, frequency and level
// spans, the reading under the mouse), the transform length, the window, the
// automatic update, overlay and the channel choice.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>

#include "digitizer/data_block.h"
#include "main/monitor_page.h"

class QCheckBox;
class QComboBox;
class TBandList;
class TDetailsPanel;
class TDisplayChecks;
class TGraphResources;
class TMonitorModel;

class TFftPage : public QWidget, public TMonitorPage {
    Q_OBJECT
  public:
    static constexpr int DesignItemHeight = 16;

    // refreshActivePage repaints whichever page is visible (the window's).
    TFftPage(TMonitorModel& model, const TGraphResources& resources,
             std::function<void()> refreshActivePage, QWidget* parent = nullptr);

    // TMonitorPage.
    void ResetDisplays() override;
    void FormatChanged() override;
    void BlockArrived(bool full) override;
    void ColoursChanged() override;
    void RefreshPage() override;

    // Points, Window and AutoCalc into their controls.
    void ShowSettings();
    // The list's own colour from the FFT background colour.
    void ApplyListColour();
    void EnableDisplayChecks();
    // One band per displayed channel, then ResizeFftBitmaps.
    void RebuildFftList();
    // Equal bands filling the list; new black images.
    void ResizeFftBitmaps();
    // The figures laid out for the displayed channels that have a spectrum,
    // then filled.
    void ShowFftDetails();
    // Every displayed channel's spectrum drawn whole, where it has one.
    void DrawFftTraces();

    // Event handlers.
    void FFTListMouseMove(QPoint point);
    void FFTDetailsPanelResize();
    void FFTPanelResize();
    void NumPointsChange();
    // FDisp1Click ... FDisp6Click: channel 0 ... 5.
    void FDispClick(int channel, bool checked);
    void AutoCalcClick();
    void FFTWindowComboChange();

    TBandList* FftList() const { return fftList_; }
    TDetailsPanel* DetailsPanel() const { return detailsPanel_; }
    const QString& Readout(int channel) const { return readouts_.at(static_cast<size_t>(channel)); }

  private:
    void BuildControls();

    TMonitorModel& model_;
    const TGraphResources& resources_;
    std::function<void()> refreshActivePage_;

    std::array<QString, MaxChannels> readouts_;

    QCheckBox* overlay_ = nullptr;
    QCheckBox* autoCalc_ = nullptr;
    QComboBox* windowCombo_ = nullptr;
    QComboBox* numPoints_ = nullptr;
    TDisplayChecks* displayChecks_ = nullptr;
    TDetailsPanel* detailsPanel_ = nullptr;
    TBandList* fftList_ = nullptr;
};
