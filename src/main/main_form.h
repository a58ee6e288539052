// The main window: the shell that owns the link session, the monitor model and
// the pages, routes every decoded block to ProcessBlock, and hands the keys
// and buttons of the window to the page or the session they concern.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "digitizer/digitizer.h"
#include "main/graph_resources.h"
#include "main/prompts.h"
#include "monitor/monitor_model.h"

class QPushButton;
class QTabWidget;
class QTimer;
class TBlockHook;
class TChannelsPage;
class TControlPage;
class TEventsPage;
class TFftPage;
class TGpsPage;
class THeaderPage;
class THelicorderPage;
class TLed;
class TLinkSession;
class TMonitorPage;
class TTimeFrequencyPage;
class TTemperaturesPage;
class TUploadDlg;

// What the command line decided before the window was built.
struct TStartOptions {
    std::string SettingsPath;
    std::optional<uint8_t> Port;  // a port number given on the command line
    std::string Device;           // a device path given on the command line; saved
    std::string SessionDevice;    // a device used for this run only (the simulator); not saved
    // Switches the built-in simulator off and on when the upload's power-cycle prompt is
    // answered OK; none for a real digitizer.
    std::function<void()> PowerCycle;
};

extern const char* const MainCaption;

class TMainForm : public QMainWindow {
    Q_OBJECT
  public:
    explicit TMainForm(const TStartOptions& options, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Event handlers and operations of the shell.
    void TimerTimer();
    void StartButtonClick();
    void StopButtonClick();
    // The data file dialog (FILES_FEATURE builds only): the recording options,
    // taken over and saved at once after OK, which only a stopped link allows.
    void DataFileButtonClick();
    // The colour settings dialog; after OK its colours are taken over and
    // shown at once, and saved with the settings file.
    void SettingsButtonClick();
    // The About box.
    void AboutButtonClick();
    // The upload dialog on the stopped link; afterwards the link is left stopped and
    // ready to monitor at the next Start.
    void UploadButtonClick();
    void Reconnect(uint32_t baud);
    void EnableControlButtons(bool enabled);
    void ResetDisplays();
    void ProcessBlock(TDataBlock* block);
    // The visible page's repaint (graph pages only).
    void RefreshActivePage();
    // A new tab was shown: its page becomes the one repainted.
    void PageControlChange(int index);
    // The window's preview of every key pressed in it, before the control with
    // the focus (which still gets the key): C, H, G, O, T, F and P show their
    // tabs, E the Events and L the Helicorder; U, D, X and Z zoom and change the span of the
    // visible graph page. Keys with Ctrl, Alt or Meta are left to the controls and accelerators.
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    // The colour settings changed: pens, brushes and list colours made again,
    // the pages redrawn.
    void ColourSettingsChanged();
    // Shut-down in order: link, data files, histories, settings. Runs once.
    void FormDestroy();

    // The message boxes and questions of the window and its pages.
    TPrompts& Prompts() { return prompts_; }
    TLinkSession& Session() { return *session_; }
    TDigitizer* Link() const;
    const TMonitorModel& Model() const { return model_; }
    TMonitorModel& Model() { return model_; }
    const QString& SettingsPath() const { return settingsPath_; }
    QTimer* Timer() const;
    TLed* Led() const { return led_; }
    THeaderPage* HeaderPage() const { return headerPage_; }
    TGpsPage* GpsPage() const { return gpsPage_; }
    TChannelsPage* ChannelsPage() const { return channelsPage_; }
    TControlPage* ControlPage() const { return controlPage_; }
    TTemperaturesPage* TemperaturesPage() const { return temperaturesPage_; }
    TFftPage* FftPage() const { return fftPage_; }
    TTimeFrequencyPage* SpectrogramPage() const { return spectrogramPage_; }
    TEventsPage* EventsPage() const { return eventsPage_; }
    THelicorderPage* HelicorderPage() const { return helicorderPage_; }
    QTabWidget* PageControl() const { return pageControl_; }

    // The tabs, in order.
    enum TTab {
        ChannelsTab,
        HeaderTab,
        GpsTab,
        ControlTab,
        TemperaturesTab,
        FftTab,
        SpectrogramTab,
        EventsTab,
        HelicorderTab,
        TabCount
    };

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildControls();
    // The smallest window at which every page shows its controls and six channels of figures
    // at the current font: the largest of the pages' minimum sizes, with what surrounds a
    // page (the tab bar, the buttons, the margins). Run once the pages' controls are shown.
    void FitMinimumSize();
    void ReportOpenFailure();
    // The buttons of a stopped link: Start and Upload on, Stop and the commands off.
    void ShowStopped();
    std::string DevicePath() const;
    TMonitorPage* PageOfTab(int index) const;
    TSettingsContext SettingsContext() const;
    void SaveSettingsFile();
    // What recording had to say after a flush outside the block processing:
    // reports as warnings that do not block (or, with the window going, on
    // standard error only), notices on standard error.
    void ShowRecordingNews(const std::vector<std::string>& reports,
                           const std::vector<std::string>& notices, bool windowGoing = false);

    QString settingsPath_;
    std::string sessionDevice_;
    TMonitorModel model_;
    TPrompts prompts_;
    TGraphResources graphResources_;

    TLinkSession* session_ = nullptr;
    TBlockHook* hook_ = nullptr;
    bool destroyed_ = false;
    std::function<void()> powerCycle_;
    // The upload dialog while it is shown, and a close of the window that waits for it.
    TUploadDlg* uploadDlg_ = nullptr;
    bool closePending_ = false;

    // The page of each tab, none for a tab without one; the visible one is repainted.
    std::array<TMonitorPage*, TabCount> pages_{};
    TMonitorPage* activePage_ = nullptr;

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
    TTemperaturesPage* temperaturesPage_ = nullptr;
    TFftPage* fftPage_ = nullptr;
    TTimeFrequencyPage* spectrogramPage_ = nullptr;
    TEventsPage* eventsPage_ = nullptr;
    THelicorderPage* helicorderPage_ = nullptr;
};
