// The Control page: group boxes that each hold the controls of one digitizer
// setting and the button that queues the matching command on the link. The page
// reads nothing back; block processing sets its controls from the format that
// arriving blocks report.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>

#include "digitizer/data_block.h"
#include "digitizer/stream_format.h"
#include "main/monitor_page.h"

class QCheckBox;
class QPushButton;
class TDigitizer;
class TLinkSession;
class TMonitorModel;
class TPrompts;
class TRadioGroup;

class TControlPage : public QWidget, public TMonitorPage {
    Q_OBJECT
  public:
    TControlPage(TMonitorModel& model, TLinkSession& session, const TPrompts& prompts,
                 QWidget* parent = nullptr);

    // TMonitorPage: the controls follow each new format.
    void FormatChanged() override;

    // The thirteen command buttons together (Start enables, Stop disables).
    void EnableCommandButtons(bool enabled);
    // Sets the radio groups and check boxes from a block's format (baud rate,
    // channels, gains, sample rate, filter, bytes per sample); sends nothing.
    void SyncControlPage(const TStreamFormat& format);

    // The channel flags of "$SC" as the boxes stand, enabled or not.
    uint16_t ChannelFlags() const;

  public slots:
    void SRButtonClick();
    void CAButtonClick();
    void CPButtonClick();
    void BAButtonClick();
    void NBButtonClick();
    void SCButtonClick();
    void FTButtonClick();
    void LIButtonClick();
    void SPButtonClick();
    void RomWriteButtonClick();
    void RomDefButtonClick();
    void EnhancedOnButtonClick();
    void EnhancedOffButtonClick();
    // Keeps the enabled channels contiguous from channel 1 and each high-gain
    // box tied to its channel.
    void UpdateChannelChecks();
    void LineOnCheckClick();

  private:
    void BuildControls();
    QPushButton* MakeCommandButton(const char* name, const QString& caption,
                                   void (TControlPage::*handler)(), QWidget* parent);
    TDigitizer& Link();
    // After a command that interrupts the digitizer's data.
    void AwaitNewData();

    TMonitorModel& model_;  // told of the calibrations sent
    TLinkSession& session_;
    const TPrompts& prompts_;
    bool commandsEnabled_ = true;

    std::array<QCheckBox*, MaxChannels> onChecks_{};
    std::array<QCheckBox*, MaxChannels> hiGainChecks_{};
    QCheckBox* lineOnCheck_ = nullptr;
    QCheckBox* gpsPsuCheck_ = nullptr;
    QCheckBox* sensorPsuCheck_ = nullptr;

    TRadioGroup* lineFrequencyGroup_ = nullptr;
    TRadioGroup* rateGroup_ = nullptr;
    TRadioGroup* calGroup_ = nullptr;
    TRadioGroup* baudGroup_ = nullptr;
    TRadioGroup* bytesPerGroup_ = nullptr;
    TRadioGroup* filterGroup_ = nullptr;
    TRadioGroup* pllGroup_ = nullptr;

    QPushButton* scButton_ = nullptr;
    std::array<QPushButton*, 13> commandButtons_{};
};
