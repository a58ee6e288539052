// The Control page: group boxes that each hold the controls of one digitizer
// setting and the button that queues the matching command on the link. The page
// reads nothing back; block processing sets its controls from the format that
// arriving blocks report.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>

#include "digitizer/digitizer.h"
#include "main/model/stream_format.h"

class QCheckBox;
class QPushButton;
class TRadioGroup;

// What the Control page needs of the main window.
class TControlHost {
  public:
    virtual ~TControlHost() = default;
    // The one link; never null.
    virtual TDigitizer* ControlLink() = 0;
    virtual void SetLinkWatchdog(int value) = 0;
    // Stops the link and starts it at `baud`, watchdog 4.
    virtual void Reconnect(uint32_t baud) = 0;
    // Yes/No question with the confirmation icon; true for Yes.
    virtual bool ConfirmCommand(const QString& text) = 0;
};

class TControlPage : public QWidget {
    Q_OBJECT
  public:
    explicit TControlPage(TControlHost& host, QWidget* parent = nullptr);

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
    QPushButton* MakeButton(const char* name, const QString& caption,
                            void (TControlPage::*handler)(), QWidget* parent);
    TDigitizer& Link() { return *host_.ControlLink(); }

    TControlHost& host_;
    bool commandsEnabled_ = true;

    std::array<QCheckBox*, 6> onChecks_{};
    std::array<QCheckBox*, 6> hiGainChecks_{};
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
