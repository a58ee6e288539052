// The colour settings dialog: the seven colours of the graph pages as
// swatches, each with its caption and a "..." button that opens the colour
// dialog. The main window copies the colours in before showing it and takes
// them back only when it closes with OK.
#pragma once

#include <QColor>
#include <QDialog>
#include <array>
#include <functional>
#include <optional>

#include "monitor/colour_settings.h"

class QPushButton;
class TSwatch;

// The colour dialog: the owner and the colour to start from; the colour
// chosen, nothing when the user cancels.
using TColourChooser = std::function<std::optional<QColor>(QWidget*, const QColor&)>;

// The system's colour dialog (QColorDialog, named ColorDlg), shown modally.
std::optional<QColor> ChooseColour(QWidget* owner, const QColor& initial);

class TSettingsForm : public QDialog {
    Q_OBJECT
  public:
    // The seven colours, in the order the swatches are given their colours.
    enum TColour {
        ChannelsBgd,
        ChannelsFgd,
        ChannelsFirst,
        TemperaturesBgd,
        TemperaturesFgd,
        FftBgd,
        FftFgd,
        ColourCount
    };

    explicit TSettingsForm(QWidget* owner = nullptr);

    // Each swatch its colour from the settings, in the order of TColour.
    void SetColours(const TColourSettings& settings);
    // After OK: the seven swatch colours back into the settings.
    void TakeColours(TColourSettings& settings) const;

    // The swatch buttons: the colour dialog opened at the swatch's colour; a
    // confirmed choice goes into the swatch, and nowhere else.
    void ChannelsFgdBtnClick() { SwatchButtonClick(ChannelsFgd); }
    void ChannelsBgdBtnClick() { SwatchButtonClick(ChannelsBgd); }
    void ChannelsFirstBtnClick() { SwatchButtonClick(ChannelsFirst); }
    void TemperaturesFgdBtnClick() { SwatchButtonClick(TemperaturesFgd); }
    void TemperaturesBgdBtnClick() { SwatchButtonClick(TemperaturesBgd); }
    void FFTFgdBtnClick() { SwatchButtonClick(FftFgd); }
    void FFTBgdBtnClick() { SwatchButtonClick(FftBgd); }

    // The colour dialog the buttons open; ChooseColour unless a test sets its own.
    void SetColourChooser(TColourChooser chooser) { chooser_ = std::move(chooser); }

    TSwatch* Swatch(TColour colour) const { return swatches_.at(colour); }
    QPushButton* SwatchButton(TColour colour) const { return buttons_.at(colour); }
    QPushButton* OKButton() const { return okButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }

  private:
    void BuildControls();
    void SwatchButtonClick(TColour colour);

    TColourChooser chooser_ = ChooseColour;
    std::array<TSwatch*, ColourCount> swatches_{};
    std::array<QPushButton*, ColourCount> buttons_{};
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};
