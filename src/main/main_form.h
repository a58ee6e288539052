// The main window: the shell that owns the link, the model and the pages,
// routes every decoded block to ProcessBlock and searches the baud rate while
// the digitizer is silent.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "digitizer/digitizer.h"
#include "main/control_page.h"
#include "main/graph_resources.h"
#include "main/model/block_time.h"
#include "main/model/channel_stats.h"
#include "main/model/number_format.h"
#include "main/model/settings.h"
#include "main/model/stream_format.h"
#include "main/model/temperature_history.h"

class QPushButton;
class QTabWidget;
class QTimer;
class TBlockHook;
class TChannelsPage;
class TGraphPage;
class TGpsPage;
class THeaderPage;
class TLed;

// What the command line decided before the window was built.
struct TStartOptions {
    std::string SettingsPath;
    std::optional<uint8_t> Port;  // a port number given on the command line
    std::string Device;           // a device path given on the command line; saved
    std::string SessionDevice;    // a device used for this run only (the simulator); not saved
};

extern const char* const MainCaption;

class TMainForm : public QMainWindow, public TControlHost {
    Q_OBJECT
  public:
    explicit TMainForm(const TStartOptions& options, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Event handlers and operations of the shell.
    void TimerTimer();
    void StartButtonClick();
    void StopButtonClick();
    void Reconnect(uint32_t baud) override;
    void EnableControlButtons(bool enabled);
    void ResetDisplays();
    void ProcessBlock(TDataBlock* block);
    // The visible page's refresh handler, when it has one: its bands repainted.
    void RefreshActivePage();
    // A new tab was shown: its refresh handler becomes the active one (none for
    // Header, GPS and Control).
    void PageControlChange(int index);
    // The window's preview of every key pressed in it, before the control with
    // the focus (which still gets the key): C, H, G, O, T and F show their
    // tabs; U, D, X and Z zoom and change the span of the visible graph page.
    // Keys with Ctrl, Alt or Meta are left to the controls and accelerators.
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    // The colour settings changed: pens, brushes and list colours made again,
    // the pages redrawn.
    void ColourSettingsChanged();
    // Shut-down in order: link, data files, histories, settings. Runs once.
    void FormDestroy();

    // Shows the "Failed to open comm" message through this function (a modal
    // box unless replaced, for example by tests).
    void SetMessageSink(std::function<void(const QString&)> sink) {
        messageSink_ = std::move(sink);
    }
    // Answers the Control page's Yes/No questions through this function (a
    // modal box unless replaced, for example by tests).
    void SetConfirmHook(std::function<bool(const QString&)> hook) {
        confirmHook_ = std::move(hook);
    }

    // What the Control page asks of the window.
    TDigitizer* ControlLink() override { return link_.get(); }
    void SetLinkWatchdog(int value) override { LinkWatchdog = value; }
    bool ConfirmCommand(const QString& text) override;

    TDigitizer* Link() const { return link_.get(); }
    TSettings& Settings() { return settings_; }
    const QString& SettingsPath() const { return settingsPath_; }
    int LinkWatchdog = 0;
    const TStreamFormat& Format() const { return format_; }
    const TBlockTime& BlockTime() const { return blockTime_; }
    const TTemperatureHistories& TemperatureHistories() const { return temperatures_; }
    const TChannelModel& Channels() const { return channels_; }
    QTimer* Timer() const { return timer_; }
    TLed* Led() const { return led_; }
    THeaderPage* HeaderPage() const { return headerPage_; }
    TGpsPage* GpsPage() const { return gpsPage_; }
    TChannelsPage* ChannelsPage() const { return channelsPage_; }
    TControlPage* ControlPage() const { return controlPage_; }
    QTabWidget* PageControl() const { return pageControl_; }

    // The tabs, in order.
    enum TTab { ChannelsTab, HeaderTab, GpsTab, ControlTab, TemperaturesTab, FftTab, TabCount };

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void ReportOpenFailure();
    std::string DevicePath() const;
    void ResetChannelHistories();
    void UpdateBlockTime(const TDataBlock& block, bool reset);
    TSettingsContext SettingsContext() const;
    void SaveSettingsFile();

    TSettings settings_;
    QString settingsPath_;
    std::string sessionDevice_;
    TNumberSeparators separators_;
    std::function<void(const QString&)> messageSink_;
    std::function<bool(const QString&)> confirmHook_;

    std::unique_ptr<TDigitizer> link_;
    TBlockHook* hook_ = nullptr;
    bool destroyed_ = false;

    // Stream format of the current and of the previous block.
    TStreamFormat format_;
    TStreamFormat previousFormat_;
    int samplesPerBlock_ = 0;
    std::array<int32_t, MaxChannels> gainFactor_{1, 1, 1, 1, 1, 1};
    TChannelModel channels_;
    TBlockTime blockTime_;
    std::array<double, 6> channelTemperature_{};
    TTemperatureHistories temperatures_;

    // Drawing shared by the graph pages; the graph page of each tab (none for
    // the others) and the visible one's, whose refresh handler is in force.
    TGraphResources graphResources_;
    std::array<TGraphPage*, TabCount> graphPages_{};
    TGraphPage* activePageRefresh_ = nullptr;

    TLed* led_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    QPushButton* dataFileButton_ = nullptr;
    QPushButton* uploadButton_ = nullptr;
    QPushButton* settingsButton_ = nullptr;
    QTabWidget* pageControl_ = nullptr;
    THeaderPage* headerPage_ = nullptr;
    TChannelsPage* channelsPage_ = nullptr;
    TControlPage* controlPage_ = nullptr;
    TGpsPage* gpsPage_ = nullptr;
    QTimer* timer_ = nullptr;
};
