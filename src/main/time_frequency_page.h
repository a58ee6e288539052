// The Spectrogram page: per displayed channel a band with the scrolling time-frequency
// picture of its newest minutes (time left to right, the newest at the right edge; frequency
// bottom to top, linear or logarithmic, up to half the rate or a chosen top), the power
// spectral density of each pixel through the colour scale beside them, UTC times below, and the
// time, frequency and level under the mouse. Its tool bar holds the FFT length, the automatic
// or fixed colour range, the frequency axis and its top, the span in minutes and the channel
// choice.
//
// The columns are made after every block, whether the page is shown or not (the core's
// TSpectrogram); the picture is drawn only while the page is visible: after a block the bands
// scroll by the pixels the new columns fill and only those are drawn; everything is drawn
// again when the page is shown, resized, or its range, axis, span or channels change.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "digitizer/data_block.h"
#include "main/band_list.h"
#include "main/graph_page.h"
#include "monitor/time_frequency.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;
class TTimeFrequencyLegend;

// The bands of the page: a frame (background, frequency labels, channel names), one image
// per displayed channel in its plot rectangle, and the strip of time labels below. Painting
// copies them; the page draws into them.
class TTimeFrequencyView : public TGraphView {
    Q_OBJECT
  public:
    explicit TTimeFrequencyView(QWidget* parent = nullptr);

    struct TBand {
        int Channel = 0;
        QRect Plot;
    };
    const std::vector<TBand>& Bands() const { return bands_; }
    void SetBands(std::vector<TBand> bands) { bands_ = std::move(bands); }
    // The index of the band whose plot holds `point`, -1 where there is none.
    int BandAt(QPoint point) const;

    QImage& Frame() { return frame_; }
    QImage& Image(int channel) { return images_.at(static_cast<size_t>(channel)); }
    const QImage& Image(int channel) const { return images_.at(static_cast<size_t>(channel)); }
    QImage& TimeStrip() { return timeStrip_; }
    QPoint TimeStripOrigin() const { return timeStripOrigin_; }
    void SetTimeStripOrigin(QPoint origin) { timeStripOrigin_ = origin; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<TBand> bands_;
    QImage frame_;
    std::array<QImage, MaxChannels> images_;
    QImage timeStrip_;
    QPoint timeStripOrigin_;
};

class TTimeFrequencyPage : public TGraphPage {
    Q_OBJECT
  public:
    // refreshActivePage repaints whichever page is visible (the window's).
    TTimeFrequencyPage(TMonitorModel& model, std::function<void()> refreshActivePage,
                       QWidget* parent = nullptr);

    // TMonitorPage.
    void ResetDisplays() override;
    void MonitoringStarted() override;
    void FormatChanged() override;
    void BlockArrived(bool full) override;
    void ColoursChanged() override;
    void RefreshPage() override;

    // The settings into the controls, and in force.
    void ShowSettings();

    // Event handlers.
    void PointsChange();
    void AutoRangeClick();
    void MinDbChange();
    void MaxDbChange();
    void LogFrequencyClick();
    void MinutesChange();
    void ViewMouseMove(QPoint point);

    const TSpectrogram& Spectrogram() const { return spectrogram_; }
    const TSpectrogramRaster& Raster() const { return raster_; }
    TTimeFrequencyView* View() const { return view_; }
    // The colour range in force (automatic or fixed).
    const TDbRange& Range() const { return range_; }
    // The pixel (counted as TSpectrogramRaster counts them) at the right edge of a channel's
    // band as last drawn.
    int64_t RightPixel(int channel) const { return rightPixel_.at(static_cast<size_t>(channel)); }
    QString Readout() const;
    // The time strip's labels as last drawn, "UTC" last, in the strip's pixels.
    const std::vector<QRect>& TimeLabels() const { return timeLabels_; }

  protected:
    void showEvent(QShowEvent* event) override;
    // SDisp1 ... SDisp6: the channel shown or not, on this page only.
    void DisplayToggled(int channel, bool checked) override;

  private:
    // What the bands' geometry and axes depend on.
    struct TLayoutKey {
        QSize ViewSize;
        std::array<bool, MaxChannels> Displayed{};
        int ChannelCount = 0;
        int Points = 0;
        double Rate = 0;
        bool Log = false;
        int SpanColumns = 0;
        int MaxHz = 0;
        bool operator==(const TLayoutKey&) const = default;
    };

    void BuildControls();
    TLayoutKey CurrentLayoutKey() const;
    // The bands placed, their images made, the raster and the frame made again.
    void LayOut();
    void DrawFrame();
    // whole: every band drawn again; otherwise scrolled by the new columns.
    void Redraw(bool whole);
    void DrawChannel(int channel, bool whole);
    void DrawPixelColumn(QImage& image, int x, int channel, int64_t pixel);
    void DrawTimeStrip();
    // The range in force from the settings or the columns; true when it changed.
    bool UpdateRange();
    // After a change of a setting: everything drawn again (now if visible, else when shown).
    void SettingChanged();

    TSpectrogram spectrogram_;
    TSpectrogramRaster raster_;
    std::array<bool, MaxChannels> displayed_{};
    std::array<int64_t, MaxChannels> rightPixel_{};
    TDbRange range_;
    bool automaticShown_ = false;  // range_ is an automatic range, kept steady
    TLayoutKey layoutKey_;
    bool stale_ = true;
    std::vector<int16_t> rowLevels_;
    std::vector<QRect> timeLabels_;
    uint32_t background_ = 0xff000000u;
    QColor textColour_;

    QComboBox* points_ = nullptr;
    QCheckBox* autoRange_ = nullptr;
    QSpinBox* minDb_ = nullptr;
    QSpinBox* maxDb_ = nullptr;
    QCheckBox* logFrequency_ = nullptr;
    TSpinEdit* minutes_ = nullptr;
    QSpinBox* maxHz_ = nullptr;
    TTimeFrequencyView* view_ = nullptr;
    TTimeFrequencyLegend* legend_ = nullptr;
    QLabel* readout_ = nullptr;
};
