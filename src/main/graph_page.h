// The frame the graph pages share. TGraphPage: the tool bar along the top, the zoom buttons
// and the six channel boxes in it, the keys U and D (zoom) and X and Z (span), and the repaint
// of whichever page is visible. TBandPage adds what the Channels, Temperatures and FFT pages
// have in common: the column of figures beside a list of bands, one band per displayed
// channel, and the wiring of the channel boxes, the zoom, the clear button, a resize, a block
// and a colour change to the page's own figures and drawing.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "digitizer/data_block.h"
#include "main/monitor_page.h"
#include "monitor/colour_settings.h"
#include "monitor/monitor_model.h"

class QComboBox;
class QFrame;
class QHBoxLayout;
class QToolButton;
class QVBoxLayout;
class TBandList;
class TDetailsPanel;
class TDisplayChecks;
class TGraphResources;
class TSpinEdit;
class TZoomButtons;

// A drop-down list of fixed choices, named `name`.
QComboBox* MakeDropDown(const QString& name, const QStringList& items, QWidget* parent);

class TGraphPage : public QWidget, public TMonitorPage {
    Q_OBJECT
  public:
    static constexpr int ToolBarHeight = 41;

    // U and D: a click on the matching zoom button (nothing on a page without them).
    void ZoomKey(bool in, bool extreme) override;
    // X and Z: the span field doubled or halved (nothing on a page without one).
    void SpanKey(bool longer) override;

    // The zoom the buttons have stepped to (1 on a page without them).
    double Zoom() const;
    // enabled: the zoom buttons that can act are enabled; otherwise all four disabled.
    void UpdateZoomButtons(bool enabled);

  protected:
    // The page's column: the tool bar (its controls `toolSpacing` apart) and below it what
    // the page adds to Column(). refreshActivePage repaints whichever page is visible (the
    // window's); it may be empty.
    TGraphPage(TMonitorModel& model, std::function<void()> refreshActivePage, int toolSpacing,
               QWidget* parent);

    QVBoxLayout* Column() const { return column_; }
    QFrame* ToolBar() const { return toolBar_; }
    // Widgets already made as children of ToolBar(), added to it from the left.
    void AddTools(std::initializer_list<QWidget*> widgets);
    void AddToolStretch();
    // The four zoom buttons (MaxZoom<infix>Button ...) added to the tool bar; Zoomed is
    // emitted on every step.
    TZoomButtons* AddZoomButtons(const QString& infix);
    // The six boxes <prefix>1 ... <prefix>6 added to the tool bar, and after them the stretch
    // that ends its left-hand group. A box toggled calls DisplayToggled.
    TDisplayChecks* AddDisplayChecks(const QString& prefix);
    TZoomButtons* ZoomButtons() const { return zoom_; }
    TDisplayChecks* DisplayChecks() const { return displayChecks_; }
    // The field X and Z step.
    void SetSpanField(TSpinEdit* field) { spanField_ = field; }
    // A span field named `name` that takes digits only, 1 to `maximum`, added to the tool bar
    // after its caption (a label named `captionName`); X and Z step it.
    TSpinEdit* AddSpanField(const QString& captionName, const QString& caption, const QString& name,
                            int maximum);
    void RefreshActivePage() const;

    // The box of `channel` (0-based) was checked or unchecked.
    virtual void DisplayToggled(int channel, bool checked) {
        (void)channel;
        (void)checked;
    }

    TMonitorModel& model_;

  private:
    std::function<void()> refreshActivePage_;
    QVBoxLayout* column_ = nullptr;
    QFrame* toolBar_ = nullptr;
    QHBoxLayout* tools_ = nullptr;
    TZoomButtons* zoom_ = nullptr;
    TDisplayChecks* displayChecks_ = nullptr;
    TSpinEdit* spanField_ = nullptr;
};

// What sets one band page apart from another: the display flags it follows, the colour of its
// list, and the names of its panels, list and labels.
struct TBandPageDesign {
    TGraph Graph = TGraph::Waves;
    int32_t TColourSettings::*Background = &TColourSettings::DataBgdCol;
    int DesignItemHeight = 16;       // the bands' height before the first resize with items
    QString DetailsName;             // the column of figures
    QStringList LabelPatterns;       // its labels per channel, from the top ("Ch%1L", ...)
    QString BevelPattern;            // the separators ("Bevel%1")
    std::string WidestText;          // the longest line a label can hold
    QString PanelName;               // the panel that holds the list
    QString ListName;                // the list of bands
    std::optional<int> ReadoutLine;  // the label showing the reading under the mouse
};

class TBandPage : public TGraphPage {
    Q_OBJECT
  public:
    // TMonitorPage.
    void ResetDisplays() override;
    void FormatChanged() override;
    // The figures and the traces (laid out and drawn whole when `full`), the zoom buttons
    // enabled as far as they can act.
    void BlockArrived(bool full) override;
    void ColoursChanged() override;
    void RefreshPage() override;

    // layout: the labels placed and emptied first; then the texts of every displayed channel.
    virtual void ShowDetails(bool layout);
    // full: every displayed channel drawn anew; otherwise the newest block added.
    virtual void DrawTraces(bool full) = 0;

    // The list's own colour from the page's background colour.
    void ApplyListColour();
    // The boxes of the channels present enabled and showing the display flags.
    void EnableDisplayChecks();
    // One band per displayed channel, then ResizeBands.
    void RebuildBands();
    // Equal bands filling the list; new black images.
    void ResizeBands();

    // The displayed channels of those present, in order.
    std::vector<int> DisplayedChannels() const;

    TBandList* Bands() const { return bands_; }
    TDetailsPanel* DetailsPanel() const { return detailsPanel_; }
    // The reading under the mouse last shown for `channel`, kept from block to block.
    const QString& Readout(int channel) const { return readouts_.at(static_cast<size_t>(channel)); }

  protected:
    // The tool bar (its controls 2 apart), then the column of figures and the list side by
    // side; the figures hidden.
    TBandPage(TMonitorModel& model, const TGraphResources& resources,
              std::function<void()> refreshActivePage, TBandPageDesign design, QWidget* parent);

    // The zoom buttons of the page: each step lays the figures out, redraws and repaints.
    void AddBandZoomButtons(const QString& infix);
    // A speed button that empties the model's histories through `clear`, then the bands are
    // made anew and drawn.
    void AddClearButton(const QString& name, const QString& tip, std::function<void()> clear);
    // The texts of a displayed channel's labels from the top, the reading under the mouse
    // left out; none where the channel shows no figures.
    virtual std::vector<std::string> DetailsTexts(int channel) const = 0;
    // The texts of every displayed channel that has them.
    void FillDetails();
    // The channel's reading at `point` in band `item`, none where there is nothing to read.
    virtual std::optional<std::string> ReadoutAt(int channel, int item, QPoint point) const {
        (void)channel;
        (void)item;
        (void)point;
        return std::nullopt;
    }
    void DisplayToggled(int channel, bool checked) override;

    const TGraphResources& resources_;

  private:
    void BandsMouseMove(QPoint point);

    TBandPageDesign design_;
    std::array<QString, MaxChannels> readouts_;
    TDetailsPanel* detailsPanel_ = nullptr;
    TBandList* bands_ = nullptr;
};
