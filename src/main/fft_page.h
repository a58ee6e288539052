// The FFT page: per displayed channel a band with the amplitude spectrum of
// its newest samples, its figures beside it (points, frequency and level
// spans, the reading under the mouse), the transform length, the window, the
// automatic update, overlay and the channel choice.
#pragma once

#include <functional>

#include "main/graph_page.h"

class QCheckBox;
class QComboBox;

class TFftPage : public TBandPage {
    Q_OBJECT
  public:
    TFftPage(TMonitorModel& model, const TGraphResources& resources,
             std::function<void()> refreshActivePage, QWidget* parent = nullptr);

    // TMonitorPage: with AutoCalc set, the figures and spectra shown anew.
    void BlockArrived(bool full) override;

    // Points, Window and AutoCalc into their controls.
    void ShowSettings();
    // The figures laid out for the displayed channels that have a spectrum,
    // then filled (`layout` aside: they are always laid out).
    void ShowDetails(bool layout) override;
    // Every displayed channel's spectrum drawn whole, where it has one.
    void DrawTraces(bool full) override;

    // Event handlers.
    void NumPointsChange();
    void AutoCalcClick();
    void FFTWindowComboChange();

    TBandList* FftList() const { return Bands(); }

  private:
    void BuildControls();
    std::vector<std::string> DetailsTexts(int channel) const override;
    std::optional<std::string> ReadoutAt(int channel, int item, QPoint point) const override;

    QCheckBox* overlay_ = nullptr;
    QCheckBox* autoCalc_ = nullptr;
    QComboBox* windowCombo_ = nullptr;
    QComboBox* numPoints_ = nullptr;
};
